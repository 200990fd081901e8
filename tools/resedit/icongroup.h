// The work of our resource editor: making the images of an ICO file an icon
// group of an executable's resource list. Plain C++ (no Qt).
#pragma once

#include "ico.h"
#include "peimage.h"
#include "pewriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::resedit {

constexpr std::uint16_t kDefaultLanguage = 1033;

// Makes `images` (as ico::readIco gives them) the icon group `groupName` of
// `resources`: every language of that group is replaced by one group in the
// language the first of them had (`language` when it is not negative; 1033
// when there was none). The images get the lowest free RT_ICON numbers; the
// old group's images go when no other group still uses them. `summary` says
// what was done, for the log.
Error replaceIconGroup(std::vector<pe::Resource> &resources, const pe::ResId &groupName,
                       int language, const std::vector<ico::Image> &images, std::string &summary);

} // namespace quillon::resedit
