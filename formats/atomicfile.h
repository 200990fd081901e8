// Writes a whole file so that readers see either the old or the new bytes:
// a temporary file in the same directory, flushed, then renamed over the
// target. Plain C++ (no Qt).
#pragma once

#include "bytereader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Writes `bytes` to `path` through a temporary file in the same directory and
// a rename, so the target is never left half-written.
Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes);

struct AtomicWriteOptions
{
    // A symbolic link at `path`: replace the file it points at, or (false)
    // the link itself.
    bool followLink = true;
    // POSIX permission bits of the new file; negative keeps those of the file
    // it replaces (a new file gets 0666 less the umask). Not used on Windows.
    int mode = -1;
};

// The same, also giving the system's error number of a failure (errno, or
// GetLastError() on Windows; 0 on success).
Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                          int &systemError, const AtomicWriteOptions &options = {});

} // namespace quillon
