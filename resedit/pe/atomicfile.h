// Writes a whole file so that readers see either the old or the new bytes:
// a temporary file in the same directory, flushed, then renamed over the
// target. Plain C++ (no Qt).
#pragma once

#include "bytereader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::pe {

// Writes `bytes` to `path` through a temporary file in the same directory and
// a rename, so the target is never left half-written.
Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes);

// The same, also giving the system's error number of a failure (errno, or
// GetLastError() on Windows; 0 on success).
Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                          int &systemError);

} // namespace quillon::pe
