// Reading an executable's icon resources and the shell's large icon. On
// Windows these are the system calls (platform_read_win32.cpp); elsewhere the
// portable PE reader stands in (platform_read_portable.cpp). Plain C++ at
// this edge: wide-string paths, bytes and pixel buffers.
#pragma once

#include "ico.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quillon::platform {

// An executable opened as a data file (LoadLibraryExW with
// LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE), freed when the
// object goes. Byte pointers it hands out stay valid until then.
class ResourceModule
{
public:
    explicit ResourceModule(const std::wstring &path);
    ~ResourceModule();
    ResourceModule(const ResourceModule &) = delete;
    ResourceModule &operator=(const ResourceModule &) = delete;

    // False when the file could not be loaded as a data file.
    bool loaded() const;

    // The first RT_GROUP_ICON in the system's enumeration order. False when
    // there is none or its bytes cannot be obtained.
    bool firstIconGroup(ico::ImageBytes &group) const;

    // The RT_ICON resource with this integer name. False when missing or its
    // bytes cannot be obtained.
    bool iconImage(std::uint16_t imageId, ico::ImageBytes &image) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

enum class LargeIconStatus
{
    Ok,
    NoIcon,     // the shell gives no large icon for the file
    NoIconInfo, // no icon information, or a monochrome icon
    BadSize,    // the colour bitmap has no area
};

// The shell's large icon drawn with its mask into a top-down 32-bit bitmap
// first filled with opaque white.
struct LargeIcon
{
    int width = 0;
    int height = 0;
    bool hasPixels = false;         // false when the bitmap gave no pixel memory
    std::vector<std::uint8_t> bgra; // width * height * 4 bytes, B, G, R, A
};

LargeIconStatus drawLargeIcon(const std::wstring &path, LargeIcon &icon);

} // namespace quillon::platform
