#include "posixsink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon::sevenzip {
namespace {

constexpr std::uint32_t kUnixExtension = 0x8000;
constexpr std::int64_t kFiletimeUnixEpoch = 116444736000000000LL; // 1970 in FILETIME units

timespec toTimespec(std::uint64_t filetime)
{
    const std::int64_t since1970 = static_cast<std::int64_t>(filetime) - kFiletimeUnixEpoch;
    std::int64_t seconds = since1970 / 10000000;
    std::int64_t rest = since1970 % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

std::string errnoText()
{
    return std::strerror(errno);
}

} // namespace

PosixSink::PosixSink(std::string root, Access access, Placement placement)
    : m_root(std::move(root)), m_access(access), m_placement(placement),
      m_tempStem(".quillon-" + std::to_string(static_cast<long>(::getpid())) + "-")
{
    m_umask = ::umask(0);
    ::umask(m_umask);
}

mode_t PosixSink::folderMode() const
{
    return m_access == Access::OwnerOnly ? 0700 : 0777;
}

PosixSink::~PosixSink()
{
    closeFile();
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    if (m_rootFd >= 0)
        ::close(m_rootFd);
}

bool PosixSink::fail(const std::string &what)
{
    m_error = what;
    return false;
}

void PosixSink::closeFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_parentFd >= 0 && !m_temp.empty())
        ::unlinkat(m_parentFd, m_temp.c_str(), 0);
    m_parentFd = -1;
    m_temp.clear();
}

bool PosixSink::open()
{
    // The root is the user's choice: create it and its parents when missing.
    std::string prefix;
    std::size_t pos = 0;
    while (pos <= m_root.size()) {
        std::size_t next = m_root.find('/', pos);
        if (next == std::string::npos)
            next = m_root.size();
        prefix = m_root.substr(0, next);
        if (!prefix.empty() && ::mkdir(prefix.c_str(), folderMode()) == 0)
            m_created.emplace_back(prefix, true);
        else if (!prefix.empty() && errno != EEXIST)
            return fail("cannot create " + prefix + ": " + errnoText());
        pos = next + 1;
    }
    m_rootFd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_rootFd < 0)
        return fail("cannot open " + m_root + ": " + errnoText());
    return true;
}

// Opens the directory holding `path` (relative to the root), creating the
// missing levels; never follows a symbolic link. -1 on failure.
int PosixSink::openParent(const std::string &path, std::string &leaf)
{
    int fd = ::dup(m_rootFd);
    std::size_t pos = 0;
    for (;;) {
        const std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) {
            leaf = path.substr(pos);
            return fd;
        }
        const std::string part = path.substr(pos, slash - pos);
        int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT) {
            if (::mkdirat(fd, part.c_str(), folderMode()) == 0)
                m_created.emplace_back(m_root + "/" + path.substr(0, slash), true);
            next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            fail("cannot open folder " + path.substr(0, slash) + " (" + errnoText() +
                 "; links are not followed)");
            ::close(fd);
            return -1;
        }
        ::close(fd);
        fd = next;
        pos = slash + 1;
    }
}

int PosixSink::parentOf(const std::string &path, std::string &leaf)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
    if (m_folderFd >= 0 && folder == m_folder) {
        leaf = path.substr(slash == std::string::npos ? 0 : slash + 1);
        return m_folderFd;
    }
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = openParent(path, leaf);
    m_folder = m_folderFd >= 0 ? folder : std::string();
    return m_folderFd;
}

bool PosixSink::directory(const Entry &entry)
{
    std::string leaf;
    const int parent = parentOf(entry.path, leaf);
    if (parent < 0)
        return false;
    bool ok = true;
    if (::mkdirat(parent, leaf.c_str(), folderMode()) == 0) {
        m_created.emplace_back(m_root + "/" + entry.path, true);
    } else {
        struct stat st
        {
        };
        if (errno != EEXIST || ::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode))
            ok = fail("cannot create folder " + entry.path);
    }
    if (ok)
        m_directories.push_back(entry);
    return ok;
}

bool PosixSink::beginFile(const Entry &entry)
{
    closeFile();
    std::string leaf;
    const int parent = parentOf(entry.path, leaf);
    if (parent < 0)
        return false;
    bool existed = false;
    if (m_placement == Placement::Replace) {
        struct stat st
        {
        };
        if (::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            existed = true;
            if (S_ISLNK(st.st_mode))
                return fail("refusing to write through the symbolic link " + entry.path);
            if (!S_ISREG(st.st_mode))
                return fail("cannot replace " + entry.path + ": not a regular file");
        }
    }
    if (!createFile(parent, leaf, entry.path))
        return false;
    m_parentFd = parent;
    m_leaf = leaf;
    m_existed = existed;
    m_current = entry.path;
    return true;
}

// O_EXCL: never opens or replaces anything that is there. A temporary name
// is ".<name>.quillon-<pid>-<n>", hidden.
bool PosixSink::createFile(int parent, const std::string &leaf, const std::string &path)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const mode_t mode = m_access == Access::OwnerOnly ? 0600 : 0666;
    if (m_placement == Placement::NewOnly) {
        m_fd = ::openat(parent, leaf.c_str(), flags, mode);
        if (m_fd >= 0)
            m_temp = leaf;
    } else {
        static unsigned counter = 0;
        const std::string stem = "." + leaf.substr(0, 200) + m_tempStem;
        for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
            const std::string name = stem + std::to_string(counter++);
            m_fd = ::openat(parent, name.c_str(), flags, mode);
            if (m_fd >= 0)
                m_temp = name;
            else if (errno != EEXIST)
                break;
        }
    }
    if (m_fd < 0)
        return fail("cannot create " + path + ": " + errnoText());
    return true;
}

bool PosixSink::write(const std::uint8_t *data, std::size_t size)
{
    while (size) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail("cannot write " + m_current + ": " + errnoText());
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PosixSink::endFile(const Entry &entry)
{
    bool ok = true;
    if (entry.hasAttributes && (entry.attributes & kUnixExtension)) {
        auto mode = static_cast<mode_t>((entry.attributes >> 16) & 0777);
        if (m_access == Access::OwnerOnly)
            mode |= S_IRUSR | S_IWUSR;
        const mode_t created = m_access == Access::OwnerOnly ? 0600 : (0666 & ~m_umask);
        if (mode != created)
            ::fchmod(m_fd, mode);
    }
    if (entry.hasModificationTime) {
        const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(entry.modificationTime)};
        ::futimens(m_fd, times);
    }
    if (::close(m_fd) != 0)
        ok = fail("cannot write " + entry.path + ": " + errnoText());
    m_fd = -1;
    // The CRC was checked: the file takes its place. renameat() replaces the
    // name itself, never what a link there points to.
    if (ok && m_temp != m_leaf &&
        ::renameat(m_parentFd, m_temp.c_str(), m_parentFd, m_leaf.c_str()) != 0)
        ok = fail("cannot replace " + entry.path + ": " + errnoText());
    if (ok) {
        m_temp.clear();
        if (!m_existed)
            m_created.emplace_back(m_root + "/" + entry.path, false);
    }
    closeFile();
    return ok;
}

bool PosixSink::finish()
{
    for (auto it = m_directories.rbegin(); it != m_directories.rend(); ++it) {
        if (!it->hasModificationTime)
            continue;
        std::string leaf;
        const int parent = openParent(it->path, leaf);
        if (parent < 0)
            return false;
        const timespec times[2] = {{0, UTIME_OMIT}, toTimespec(it->modificationTime)};
        ::utimensat(parent, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
        ::close(parent);
    }
    return true;
}

void PosixSink::removeCreated()
{
    closeFile();
    // unlink() and rmdir() never follow a link in their last component.
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) {
        if (it->second)
            ::rmdir(it->first.c_str());
        else
            ::unlink(it->first.c_str());
    }
    m_created.clear();
}

} // namespace quillon::sevenzip
