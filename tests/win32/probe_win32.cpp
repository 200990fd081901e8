// The probe's Win32 calls besides the read layer, made exactly as
// writeVersionInfo and exeHasUsableIcon make them.
#include "probe.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdio>

namespace probe {

namespace {

bool query(const std::vector<std::uint8_t> &buffer, const wchar_t *subBlock, const void **value,
           UINT *length)
{
    LPVOID pointer = nullptr;
    *length = 0;
    const BOOL ok = VerQueryValueW(buffer.data(), subBlock, &pointer, length);
    *value = pointer;
    return ok != FALSE && pointer != nullptr;
}

} // namespace

VersionQuery queryVersion(const std::wstring &path)
{
    VersionQuery result;
    result.size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
    if (result.size == 0) {
        return result;
    }
    std::vector<std::uint8_t> buffer(result.size);
    result.filled = GetFileVersionInfoW(path.c_str(), 0, result.size, buffer.data()) != FALSE;
    if (!result.filled) {
        return result;
    }
    const void *value = nullptr;
    UINT length = 0;
    if (query(buffer, L"\\", &value, &length)) {
        const auto *bytes = static_cast<const std::uint8_t *>(value);
        result.hasRoot = true;
        result.root.assign(bytes, bytes + length);
    }
    if (query(buffer, L"\\VarFileInfo\\Translation", &value, &length)) {
        const auto *bytes = static_cast<const std::uint8_t *>(value);
        result.hasTranslation = true;
        result.translation.assign(bytes, bytes + length);
    }
    if (query(buffer, L"\\StringFileInfo\\040904B0\\FileDescription", &value, &length) &&
        length != 0) {
        const auto *text = static_cast<const char16_t *>(value);
        result.hasDescription = true;
        result.descriptionLength = length;
        for (UINT i = 0; i < length && text[i] != 0; ++i) {
            result.description.push_back(text[i]);
        }
    }
    return result;
}

IconCount countIcons(const std::wstring &path)
{
    IconCount result;
    result.count = static_cast<int>(ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0));
    HICON large = nullptr;
    const UINT extracted = ExtractIconExW(path.c_str(), 0, &large, nullptr, 1);
    result.first = extracted != 0 && large != nullptr;
    if (large) {
        DestroyIcon(large);
    }
    return result;
}

VersionWrite writeVersion(const std::wstring &path, const std::vector<std::uint8_t> &bytes)
{
    VersionWrite result;
    HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
    if (!update) {
        result.beginError = GetLastError();
        return result;
    }
    result.begun = true;
    SetLastError(0);
    result.updated = UpdateResourceW(update, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), 0x0409,
                                     const_cast<std::uint8_t *>(bytes.data()),
                                     static_cast<DWORD>(bytes.size())) != FALSE;
    if (!result.updated) {
        result.updateError = GetLastError();
    }
    result.committed = EndUpdateResourceW(update, FALSE) != FALSE;
    if (!result.committed) {
        result.commitError = GetLastError();
    }
    return result;
}

bool readFile(const std::wstring &path, std::vector<std::uint8_t> &bytes)
{
    FILE *file = _wfopen(path.c_str(), L"rb");
    if (!file) {
        return false;
    }
    std::uint8_t chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

} // namespace probe
