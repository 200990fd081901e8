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

// The same written piece by piece: open(), write() as often as needed, then
// commit() moves the temporary file onto the target once every byte is
// flushed (flush() alone tells a failing disk from a target that cannot be
// replaced). A file not committed is removed (discard(), or the destructor);
// the target is then left as it was. A target that is neither a regular file
// nor a link (a device, a pipe) is refused at open(), never replaced. Each call
// gives the system's error number of a failure in `systemError`.
class AtomicFile
{
public:
    AtomicFile(std::string path, const AtomicWriteOptions &options = {});
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    Error open(int &systemError);
    Error write(const std::uint8_t *data, std::size_t size, int &systemError);
    Error flush(int &systemError);
    Error commit(int &systemError);
    void discard();

    // Bytes written so far.
    std::uint64_t size() const { return m_written; }

private:
    std::string m_path;
    AtomicWriteOptions m_options;
    std::string m_target; // the file replaced (the link's target when followed)
    std::string m_temp;
    std::intptr_t m_file = -1;
    int m_mode = -1;
    bool m_flushed = false;
    std::uint64_t m_written = 0;
};

} // namespace quillon
