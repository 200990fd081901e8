// Icon resources without the Windows loader and shell: the portable PE
// reader, and for the large icon the image of the first icon group that the
// shell would pick, decoded to pixels.
#include "peimage.h"
#include "platform_read.h"

#include <QImage>

#include <cstring>

namespace quillon::platform {

namespace {

std::string toUtf8(const std::wstring &text)
{
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<std::uint32_t>(wc);
        if (c >= 0xd800 && c <= 0xdfff)
            c = 0xfffd; // wchar_t is UTF-32 here; lone surrogates are not text
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xe0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xf0 | ((c >> 18) & 0x07)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        }
    }
    return out;
}

const pe::Resource *firstGroup(const pe::PeImage &image)
{
    const auto type = pe::ResId::fromId(pe::RT_GROUP_ICON);
    const std::vector<pe::ResId> names = pe::resourceNames(image, type);
    return names.empty() ? nullptr : pe::findResource(image, type, names.front());
}

const pe::Resource *iconResource(const pe::PeImage &image, std::uint16_t imageId)
{
    return pe::findResource(image, pe::ResId::fromId(pe::RT_ICON), pe::ResId::fromId(imageId));
}

} // namespace

struct ResourceModule::Impl
{
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
};

ResourceModule::ResourceModule(const std::wstring &path)
{
    auto impl = std::make_unique<Impl>();
    if (pe::loadPeFile(toUtf8(path), impl->bytes, impl->image).ok())
        d = std::move(impl);
}

ResourceModule::~ResourceModule() = default;

bool ResourceModule::loaded() const
{
    return d != nullptr;
}

bool ResourceModule::firstIconGroup(ico::ImageBytes &group) const
{
    const pe::Resource *res = d ? firstGroup(d->image) : nullptr;
    if (!res)
        return false;
    group.data = res->data.data();
    group.size = res->data.size();
    return true;
}

bool ResourceModule::iconImage(std::uint16_t imageId, ico::ImageBytes &image) const
{
    const pe::Resource *res = d ? iconResource(d->image, imageId) : nullptr;
    if (!res)
        return false;
    image.data = res->data.data();
    image.size = res->data.size();
    return true;
}

LargeIconStatus drawLargeIcon(const std::wstring &path, LargeIcon &icon)
{
    icon = LargeIcon();
    std::vector<std::uint8_t> bytes;
    pe::PeImage image;
    if (pe::loadPeFile(toUtf8(path), bytes, image).failed())
        return LargeIconStatus::NoIcon;
    const pe::Resource *group = firstGroup(image);
    std::vector<ico::GroupEntry> entries;
    // The shell is not bound to 32 entries.
    if (!group || !ico::parseGroup(group->data.data(), group->data.size(), entries, 0xffff))
        return LargeIconStatus::NoIcon;
    const ico::GroupEntry &entry = entries[ico::pickEntry(entries)];
    const pe::Resource *res = iconResource(image, entry.imageId);
    if (!res || res->data.empty())
        return LargeIconStatus::NoIcon;

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (ico::isPng(res->data.data(), res->data.size())) {
        const QImage png =
            QImage::fromData(res->data.data(), static_cast<int>(res->data.size()), "PNG")
                .convertToFormat(QImage::Format_ARGB32);
        if (png.isNull())
            return LargeIconStatus::NoIcon;
        width = static_cast<std::uint32_t>(png.width());
        height = static_cast<std::uint32_t>(png.height());
        icon.bgra.resize(std::size_t(width) * height * 4);
        for (std::uint32_t y = 0; y < height; ++y)
            std::memcpy(icon.bgra.data() + std::size_t(y) * width * 4,
                        png.constScanLine(static_cast<int>(y)), std::size_t(width) * 4);
    } else {
        std::uint16_t bitCount = 0;
        if (res->data.size() >= 16)
            bitCount = static_cast<std::uint16_t>(res->data[14] | res->data[15] << 8);
        // A monochrome icon has no colour bitmap.
        if (bitCount == 1)
            return LargeIconStatus::NoIconInfo;
        if (!ico::decodeDib(res->data.data(), res->data.size(), width, height, icon.bgra))
            return LargeIconStatus::NoIcon;
    }
    if (width == 0 || height == 0)
        return LargeIconStatus::BadSize;
    icon.width = static_cast<int>(width);
    icon.height = static_cast<int>(height);
    icon.hasPixels = true;
    return LargeIconStatus::Ok;
}

} // namespace quillon::platform
