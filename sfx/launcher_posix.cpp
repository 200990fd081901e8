// POSIX platform layer of the host launcher.
#include "launcher.h"
#include "posixsink.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace quillon::sfx {
namespace {

std::string errnoText(int code)
{
    return std::strerror(code);
}

volatile sig_atomic_t g_child = 0;

// kill() may set errno: the interrupted code's errno is kept.
void forwardSignal(int sig)
{
    const int saved = errno;
    if (g_child > 0)
        ::kill(static_cast<pid_t>(g_child), sig);
    errno = saved;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    // FTW_PHYS reports links as links: remove() then deletes the link itself.
    return ::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

} // namespace

namespace platform {

std::unique_ptr<Input> openInput(const NativeString &path)
{
    return openFileInput(path);
}

NativeString tempBase()
{
    const char *dir = std::getenv("TMPDIR");
    std::string base = dir && *dir ? dir : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base;
}

bool freeSpace(const NativeString &dir, std::uint64_t &bytes)
{
    struct statvfs st;
    if (::statvfs(dir.c_str(), &st) != 0)
        return false;
    bytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

std::unique_ptr<sevenzip::Sink> makeSink(Context &ctx, const NativeString &root)
{
    // The root is the run's new private folder: nothing there to replace.
    auto sink = std::make_unique<sevenzip::PosixSink>(root, sevenzip::PosixSink::Access::OwnerOnly,
                                                      sevenzip::PosixSink::Placement::NewOnly);
    // A root that cannot be opened fails the first entry, and with it the extraction.
    if (!sink->open())
        trace(ctx, sink->lastError());
    return sink;
}

bool runProgram(Context &ctx, const std::string &relativeExe, int &exitCode, std::string &error)
{
    const std::string path = ctx.root + "/" + relativeExe;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    if ((st.st_mode & S_IXUSR) == 0)
        ::chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR);

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (auto &arg : ctx.arguments)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The child reports a failed exec through this pipe; success closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        error = errnoText(errno);
        return false;
    }
#ifdef __linux__
    // Orphans of the program become our children, so we can wait for them too.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
#endif
    const pid_t pid = ::fork();
    if (pid < 0) {
        error = errnoText(errno);
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (pid == 0) {
        int code = 0;
        if (::chdir(ctx.root.c_str()) != 0)
            code = errno;
        else {
            ::execv(path.c_str(), argv.data());
            code = errno;
        }
        ssize_t ignored = ::write(report[1], &code, sizeof code);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    g_child = pid;
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    const int forwarded[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (const int sig : forwarded)
        ::sigaction(sig, &action, nullptr);

    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    // The program runs: the sweep costs it no time.
    if (got == 0)
        startSweep(ctx);

    int status = 0;
    pid_t waited;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    g_child = 0;
    // Wait for whatever the program left running (reparented to us).
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
    }
    finishSweep(ctx);

    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        error = errnoText(childErrno);
        return false;
    }
    if (waited < 0) {
        error = errnoText(errno);
        return false;
    }
    if (WIFEXITED(status))
        exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exitCode = 128 + WTERMSIG(status);
    else
        exitCode = kLauncherFailure;
    return true;
}

bool removeTree(const Context &, const NativeString &root)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (::nftw(root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) == 0)
            return true;
        struct stat st;
        if (::lstat(root.c_str(), &st) != 0 && errno == ENOENT)
            return true;
    }
    return false;
}

void showError(const Context &ctx, const std::string &title, const std::string &message)
{
    (void)ctx;
    std::fprintf(stderr, "%s: %s\n", title.c_str(), message.c_str());
}

void writeTrace(const Context &ctx, const std::string &line)
{
    if (ctx.traceFile.empty()) {
        std::fprintf(stderr, "quillon-sfx: %s\n", line.c_str());
        return;
    }
    if (FILE *file = std::fopen(ctx.traceFile.c_str(), "a")) {
        std::fprintf(file, "quillon-sfx: %s\n", line.c_str());
        std::fclose(file);
    }
}

} // namespace platform
} // namespace quillon::sfx
