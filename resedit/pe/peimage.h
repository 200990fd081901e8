// Portable reader of PE32 / PE32+ images and their resource tree.
// Plain C++ (no Qt), so the resource editor and the self-extractor can use it.
#pragma once

#include "bytereader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::pe {

// Standard resource types (named apart from the RT_* macros of <windows.h>).
constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtGroupIcon = 14;
constexpr std::uint16_t kRtVersion = 16;

// A resource type or name: an integer ID or a UTF-16 string.
struct ResId
{
    bool isName = false;
    std::uint16_t id = 0;
    std::u16string name;

    static ResId fromId(std::uint16_t value)
    {
        ResId r;
        r.id = value;
        return r;
    }
    static ResId fromName(std::u16string value)
    {
        ResId r;
        r.isName = true;
        r.name = std::move(value);
        return r;
    }
    bool operator==(const ResId &o) const
    {
        return isName == o.isName && (isName ? name == o.name : id == o.id);
    }
    bool operator!=(const ResId &o) const { return !(*this == o); }
};

struct Resource
{
    ResId type;
    ResId name;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    std::vector<std::uint8_t> data;
};

struct Section
{
    std::string name; // up to 8 bytes, NULs stripped
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t characteristics = 0;
};

struct DataDirectory
{
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

constexpr std::size_t kDirResource = 2;
constexpr std::size_t kDirSecurity = 4; // file offset, not an RVA

struct PeImage
{
    bool pe32plus = false;
    std::uint32_t peOffset = 0;             // e_lfanew
    std::uint64_t optionalHeaderOffset = 0; // file offset of the optional header
    std::uint16_t optionalHeaderSize = 0;
    std::uint64_t sectionTableOffset = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t checksum = 0;
    std::uint16_t subsystem = 0;
    std::vector<Section> sections;
    std::vector<DataDirectory> dataDirectories;
    std::uint64_t imageEnd = 0; // end of the last section's raw data; an overlay starts here
    std::uint64_t fileSize = 0;

    // Every resource, in the order the system enumerates them: types, then
    // names, then languages; at each level named entries first (ordered as
    // stored), then integer IDs ascending.
    std::vector<Resource> resources;
};

// Parses headers, section table and resource tree of `data`. Hostile input
// yields an Error (never a crash or an out-of-bounds read). A file without a
// resource directory parses fine with no resources.
Error parsePe(const std::uint8_t *data, std::uint64_t size, PeImage &out);

// Reads a whole file into memory and parses it.
Error loadPeFile(const std::string &path, std::vector<std::uint8_t> &bytes, PeImage &out);

// Names of resources of `type`, in EnumResourceNamesW order (each name once).
std::vector<ResId> resourceNames(const PeImage &image, const ResId &type);

// The languages the system loader tries, in order, before it takes the first
// one stored: neutral, the user's language, English (United States), English.
// Off Windows there is no user language; English stands in for it.
constexpr std::uint16_t kLoaderLanguages[] = {0x0000, 0x0409, 0x0009};

// FindResourceW: the resource with this type and name in the language the
// loader would choose (kLoaderLanguages, else the first in enumeration
// order), or nullptr.
const Resource *findResource(const PeImage &image, const ResId &type, const ResId &name);

// The same, with an exact language.
const Resource *findResource(const PeImage &image, const ResId &type, const ResId &name,
                             std::uint16_t language);

// Maps an RVA to a file offset through the section table; false when the
// RVA lies in no section's raw data.
bool rvaToOffset(const PeImage &image, std::uint32_t rva, std::uint64_t &offset);

} // namespace quillon::pe
