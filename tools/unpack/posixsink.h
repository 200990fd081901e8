// Writes extracted entries below a root directory with POSIX calls: every
// path component is opened relative to its parent without following links,
// nothing is written through a symbolic link, and what was created can be
// removed again. Each file is written under a temporary name beside its
// target and renamed into place only after its CRC was checked, so a file
// that was there before is either replaced by a checked one or left as it was.
#pragma once

#include "sevenzip.h"

#include <string>
#include <vector>

namespace quillon::unpack {

class PosixSink : public sevenzip::Sink
{
public:
    explicit PosixSink(std::string root);
    ~PosixSink() override;
    PosixSink(const PosixSink &) = delete;
    PosixSink &operator=(const PosixSink &) = delete;

    // Opens (creating when missing) the root directory.
    bool open();
    bool directory(const sevenzip::Entry &entry) override;
    bool beginFile(const sevenzip::Entry &entry) override;
    bool write(const std::uint8_t *data, std::size_t size) override;
    bool endFile(const sevenzip::Entry &entry) override;
    // Applies directory times (after their content was written).
    bool finish();
    // Removes every file and directory this sink created, newest first.
    void removeCreated();
    const std::string &lastError() const { return m_error; }

private:
    int openParent(const std::string &path, std::string &leaf);
    bool fail(const std::string &what);
    // Closes the file being written and removes its temporary name.
    void closeFile();

    std::string m_root;
    int m_rootFd = -1;
    int m_fd = -1;          // the temporary file
    int m_parentFd = -1;    // its folder
    std::string m_temp;     // its name in m_parentFd
    std::string m_leaf;     // the target's name in m_parentFd
    bool m_existed = false; // the target was there before
    std::string m_current;
    std::vector<std::pair<std::string, bool>> m_created; // path, is directory
    std::vector<sevenzip::Entry> m_directories;
    std::string m_error;
};

} // namespace quillon::unpack
