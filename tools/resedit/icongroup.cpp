#include "icongroup.h"

#include "bytewriter.h"

#include <algorithm>
#include <set>

namespace quillon::resedit {

namespace {

constexpr std::uint16_t kMaxImages = 256;
constexpr std::uint64_t kMaxIcoSize = 64ull * 1024 * 1024;

bool isPng(const std::vector<std::uint8_t> &data)
{
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data.size() >= 8 && std::equal(signature, signature + 8, data.begin());
}

// Planes and bit count for a directory entry that leaves them 0, taken from
// the image itself, so the loader can match sizes and depths.
void completeEntry(IcoImage &image)
{
    if (image.planes != 0 && image.bitCount != 0)
        return;
    if (isPng(image.data)) {
        image.planes = 1;
        image.bitCount = 32;
        return;
    }
    ByteReader reader(image.data.data(), image.data.size());
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    if (reader.skip(12) && reader.u16le(planes) && reader.u16le(bitCount)) {
        if (image.planes == 0)
            image.planes = planes;
        if (image.bitCount == 0)
            image.bitCount = bitCount;
    }
}

std::vector<std::uint16_t> groupIconIds(const std::vector<std::uint8_t> &group)
{
    std::vector<std::uint16_t> ids;
    ByteReader reader(group.data(), group.size());
    std::uint16_t reserved = 0;
    std::uint16_t type = 0;
    std::uint16_t count = 0;
    if (!reader.u16le(reserved) || !reader.u16le(type) || !reader.u16le(count))
        return ids;
    for (std::uint16_t i = 0; i < count; ++i) {
        std::uint16_t id = 0;
        if (!reader.skip(12) || !reader.u16le(id))
            break;
        ids.push_back(id);
    }
    return ids;
}

} // namespace

Error parseIco(const std::uint8_t *data, std::uint64_t size, std::vector<IcoImage> &images)
{
    images.clear();
    if (size > kMaxIcoSize)
        return Error(ErrorKind::LimitExceeded, 0, "icon file too large");
    ByteReader reader(data, size);
    std::uint16_t reserved = 0;
    std::uint16_t type = 0;
    std::uint16_t count = 0;
    if (!reader.u16le(reserved) || !reader.u16le(type) || !reader.u16le(count))
        return Error(ErrorKind::Truncated, 0, "icon header");
    if (reserved != 0 || type != 1)
        return Error(ErrorKind::Malformed, 0, "not an icon file");
    if (count == 0)
        return Error(ErrorKind::Malformed, 4, "icon file without images");
    if (count > kMaxImages)
        return Error(ErrorKind::LimitExceeded, 4, "too many images");
    if (!rangeInside(6, std::uint64_t{count} * 16, size))
        return Error(ErrorKind::Truncated, 6, "icon directory");

    images.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint64_t entry = reader.pos();
        IcoImage image;
        std::uint8_t reservedByte = 0;
        std::uint32_t bytes = 0;
        std::uint32_t offset = 0;
        if (!reader.u8(image.width) || !reader.u8(image.height) || !reader.u8(image.colorCount) ||
            !reader.u8(reservedByte) || !reader.u16le(image.planes) ||
            !reader.u16le(image.bitCount) || !reader.u32le(bytes) || !reader.u32le(offset))
            return Error(ErrorKind::Truncated, entry, "icon directory entry");
        if (bytes == 0)
            return Error(ErrorKind::Malformed, entry, "empty icon image");
        const ByteReader body = reader.sub(offset, bytes);
        if (!body.ok())
            return Error(ErrorKind::Truncated, offset, "icon image outside the file");
        image.data.assign(body.data(), body.data() + body.size());
        completeEntry(image);
        images.push_back(std::move(image));
    }
    return Error();
}

Error replaceIconGroup(std::vector<pe::Resource> &resources, const pe::ResId &groupName,
                       int language, const std::vector<IcoImage> &images, std::string &summary)
{
    if (images.empty() || images.size() > kMaxImages)
        return Error(ErrorKind::Malformed, 0, "no images to write");
    const pe::ResId groupType = pe::ResId::fromId(pe::kRtGroupIcon);
    const pe::ResId iconType = pe::ResId::fromId(pe::kRtIcon);

    // The old group, in every language, and the images it used.
    int groupLanguage = language;
    std::set<std::uint16_t> oldIcons;
    std::size_t removedGroups = 0;
    for (auto it = resources.begin(); it != resources.end();) {
        if (it->type == groupType && it->name == groupName) {
            if (groupLanguage < 0)
                groupLanguage = it->language;
            for (std::uint16_t id : groupIconIds(it->data))
                oldIcons.insert(id);
            it = resources.erase(it);
            ++removedGroups;
        } else {
            ++it;
        }
    }
    if (groupLanguage < 0)
        groupLanguage = kDefaultLanguage;

    // Images another group still shows stay.
    for (const pe::Resource &res : resources) {
        if (res.type == groupType) {
            for (std::uint16_t id : groupIconIds(res.data))
                oldIcons.erase(id);
        }
    }
    std::size_t removedIcons = 0;
    for (std::uint16_t id : oldIcons)
        removedIcons += pe::removeResources(resources, iconType, pe::ResId::fromId(id));

    std::set<std::uint16_t> used;
    for (const pe::Resource &res : resources) {
        if (res.type == iconType && !res.name.isName)
            used.insert(res.name.id);
    }
    std::vector<std::uint16_t> ids;
    for (std::uint32_t candidate = 1; ids.size() < images.size() && candidate <= 0xFFFF;
         ++candidate) {
        if (!used.count(static_cast<std::uint16_t>(candidate)))
            ids.push_back(static_cast<std::uint16_t>(candidate));
    }
    if (ids.size() < images.size())
        return Error(ErrorKind::LimitExceeded, 0, "no free icon numbers");

    std::vector<std::uint8_t> group;
    appendU16le(group, 0);
    appendU16le(group, 1);
    appendU16le(group, static_cast<std::uint16_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const IcoImage &image = images[i];
        group.push_back(image.width);
        group.push_back(image.height);
        group.push_back(image.colorCount);
        group.push_back(0);
        appendU16le(group, image.planes);
        appendU16le(group, image.bitCount);
        appendU32le(group, static_cast<std::uint32_t>(image.data.size()));
        appendU16le(group, ids[i]);

        pe::Resource icon;
        icon.type = iconType;
        icon.name = pe::ResId::fromId(ids[i]);
        icon.language = static_cast<std::uint16_t>(groupLanguage);
        icon.data = image.data;
        pe::upsertResource(resources, std::move(icon));
    }
    pe::Resource groupRes;
    groupRes.type = groupType;
    groupRes.name = groupName;
    groupRes.language = static_cast<std::uint16_t>(groupLanguage);
    groupRes.data = std::move(group);
    pe::upsertResource(resources, std::move(groupRes));

    summary = (removedGroups ? "replaced" : "added") + std::string(" icon group with ") +
              std::to_string(images.size()) + " image(s) in language " +
              std::to_string(groupLanguage) + "; removed " + std::to_string(removedIcons) +
              " unused image(s)";
    return Error();
}

} // namespace quillon::resedit
