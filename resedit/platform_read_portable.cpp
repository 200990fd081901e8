// Icon resources without the Windows loader and shell: the portable PE
// reader, and for the large icon the image of the first icon group that the
// shell would pick, decoded to pixels.
#include "peimage.h"
#include "platform_read.h"

#include <QFile>
#include <QImage>

#include <cstring>

namespace quillon::platform {

namespace {

// Parses the file through a read-only mapping, so only the pages the reader
// touches (headers, resource tree, resource data) are read from disk.
bool loadImage(const std::wstring &path, pe::PeImage &image)
{
    QFile file(QString::fromStdWString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size <= 0)
        return false;
    uchar *data = file.map(0, size);
    if (!data) {
        // Some file systems cannot map; read the file instead.
        const QByteArray bytes = file.readAll();
        return pe::parsePe(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                           static_cast<std::uint64_t>(bytes.size()), image)
            .ok();
    }
    const bool ok = pe::parsePe(data, static_cast<std::uint64_t>(size), image).ok();
    file.unmap(data);
    return ok;
}

const pe::Resource *firstGroup(const pe::PeImage &image)
{
    const auto type = pe::ResId::fromId(pe::kRtGroupIcon);
    const std::vector<pe::ResId> names = pe::resourceNames(image, type);
    return names.empty() ? nullptr : pe::findResource(image, type, names.front());
}

const pe::Resource *iconResource(const pe::PeImage &image, std::uint16_t imageId)
{
    return pe::findResource(image, pe::ResId::fromId(pe::kRtIcon), pe::ResId::fromId(imageId));
}

} // namespace

struct ResourceModule::Impl
{
    pe::PeImage image;
};

ResourceModule::ResourceModule(const std::wstring &path)
{
    auto impl = std::make_unique<Impl>();
    if (loadImage(path, impl->image))
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
    pe::PeImage image;
    if (!loadImage(path, image))
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
