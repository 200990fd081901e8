// Resource update, version query and icon count through the Windows calls.
#include "platform_write.h"

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

namespace quillon::platform {

ResourceUpdate beginUpdateResource(const std::wstring &path, bool deleteExisting)
{
    return BeginUpdateResourceW(path.c_str(), deleteExisting ? TRUE : FALSE);
}

bool updateResource(ResourceUpdate update, std::uint16_t type, std::uint16_t name,
                    std::uint16_t language, const std::vector<std::uint8_t> &data)
{
    // The call takes a non-const pointer but only reads the bytes.
    void *bytes = data.empty() ? nullptr : const_cast<std::uint8_t *>(data.data());
    return UpdateResourceW(static_cast<HANDLE>(update), MAKEINTRESOURCEW(type),
                           MAKEINTRESOURCEW(name), language, bytes,
                           static_cast<DWORD>(data.size())) != FALSE;
}

bool endUpdateResource(ResourceUpdate update, bool discard)
{
    return EndUpdateResourceW(static_cast<HANDLE>(update), discard ? TRUE : FALSE) != FALSE;
}

void setLastError(std::uint32_t code)
{
    SetLastError(code);
}

std::uint32_t lastError()
{
    return GetLastError();
}

std::uint32_t fileVersionInfoSize(const std::wstring &path)
{
    return GetFileVersionInfoSizeW(path.c_str(), nullptr);
}

bool fileVersionInfo(const std::wstring &path, std::uint32_t size,
                     std::vector<std::uint8_t> &buffer)
{
    buffer.assign(size, 0);
    return GetFileVersionInfoW(path.c_str(), 0, size, buffer.data()) != FALSE;
}

bool verQueryValue(const std::vector<std::uint8_t> &buffer, const std::wstring &subBlock,
                   const void **value, std::uint32_t *length)
{
    LPVOID pointer = nullptr;
    UINT size = 0;
    const BOOL ok = VerQueryValueW(buffer.data(), subBlock.c_str(), &pointer, &size);
    *value = pointer;
    *length = size;
    return ok != FALSE;
}

int extractIconCount(const std::wstring &path)
{
    return static_cast<int>(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0));
}

bool extractFirstLargeIcon(const std::wstring &path)
{
    HICON large = nullptr;
    const UINT count = ExtractIconExW(path.c_str(), 0, &large, nullptr, 1);
    const bool ok = count != 0 && large != nullptr;
    if (large)
        DestroyIcon(large);
    return ok;
}

void notifyAssociationsChanged()
{
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

} // namespace quillon::platform
