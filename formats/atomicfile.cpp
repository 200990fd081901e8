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
namespace {

#ifdef _WIN32
std::string reason(int)
{
    return std::string();
}
#else
std::string reason(int code)
{
    return ": " + std::string(std::strerror(code));
}
#endif

} // namespace

Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    int systemError = 0;
    return writeFileAtomically(path, bytes, systemError);
}

Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                          int &systemError, const AtomicWriteOptions &options)
{
    AtomicFile file(path, options);
    Error e = file.open(systemError);
    if (e.ok())
        e = file.write(bytes.data(), bytes.size(), systemError);
    if (e.ok())
        e = file.commit(systemError);
    return e;
}

AtomicFile::AtomicFile(std::string path, const AtomicWriteOptions &options)
    : m_path(std::move(path)), m_options(options)
{
}

AtomicFile::~AtomicFile()
{
    discard();
}

Error AtomicFile::open(int &systemError)
{
    namespace fs = std::filesystem;
    systemError = 0;
    discard();
    std::error_code ec;
    fs::path target = fs::u8path(m_path);
    if (m_options.followLink && fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    static std::atomic<unsigned> counter{0};
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path temp = target;
    temp += ".tmp" + std::to_string(stamp % 1000000007ull) + "_" + std::to_string(++counter);
    m_target = target.u8string();
    m_written = 0;
    m_flushed = false;

#ifdef _WIN32
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        systemError = static_cast<int>(GetLastError());
        return Error(ErrorKind::Io, 0, "cannot create a temporary file next to " + m_path);
    }
    m_file = reinterpret_cast<std::intptr_t>(file);
    m_temp = temp.u8string();
#else
    struct stat info
    {
    };
    if (::lstat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        systemError = S_ISDIR(info.st_mode) ? EISDIR : ENOTSUP;
        return Error(ErrorKind::Io, 0, "cannot replace " + m_path + reason(systemError));
    }
    m_mode = m_options.mode;
    if (m_mode < 0 && ::stat(target.c_str(), &info) == 0)
        m_mode = static_cast<int>(info.st_mode & 07777);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          m_mode >= 0 ? static_cast<mode_t>(m_mode) : 0666);
    if (fd < 0) {
        systemError = errno;
        return Error(ErrorKind::Io, 0,
                     "cannot create a temporary file next to " + m_path + reason(systemError));
    }
    m_file = fd;
    m_temp = temp.u8string();
#endif
    return Error();
}

Error AtomicFile::write(const std::uint8_t *data, std::size_t size, int &systemError)
{
    systemError = 0;
    if (m_file == -1) {
        systemError = EBADF;
        return Error(ErrorKind::Io, m_written, "cannot write " + m_path);
    }
    std::size_t done = 0;
#ifdef _WIN32
    const HANDLE file = reinterpret_cast<HANDLE>(m_file);
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data + done, chunk, &written, nullptr) || written == 0) {
            systemError = static_cast<int>(GetLastError());
            if (systemError == 0)
                systemError = ERROR_HANDLE_DISK_FULL;
            break;
        }
        done += written;
    }
#else
    const int fd = static_cast<int>(m_file);
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            systemError = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
#endif
    m_written += done;
    if (systemError != 0)
        return Error(ErrorKind::Io, m_written, "cannot write " + m_path + reason(systemError));
    return Error();
}

Error AtomicFile::flush(int &systemError)
{
    systemError = 0;
    if (m_file == -1) {
        systemError = EBADF;
        return Error(ErrorKind::Io, m_written, "cannot write " + m_path);
    }
    if (m_flushed)
        return Error();
#ifdef _WIN32
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(m_file)))
        systemError = static_cast<int>(GetLastError());
#else
    const int fd = static_cast<int>(m_file);
    if (m_mode >= 0 && ::fchmod(fd, static_cast<mode_t>(m_mode)) != 0)
        systemError = errno;
    if (systemError == 0 && ::fsync(fd) != 0)
        systemError = errno;
#endif
    if (systemError != 0)
        return Error(ErrorKind::Io, m_written, "cannot write " + m_path + reason(systemError));
    m_flushed = true;
    return Error();
}

Error AtomicFile::commit(int &systemError)
{
    Error e = flush(systemError);
    if (e.failed()) {
        discard();
        return e;
    }
#ifdef _WIN32
    if (!CloseHandle(reinterpret_cast<HANDLE>(m_file)))
        systemError = static_cast<int>(GetLastError());
    m_file = -1;
    const std::wstring temp = std::filesystem::u8path(m_temp).wstring();
    const std::wstring target = std::filesystem::u8path(m_target).wstring();
    if (systemError == 0 && !MoveFileExW(temp.c_str(), target.c_str(),
                                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        systemError = static_cast<int>(GetLastError());
#else
    if (::close(static_cast<int>(m_file)) != 0)
        systemError = errno;
    m_file = -1;
    if (systemError == 0 && ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        systemError = errno;
#endif
    if (systemError != 0) {
        discard();
        return Error(ErrorKind::Io, m_written, "cannot write " + m_path + reason(systemError));
    }
    m_temp.clear();
    return Error();
}

void AtomicFile::discard()
{
#ifdef _WIN32
    if (m_file != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_file));
    if (!m_temp.empty())
        DeleteFileW(std::filesystem::u8path(m_temp).c_str());
#else
    if (m_file != -1)
        ::close(static_cast<int>(m_file));
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
#endif
    m_file = -1;
    m_temp.clear();
}

} // namespace quillon
