#include "fileinput.h"

#include "bytereader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillon {
namespace {

class PosixFileInput : public Input
{
public:
    PosixFileInput(int fd, std::uint64_t size) : m_fd(fd), m_size(size) {}
    ~PosixFileInput() override { ::close(m_fd); }
    PosixFileInput(const PosixFileInput &) = delete;
    PosixFileInput &operator=(const PosixFileInput &) = delete;

    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, void *buffer, std::size_t count) override
    {
        if (!rangeInside(offset, count, m_size))
            return false;
        auto *out = static_cast<char *>(buffer);
        while (count > 0) {
            const ssize_t got = ::pread(m_fd, out, count, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            count -= static_cast<std::size_t>(got);
            offset += static_cast<std::uint64_t>(got);
        }
        return true;
    }

private:
    int m_fd;
    std::uint64_t m_size;
};

} // namespace

std::unique_ptr<Input> openFileInput(const FilePath &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PosixFileInput>(fd, static_cast<std::uint64_t>(st.st_size));
}

} // namespace quillon
