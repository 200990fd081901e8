#include "fileinput.h"

#include "bytereader.h"

#include <algorithm>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace quillon {
namespace {

class WinFileInput : public Input
{
public:
    WinFileInput(HANDLE file, std::uint64_t size) : m_file(file), m_size(size) {}
    ~WinFileInput() override { CloseHandle(m_file); }
    WinFileInput(const WinFileInput &) = delete;
    WinFileInput &operator=(const WinFileInput &) = delete;

    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, void *buffer, std::size_t count) override
    {
        if (!rangeInside(offset, count, m_size))
            return false;
        auto *out = static_cast<char *>(buffer);
        while (count > 0) {
            OVERLAPPED position = {};
            position.Offset = static_cast<DWORD>(offset);
            position.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
            DWORD got = 0;
            if (!ReadFile(m_file, out, chunk, &got, &position) || got == 0)
                return false;
            out += got;
            count -= got;
            offset += got;
        }
        return true;
    }

private:
    HANDLE m_file;
    std::uint64_t m_size;
};

} // namespace

std::unique_ptr<Input> openFileInput(const FilePath &path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return nullptr;
    }
    return std::make_unique<WinFileInput>(file, static_cast<std::uint64_t>(size.QuadPart));
}

} // namespace quillon
