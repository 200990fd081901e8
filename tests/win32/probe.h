// The differential probe: one program, built twice. Natively it runs the
// portable resource layer; cross-built with mingw-w64 and run under Wine it
// runs the Win32 layer. Both print the same text report, so the two can be
// compared line by line. Plain C++ at this edge.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace probe {

// What each build supplies besides the read layer (platform_read.h).

struct VersionQuery
{
    std::uint32_t size = 0; // GetFileVersionInfoSizeW
    bool filled = false;    // GetFileVersionInfoW
    bool hasRoot = false;   // VerQueryValueW "\"
    std::vector<std::uint8_t> root;
    bool hasTranslation = false; // VerQueryValueW "\VarFileInfo\Translation"
    std::vector<std::uint8_t> translation;
    bool hasDescription = false; // "\StringFileInfo\040904B0\FileDescription"
    std::uint32_t descriptionLength = 0;
    std::u16string description; // up to the terminator
};
VersionQuery queryVersion(const std::wstring &path);

struct IconCount
{
    int count = 0;      // ExtractIconExW(path, -1, 0, 0, 0), read as signed
    bool first = false; // ExtractIconExW(path, 0, &large, 0, 1) gave a handle
};
IconCount countIcons(const std::wstring &path);

struct VersionWrite
{
    bool begun = false;
    std::uint32_t beginError = 0;
    bool updated = false;
    std::uint32_t updateError = 0;
    bool committed = false;
    std::uint32_t commitError = 0;
};
// BeginUpdateResourceW(path, FALSE); SetLastError(0); UpdateResourceW(RT_VERSION,
// 1, 0x0409, bytes); EndUpdateResourceW(FALSE), as writeVersionInfo does.
VersionWrite writeVersion(const std::wstring &path, const std::vector<std::uint8_t> &bytes);

bool readFile(const std::wstring &path, std::vector<std::uint8_t> &bytes);

// Shared by both builds.
std::wstring fromUtf8(const std::string &text);
std::string toUtf8(const std::u16string &text);
std::string toUtf8(const std::wstring &text);
int run(const std::vector<std::wstring> &arguments);

} // namespace probe
