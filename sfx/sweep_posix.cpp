// POSIX host launcher: the lock that shows a run is alive, and the sweep of
// the private directories earlier runs left behind.
//
// A run's lock is "<root>.lock" beside its directory, flock()ed for as long
// as the launcher lives. The program inherits the descriptor, so the lock
// stays held while anything the program started still keeps it open.
#include "launcher.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace quillon::sfx {
namespace {

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool readLink(const std::string &path, std::string &target)
{
    char buffer[4096];
    const ssize_t len = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (len <= 0 || static_cast<std::size_t>(len) >= sizeof buffer)
        return false;
    target.assign(buffer, static_cast<std::size_t>(len));
    return true;
}

// The programs and working directories of every process we can see.
std::vector<std::string> processPaths()
{
    std::vector<std::string> paths;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return paths;
    while (const dirent *entry = ::readdir(proc)) {
        const char *name = entry->d_name;
        if (*name < '0' || *name > '9')
            continue;
        std::string target;
        const std::string dir = std::string("/proc/") + name;
        if (readLink(dir + "/exe", target))
            paths.push_back(target);
        if (readLink(dir + "/cwd", target))
            paths.push_back(target);
    }
    ::closedir(proc);
    return paths;
}

bool isBelow(const std::string &path, const std::string &dir)
{
    return path.compare(0, dir.size(), dir) == 0 &&
           (path.size() == dir.size() || path[dir.size()] == '/');
}

std::atomic<bool> g_stop{false};

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    if (g_stop)
        return 1;
    // FTW_PHYS reports links as links: remove() then deletes the link itself.
    return ::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

class Sweep
{
public:
    // What the sweep needs of the run, copied: the run goes on meanwhile.
    explicit Sweep(const Context &ctx)
    {
        m_ctx.trace = ctx.trace;
        m_ctx.traceFile = ctx.traceFile;
        m_ctx.base = ctx.base;
        m_ctx.lockPath = ctx.lockPath;
    }

    void run()
    {
        DIR *dir = ::opendir(m_ctx.base.c_str());
        if (!dir)
            return;
        std::vector<std::string> folders;
        while (const dirent *entry = ::readdir(dir)) {
            std::string found = runFolderOfLock(entry->d_name);
            if (!found.empty())
                folders.push_back(std::move(found));
        }
        ::closedir(dir);
        for (const auto &name : folders) {
            if (g_stop)
                return note("stopped: the run is over");
            folder(name);
        }
    }

    void folder(const std::string &folderName)
    {
        const std::string dir = m_ctx.base + "/" + folderName;
        const std::string lockPath = dir + kRunLockSuffix;
        if (lockPath == m_ctx.lockPath)
            return;
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return;
        decide(fd, dir, lockPath);
        ::close(fd);
    }

private:
    void note(const std::string &line) const
    {
        if (m_ctx.trace)
            trace(m_ctx, "sweep: " + line);
    }

    void decide(int fd, const std::string &dir, const std::string &lockPath)
    {
        struct stat lockInfo;
        if (::fstat(fd, &lockInfo) != 0 || !S_ISREG(lockInfo.st_mode) ||
            lockInfo.st_uid != ::geteuid() || lockInfo.st_nlink != 1)
            return note(lockPath + " is not a lock of ours, left");
        // Held by a live launcher, or by a program it started.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return note(dir + " belongs to a live run, left");
        char buffer[kRunLockMaxSize + 1];
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
        const std::string text(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
        if (!isRunLockText(text))
            return note(lockPath + " is not a lock of ours, left");

        struct stat dirInfo;
        if (::lstat(dir.c_str(), &dirInfo) != 0) {
            if (errno == ENOENT)
                removeLock(lockPath, lockInfo);
            return;
        }
        if (!S_ISDIR(dirInfo.st_mode) || dirInfo.st_uid != ::geteuid() ||
            text != runLockText(static_cast<std::uint64_t>(dirInfo.st_dev),
                                static_cast<std::uint64_t>(dirInfo.st_ino)))
            return note(dir + " is not a folder of ours, left");
        if (runsFrom(dir))
            return note(dir + " is in use by a program, left");
        const bool removed = ::nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0;
        if (!removed)
            return note("could not remove " + dir + " completely");
        note("removed " + dir);
        removeLock(lockPath, lockInfo);
    }

    bool runsFrom(const std::string &dir)
    {
        if (!m_scanned) {
            m_paths = processPaths();
            m_scanned = true;
        }
        return std::any_of(m_paths.begin(), m_paths.end(),
                           [&dir](const std::string &path) { return isBelow(path, dir); });
    }

    // Only the lock we hold: a new run may have taken the name meanwhile.
    void removeLock(const std::string &lockPath, const struct stat &held)
    {
        struct stat now;
        if (::lstat(lockPath.c_str(), &now) == 0 && sameFile(now, held))
            ::unlink(lockPath.c_str());
    }

    Context m_ctx;
    bool m_scanned = false;
    std::vector<std::string> m_paths;
};

// How long a sweep may go on once the program has ended.
constexpr int kSweepGraceMs = 2000;
Sweep *g_sweep = nullptr;
pthread_t g_thread;
std::atomic<bool> g_done{false};

void *sweepThread(void *sweep)
{
#ifdef __linux__
    // This thread only: lowest CPU priority, disk time only when idle.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    constexpr int kIoprioWhoProcess = 1, kIoprioClassIdle = 3, kIoprioClassShift = 13;
    ::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift);
#endif
    static_cast<Sweep *>(sweep)->run();
    g_done = true;
    return nullptr;
}

} // namespace

namespace platform {

bool makePrivateDirectory(Context &ctx, const NativeString &base, std::string &error)
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string dir = base + "/qsfx-XXXXXX";
        if (!::mkdtemp(dir.data())) { // mode 0700
            error = std::strerror(errno);
            return false;
        }
        // The lock is made and held inside the new directory, then linked
        // beside it: it is never seen unheld under its own name. Not
        // close-on-exec, so that the program inherits it.
        const std::string inner = dir + "/.qsfx-lock";
        const int fd = ::open(inner.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (fd < 0) {
            ctx.root = dir;
            trace(ctx, "no run lock: " + std::string(std::strerror(errno)));
            return true;
        }
        struct stat dirInfo;
        const std::string text = ::lstat(dir.c_str(), &dirInfo) == 0
                                     ? runLockText(static_cast<std::uint64_t>(dirInfo.st_dev),
                                                   static_cast<std::uint64_t>(dirInfo.st_ino))
                                     : std::string();
        const bool locked =
            !text.empty() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        const std::string lockPath = dir + kRunLockSuffix;
        const bool linked = locked && ::link(inner.c_str(), lockPath.c_str()) == 0;
        const int linkError = errno;
        ::unlink(inner.c_str());
        if (linked) {
            ctx.root = dir;
            ctx.lockPath = lockPath;
            ctx.lock = fd;
            return true;
        }
        ::close(fd);
        if (locked && linkError == EEXIST) {
            // A lock left by an earlier run of the same name: another name.
            ::rmdir(dir.c_str());
            continue;
        }
        ctx.root = dir;
        trace(ctx, "no run lock: " + std::string(std::strerror(linkError)));
        return true;
    }
    error = "no unused name found";
    return false;
}

void releaseRunLock(Context &ctx, bool folderGone)
{
    if (ctx.lock < 0)
        return;
    if (folderGone)
        ::unlink(ctx.lockPath.c_str());
    ::close(static_cast<int>(ctx.lock));
    ctx.lock = -1;
    ctx.lockPath.clear();
}

void startSweep(const Context &ctx)
{
    g_sweep = new Sweep(ctx);
    g_stop = false;
    g_done = false;
    if (::pthread_create(&g_thread, nullptr, sweepThread, g_sweep) != 0) {
        delete g_sweep;
        g_sweep = nullptr;
    }
}

void finishSweep(const Context &)
{
    if (!g_sweep)
        return;
    for (int waited = 0; waited < kSweepGraceMs && !g_done; waited += 10)
        ::usleep(10 * 1000);
    g_stop = true;
    ::pthread_join(g_thread, nullptr);
    delete g_sweep;
    g_sweep = nullptr;
}

} // namespace platform
} // namespace quillon::sfx
