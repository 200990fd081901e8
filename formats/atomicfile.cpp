#include "atomicfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillon {

Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    int systemError = 0;
    return writeFileAtomically(path, bytes, systemError);
}

Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                          int &systemError, const AtomicWriteOptions &options)
{
    namespace fs = std::filesystem;
    systemError = 0;
    std::error_code ec;
    fs::path target = fs::u8path(path);
    if (options.followLink && fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    static std::atomic<unsigned> counter{0};
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path temp = target;
    temp += ".tmp" + std::to_string(stamp % 1000000007ull) + "_" + std::to_string(++counter);

#ifdef _WIN32
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        systemError = static_cast<int>(GetLastError());
        return Error(ErrorKind::Io, 0, "cannot create a temporary file next to " + path);
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            ok = false;
            break;
        }
        done += written;
    }
    if (ok && !FlushFileBuffers(file))
        ok = false;
    if (!ok)
        systemError = static_cast<int>(GetLastError());
    CloseHandle(file);
    if (ok && !MoveFileExW(temp.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        systemError = static_cast<int>(GetLastError());
        ok = false;
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return Error(ErrorKind::Io, done, "cannot write " + path);
    }
    return Error();
#else
    struct stat info
    {
    };
    int mode = options.mode;
    if (mode < 0 && ::stat(target.c_str(), &info) == 0)
        mode = static_cast<int>(info.st_mode & 07777);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          mode >= 0 ? static_cast<mode_t>(mode) : 0666);
    if (fd < 0) {
        systemError = errno;
        return Error(ErrorKind::Io, 0,
                     "cannot create a temporary file next to " + path + ": " +
                         std::strerror(systemError));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            systemError = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (systemError == 0 && mode >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) != 0)
        systemError = errno;
    if (systemError == 0 && ::fsync(fd) != 0)
        systemError = errno;
    if (::close(fd) != 0 && systemError == 0)
        systemError = errno;
    if (systemError == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        systemError = errno;
    if (systemError != 0) {
        ::unlink(temp.c_str());
        return Error(ErrorKind::Io, done,
                     "cannot write " + path + ": " + std::strerror(systemError));
    }
    return Error();
#endif
}

} // namespace quillon
