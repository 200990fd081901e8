// Icon resources through the Windows loader, and the shell's large icon
// drawn by GDI.
#include "platform_read.h"

#include <windows.h>

#include <shellapi.h>

#include <cstdint>
#include <cstring>

namespace {

// The wide forms whether or not UNICODE is defined (RT_GROUP_ICON and RT_ICON
// follow it).
const LPCWSTR kGroupIconType = MAKEINTRESOURCEW(14);
const LPCWSTR kIconType = MAKEINTRESOURCEW(3);

} // namespace

// EnumResourceNamesW callback: looks the first reported name up as an icon
// group, stores the handle (or null) at lParam and stops the enumeration.
BOOL CALLBACK firstIconGroupProc(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR lParam)
{
    (void)type;
    *reinterpret_cast<HRSRC *>(lParam) = FindResourceW(module, name, kGroupIconType);
    return FALSE;
}

namespace quillon::platform {

namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

// True when [data, data + size) lies in readable pages of the view that holds
// `module`. The loader checks the tree it walks, but a data entry's offset
// and size reach us as stored, so a damaged file can point anywhere.
bool insideModule(HMODULE module, const void *data, DWORD size)
{
    if (size == 0)
        return true; // nothing is read
    // A data file's handle is its view's base with low bits set; any address
    // in the view names the view's allocation.
    MEMORY_BASIC_INFORMATION view = {};
    if (VirtualQuery(module, &view, sizeof view) != sizeof view || !view.AllocationBase)
        return false;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t end = begin + size;
    if (end < begin)
        return false;
    // The pages of one allocation come as regions of like protection; every
    // region the range touches must belong to the view and be readable.
    for (std::uintptr_t at = begin; at < end;) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(reinterpret_cast<const void *>(at), &region, sizeof region) !=
                sizeof region ||
            region.AllocationBase != view.AllocationBase || region.State != MEM_COMMIT ||
            (region.Protect & PAGE_GUARD) != 0 || (region.Protect & kReadable) == 0)
            return false;
        const std::uintptr_t regionEnd =
            reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (regionEnd <= at)
            return false;
        at = regionEnd;
    }
    return true;
}

// A resource whose bytes are not all inside the module counts as missing.
bool lockResource(HMODULE module, HRSRC handle, ico::ImageBytes &bytes)
{
    if (!handle)
        return false;
    const DWORD size = SizeofResource(module, handle);
    HGLOBAL loaded = LoadResource(module, handle);
    const void *data = loaded ? LockResource(loaded) : nullptr;
    if (!data || !insideModule(module, data, size))
        return false;
    bytes.data = static_cast<const std::uint8_t *>(data);
    bytes.size = size;
    return true;
}

} // namespace

struct ResourceModule::Impl
{
    HMODULE module = nullptr;
};

ResourceModule::ResourceModule(const std::wstring &path)
{
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module) {
        d = std::make_unique<Impl>();
        d->module = module;
    }
}

ResourceModule::~ResourceModule()
{
    if (d)
        FreeLibrary(d->module);
}

bool ResourceModule::loaded() const
{
    return d != nullptr;
}

bool ResourceModule::firstIconGroup(ico::ImageBytes &group) const
{
    if (!d)
        return false;
    HRSRC handle = nullptr;
    EnumResourceNamesW(d->module, kGroupIconType, firstIconGroupProc,
                       reinterpret_cast<LONG_PTR>(&handle));
    return lockResource(d->module, handle, group);
}

bool ResourceModule::iconImage(std::uint16_t imageId, ico::ImageBytes &image) const
{
    if (!d)
        return false;
    HRSRC handle = FindResourceW(d->module, MAKEINTRESOURCEW(imageId), kIconType);
    return lockResource(d->module, handle, image);
}

LargeIconStatus drawLargeIcon(const std::wstring &path, LargeIcon &icon)
{
    icon = LargeIcon();
    HICON large = nullptr;
    HICON small = nullptr;
    const UINT extracted = ExtractIconExW(path.c_str(), 0, &large, &small, 1);
    if (extracted == 0 || !large) {
        if (large)
            DestroyIcon(large);
        if (small)
            DestroyIcon(small);
        return LargeIconStatus::NoIcon;
    }
    auto destroyIcons = [&] {
        DestroyIcon(large);
        if (small)
            DestroyIcon(small);
    };

    ICONINFO info = {};
    if (!GetIconInfo(large, &info) || !info.hbmColor) {
        if (info.hbmMask)
            DeleteObject(info.hbmMask);
        destroyIcons();
        return LargeIconStatus::NoIconInfo;
    }
    auto deleteIconBitmaps = [&] {
        DeleteObject(info.hbmColor);
        if (info.hbmMask)
            DeleteObject(info.hbmMask);
    };

    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(BITMAP), &bitmap);
    const int width = bitmap.bmWidth;
    const int height = bitmap.bmHeight;
    if (width <= 0 || height <= 0) {
        deleteIconBitmaps();
        destroyIcons();
        return LargeIconStatus::BadSize;
    }

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height; // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, section);
    const std::size_t byteCount = std::size_t(width) * std::size_t(height) * 4;
    if (bits)
        std::memset(bits, 0xff, byteCount);

    DrawIconEx(memory, 0, 0, large, width, height, 0, nullptr, DI_NORMAL);
    GdiFlush(); // the drawing may be batched; the pixels are read directly

    icon.width = width;
    icon.height = height;
    if (bits) {
        const auto *pixels = static_cast<const std::uint8_t *>(bits);
        icon.bgra.assign(pixels, pixels + byteCount);
        icon.hasPixels = true;
    }

    SelectObject(memory, previous);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    deleteIconBitmaps();
    destroyIcons();
    return LargeIconStatus::Ok;
}

} // namespace quillon::platform
