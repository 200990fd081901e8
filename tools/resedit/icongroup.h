// The work of our resource editor: reading an ICO file and making its images
// an icon group of an executable's resource list. Plain C++ (no Qt).
#pragma once

#include "bytereader.h"
#include "peimage.h"
#include "pewriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::resedit {

constexpr std::uint16_t kDefaultLanguage = 1033;

struct IcoImage
{
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::vector<std::uint8_t> data;
};

// Parses an ICO file (header, directory, images). Every image must lie inside
// the file and be non-empty.
Error parseIco(const std::uint8_t *data, std::uint64_t size, std::vector<IcoImage> &images);

// Makes `images` the icon group `groupName` of `resources`: every language of
// that group is replaced by one group in the language the first of them had
// (`language` when it is not negative; 1033 when there was none). The images
// get the lowest free RT_ICON numbers; the old group's images go when no
// other group still uses them. `summary` says what was done, for the log.
Error replaceIconGroup(std::vector<pe::Resource> &resources, const pe::ResId &groupName,
                       int language, const std::vector<IcoImage> &images, std::string &summary);

} // namespace quillon::resedit
