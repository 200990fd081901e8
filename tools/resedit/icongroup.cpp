#include "icongroup.h"

#include <set>

namespace quillon::resedit {

Error replaceIconGroup(std::vector<pe::Resource> &resources, const pe::ResId &groupName,
                       int language, const std::vector<ico::Image> &images, std::string &summary)
{
    if (images.empty() || images.size() > ico::kMaxImages)
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
            for (std::uint16_t id : ico::groupImageIds(it->data.data(), it->data.size()))
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
            for (std::uint16_t id : ico::groupImageIds(res.data.data(), res.data.size()))
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

    std::vector<ico::GroupEntry> entries;
    entries.reserve(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const ico::Image &image = images[i];
        ico::GroupEntry entry;
        entry.width = image.width;
        entry.height = image.height;
        entry.colorCount = image.colorCount;
        entry.planes = image.planes;
        entry.bitCount = image.bitCount;
        entry.bytesInResource = static_cast<std::uint32_t>(image.data.size());
        entry.imageId = ids[i];
        entries.push_back(entry);

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
    groupRes.data = ico::writeGroup(entries);
    pe::upsertResource(resources, std::move(groupRes));

    summary = (removedGroups ? "replaced" : "added") + std::string(" icon group with ") +
              std::to_string(images.size()) + " image(s) in language " +
              std::to_string(groupLanguage) + "; removed " + std::to_string(removedIcons) +
              " unused image(s)";
    return Error();
}

} // namespace quillon::resedit
