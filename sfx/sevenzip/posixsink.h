// Writes extracted entries below a root directory with POSIX calls: every
// path component is opened relative to its parent without following links,
// nothing is written through a symbolic link, and what was created can be
// removed again. Each file is written under a temporary name beside its
// target and renamed into place only after its CRC was checked, so a file
// that was there before is either replaced by a checked one or left as it was;
// into a new private root, where nothing can be replaced, files are written
// under their own names instead (and removed again when their CRC fails).
// quillon-unpack and the host launcher extract through it.
#pragma once

#include "sevenzip.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace quillon::sevenzip {

class PosixSink : public Sink
{
public:
    enum class Access
    {
        AsStored,  // new folders 0777, files 0666 (less the umask), stored modes as they are
        OwnerOnly, // new folders 0700, files 0600, stored modes keep the owner's read and write
    };

    enum class Placement
    {
        Replace, // temporary name, renamed over what is there once checked
        NewOnly, // the file's own name, which must not exist yet
    };

    explicit PosixSink(std::string root, Access access = Access::AsStored,
                       Placement placement = Placement::Replace);
    ~PosixSink() override;
    PosixSink(const PosixSink &) = delete;
    PosixSink &operator=(const PosixSink &) = delete;

    // Opens (creating when missing) the root directory.
    bool open();
    bool directory(const Entry &entry) override;
    bool beginFile(const Entry &entry) override;
    bool write(const std::uint8_t *data, std::size_t size) override;
    bool endFile(const Entry &entry) override;
    // Applies directory times (after their content was written).
    bool finish();
    // Removes every file and directory this sink created, newest first.
    void removeCreated();
    const std::string &lastError() const { return m_error; }

private:
    // The folder holding `path`, owned by the sink (the last one is kept
    // open for the next entry); -1 on failure.
    int parentOf(const std::string &path, std::string &leaf);
    int openParent(const std::string &path, std::string &leaf);
    bool createFile(int parent, const std::string &leaf, const std::string &path);
    mode_t folderMode() const;
    bool fail(const std::string &what);
    // Closes the file being written and removes its temporary name.
    void closeFile();

    std::string m_root;
    Access m_access;
    Placement m_placement;
    mode_t m_umask = 0;
    std::string m_tempStem; // ".quillon-<pid>-"
    int m_rootFd = -1;
    int m_fd = -1;        // the file being written
    int m_parentFd = -1;  // its folder (m_folderFd, not owned)
    std::string m_folder; // the folder m_folderFd holds, relative to the root
    int m_folderFd = -1;
    std::string m_temp;     // the name being written in m_parentFd
    std::string m_leaf;     // the target's name in m_parentFd
    bool m_existed = false; // the target was there before
    std::string m_current;
    std::vector<std::pair<std::string, bool>> m_created; // path, is directory
    std::vector<Entry> m_directories;
    std::string m_error;
};

} // namespace quillon::sevenzip
