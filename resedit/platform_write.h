// The platform calls behind writeVersionInfo and exeHasUsableIcon. On Windows
// they are the system's own (platform_write_win32.cpp); elsewhere our layer
// does the same work with the portable PE reader and writer and answers with
// the error numbers Windows would give (platform_write_portable.cpp). Plain
// C++ at this edge: wide-string paths with native separators, byte vectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::platform {

// Windows error numbers used by the portable layer.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorWriteFault = 29;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorBadExeFormat = 193;
constexpr std::uint32_t kErrorResourceDataNotFound = 1812;

using ResourceUpdate = void *;

// BeginUpdateResourceW(path, deleteExisting): null on failure.
ResourceUpdate beginUpdateResource(const std::wstring &path, bool deleteExisting);
// UpdateResourceW with integer type and name; empty data removes the resource.
bool updateResource(ResourceUpdate update, std::uint16_t type, std::uint16_t name,
                    std::uint16_t language, const std::vector<std::uint8_t> &data);
// EndUpdateResourceW: writes the file unless `discard`; always frees the handle.
bool endUpdateResource(ResourceUpdate update, bool discard);

void setLastError(std::uint32_t code);
std::uint32_t lastError();

// GetFileVersionInfoSizeW / GetFileVersionInfoW / VerQueryValueW. Of several
// version resources the loader's choice is read: name 1 (else the first
// name), then language neutral, the user's language (English off Windows),
// English (United States), else the first language stored.
std::uint32_t fileVersionInfoSize(const std::wstring &path);
bool fileVersionInfo(const std::wstring &path, std::uint32_t size,
                     std::vector<std::uint8_t> &buffer);
// Looks up `subBlock` ("\StringFileInfo\040904B0\FileDescription") in a
// buffer filled by fileVersionInfo. `value` points into `buffer`; `length` is
// in UTF-16 code units for text values, bytes otherwise.
bool verQueryValue(const std::vector<std::uint8_t> &buffer, const std::wstring &subBlock,
                   const void **value, std::uint32_t *length);

// The text of a verQueryValue result: up to its terminator, never more than
// `length` units and never past the end of `buffer` (a file may store a text
// key as binary, whose length then counts bytes).
inline std::u16string versionText(const std::vector<std::uint8_t> &buffer, const void *value,
                                  std::uint32_t length)
{
    std::u16string text;
    const auto *at = static_cast<const std::uint8_t *>(value);
    if (!at || at < buffer.data() || at > buffer.data() + buffer.size())
        return text;
    const std::size_t available = static_cast<std::size_t>(buffer.data() + buffer.size() - at) / 2;
    const std::size_t units = length < available ? length : available;
    for (std::size_t i = 0; i < units; ++i) {
        const auto unit = static_cast<char16_t>(at[2 * i] | at[2 * i + 1] << 8);
        if (unit == 0)
            break;
        text.push_back(unit);
    }
    return text;
}

// ExtractIconExW(path, -1, 0, 0, 0): the number of icons, read as signed.
int extractIconCount(const std::wstring &path);
// ExtractIconExW(path, 0, &large, 0, 1): true when it reports a non-zero
// count and gives a handle; the handle is destroyed before returning.
bool extractFirstLargeIcon(const std::wstring &path);

// SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, 0, 0); nothing elsewhere.
void notifyAssociationsChanged();

} // namespace quillon::platform
