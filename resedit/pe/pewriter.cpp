#include "pewriter.h"

#include "bytewriter.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace quillon::pe {

namespace {

// Caps before anything is allocated or laid out.
constexpr std::size_t kMaxResources = 65536;
constexpr std::uint64_t kMaxResourceBytes = 256ull * 1024 * 1024;
constexpr std::uint16_t kMaxSections = 96;
constexpr std::uint32_t kMaxFileAlignment = 0x10000;

constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnMemRead = 0x40000000;

// Offsets inside the headers.
constexpr std::uint64_t kCoffNumberOfSections = 6;     // from the PE signature
constexpr std::uint64_t kCoffPointerToSymbols = 12;    // from the PE signature
constexpr std::uint64_t kOptSizeOfInitializedData = 8; // from the optional header
constexpr std::uint64_t kOptSizeOfImage = 56;
constexpr std::uint64_t kOptCheckSum = 64;
constexpr std::uint64_t kSectionHeaderSize = 40;

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment)
{
    if (alignment == 0)
        return value;
    return (value + alignment - 1) / alignment * alignment;
}

std::uint32_t getU32(const std::vector<std::uint8_t> &buf, std::uint64_t offset)
{
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(buf[offset + i]) << (8 * i);
    return value;
}

// Named entries first (ordered by their code units), then IDs ascending:
// the order the loader's binary search expects.
bool resIdLess(const ResId &a, const ResId &b)
{
    if (a.isName != b.isName)
        return a.isName;
    return a.isName ? a.name < b.name : a.id < b.id;
}

struct ResIdOrder
{
    bool operator()(const ResId &a, const ResId &b) const { return resIdLess(a, b); }
};

using LangMap = std::map<std::uint16_t, const Resource *>;
using NameMap = std::map<ResId, LangMap, ResIdOrder>;
using TypeMap = std::map<ResId, NameMap, ResIdOrder>;

// Lays out a resource tree for a section at `baseRva`: the three directory
// levels, the data entries, the name strings, then the data, each data blob
// on an 8-byte boundary. Measures first, then writes.
Error buildResourceTree(const std::vector<Resource> &resources, std::uint32_t baseRva,
                        std::vector<std::uint8_t> &tree)
{
    if (resources.size() > kMaxResources)
        return Error(ErrorKind::LimitExceeded, 0, "too many resources");

    TypeMap types;
    std::uint64_t dataBytes = 0;
    for (const Resource &res : resources) {
        if ((res.type.isName && res.type.name.size() > 0xFFFF) ||
            (res.name.isName && res.name.name.size() > 0xFFFF))
            return Error(ErrorKind::LimitExceeded, 0, "resource name too long");
        LangMap &langs = types[res.type][res.name];
        if (!langs.emplace(res.language, &res).second)
            return Error(ErrorKind::Malformed, 0, "duplicate resource");
        dataBytes += alignUp(res.data.size(), 8);
        if (dataBytes > kMaxResourceBytes)
            return Error(ErrorKind::LimitExceeded, 0, "resource data too large");
    }

    // Measure.
    std::uint64_t dirBytes = 16 + 8 * types.size();
    std::size_t leafCount = 0;
    std::uint64_t stringBytes = 0;
    for (const auto &[type, names] : types) {
        dirBytes += 16 + 8 * names.size();
        if (type.isName)
            stringBytes += 2 + 2 * type.name.size();
        for (const auto &[name, langs] : names) {
            dirBytes += 16 + 8 * langs.size();
            leafCount += langs.size();
            if (name.isName)
                stringBytes += 2 + 2 * name.name.size();
        }
    }
    const std::uint64_t entriesOffset = dirBytes;
    const std::uint64_t stringsOffset = entriesOffset + 16 * leafCount;
    const std::uint64_t dataOffset = alignUp(stringsOffset + stringBytes, 8);
    const std::uint64_t total = dataOffset + dataBytes;
    if (total + baseRva > 0xFFFFFFFFull)
        return Error(ErrorKind::LimitExceeded, 0, "resource section too large");

    // Write.
    tree.assign(static_cast<std::size_t>(total), 0);
    std::uint64_t nextDir = 0;
    std::uint64_t nextEntry = entriesOffset;
    std::uint64_t nextString = stringsOffset;
    std::uint64_t nextData = dataOffset;

    auto writeString = [&](const std::u16string &text) {
        const std::uint64_t at = nextString;
        storeU16le(tree, at, static_cast<std::uint16_t>(text.size()));
        for (std::size_t i = 0; i < text.size(); ++i)
            storeU16le(tree, at + 2 + 2 * i, static_cast<std::uint16_t>(text[i]));
        nextString += 2 + 2 * text.size();
        return static_cast<std::uint32_t>(at) | 0x80000000u;
    };
    auto entryId = [&](const ResId &id) {
        return id.isName ? writeString(id.name) : static_cast<std::uint32_t>(id.id);
    };
    // A directory header with `named` name entries and `ids` ID entries;
    // returns the offset of its first entry.
    auto writeDir = [&](std::size_t named, std::size_t ids) {
        const std::uint64_t at = nextDir;
        storeU16le(tree, at + 12, static_cast<std::uint16_t>(named));
        storeU16le(tree, at + 14, static_cast<std::uint16_t>(ids));
        nextDir += 16 + 8 * (named + ids);
        return at + 16;
    };
    auto countNamed = [](const auto &map) {
        std::size_t n = 0;
        for (const auto &entry : map)
            n += entry.first.isName ? 1 : 0;
        return n;
    };

    std::uint64_t typeSlot = writeDir(countNamed(types), types.size() - countNamed(types));
    for (const auto &[type, names] : types) {
        const std::uint64_t nameDir = nextDir;
        storeU32le(tree, typeSlot, entryId(type));
        storeU32le(tree, typeSlot + 4, static_cast<std::uint32_t>(nameDir) | 0x80000000u);
        typeSlot += 8;
        std::uint64_t nameSlot = writeDir(countNamed(names), names.size() - countNamed(names));
        for (const auto &[name, langs] : names) {
            const std::uint64_t langDir = nextDir;
            storeU32le(tree, nameSlot, entryId(name));
            storeU32le(tree, nameSlot + 4, static_cast<std::uint32_t>(langDir) | 0x80000000u);
            nameSlot += 8;
            std::uint64_t langSlot = writeDir(0, langs.size());
            for (const auto &[language, res] : langs) {
                storeU32le(tree, langSlot, language);
                storeU32le(tree, langSlot + 4, static_cast<std::uint32_t>(nextEntry));
                langSlot += 8;
                storeU32le(tree, nextEntry, static_cast<std::uint32_t>(baseRva + nextData));
                storeU32le(tree, nextEntry + 4, static_cast<std::uint32_t>(res->data.size()));
                storeU32le(tree, nextEntry + 8, res->codePage);
                nextEntry += 16;
                if (!res->data.empty())
                    std::memcpy(tree.data() + nextData, res->data.data(), res->data.size());
                nextData += alignUp(res->data.size(), 8);
            }
        }
    }
    return Error();
}

// The PE checksum: 16-bit one's-complement style sum of the file, whose
// checksum field must hold zero, plus the file length.
std::uint32_t peChecksum(const std::vector<std::uint8_t> &file)
{
    std::uint64_t sum = 0;
    const std::size_t size = file.size();
    for (std::size_t i = 0; i < size; i += 2) {
        std::uint32_t word = file[i];
        if (i + 1 < size)
            word |= static_cast<std::uint32_t>(file[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>((sum & 0xFFFF) + size);
}

bool sameResourceKey(const Resource &a, const Resource &b)
{
    return a.type == b.type && a.name == b.name && a.language == b.language;
}

// Where the new tree goes, decided from the image alone.
struct SectionPlan
{
    std::uint64_t imageEnd = 0;     // end of the image in the file
    std::uint64_t optional = 0;     // optional header
    std::uint64_t dirTable = 0;     // data directories
    std::uint64_t sectionTable = 0; // section headers
    std::size_t sectionCount = 0;

    // In place: the section holding the current tree is the last one in memory
    // and in the file, so it can grow or shrink where it is. Otherwise a new
    // section is appended.
    bool inPlace = false;
    std::size_t target = 0;
    std::uint64_t sectionRaw = 0;
    std::uint32_t sectionVa = 0;
    std::uint64_t oldRawSize = 0;
    bool oldCountsAsData = false;

    // The overlay after the image, less a certificate table in it.
    std::uint64_t overlayBegin = 0;
    std::uint64_t certBegin = 0;
    std::uint64_t certEnd = 0;
    bool dropCertificate = false;
};

// The new section's place in the file and in memory, once the tree is built.
struct SectionSize
{
    std::uint64_t treeSize = 0;
    std::uint64_t rawSize = 0;
    std::uint64_t imageEnd = 0;
    std::uint64_t sizeOfImage = 0;
};

Error planSection(const std::vector<std::uint8_t> &original, const PeImage &image,
                  SectionPlan &plan)
{
    const std::uint64_t fileSize = original.size();
    if (image.fileSize != fileSize || image.imageEnd > fileSize)
        return Error(ErrorKind::Malformed, 0, "image does not match its bytes");
    if (image.dataDirectories.size() <= kDirResource)
        return Error(ErrorKind::Unsupported, image.optionalHeaderOffset,
                     "no resource data directory slot");
    const auto powerOfTwo = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (!powerOfTwo(image.fileAlignment) || !powerOfTwo(image.sectionAlignment))
        return Error(ErrorKind::Malformed, image.optionalHeaderOffset, "section alignment");
    // The format allows 512 bytes to 64 KiB; more would only pad the file.
    if (image.fileAlignment > kMaxFileAlignment)
        return Error(ErrorKind::LimitExceeded, image.optionalHeaderOffset, "file alignment");
    if (image.sections.empty())
        return Error(ErrorKind::Unsupported, image.sectionTableOffset, "image without sections");

    // Where the image ends in the file: after the last section's data, and
    // never inside the headers (sections may all be without raw data).
    plan.imageEnd = std::max<std::uint64_t>(
        {image.imageEnd, std::min<std::uint64_t>(image.sizeOfHeaders, fileSize),
         std::min<std::uint64_t>(
             image.sectionTableOffset + kSectionHeaderSize * image.sections.size(), fileSize)});
    plan.optional = image.optionalHeaderOffset;
    plan.dirTable = plan.optional + (image.pe32plus ? 112 : 96);
    plan.sectionTable = image.sectionTableOffset;
    plan.sectionCount = image.sections.size();
    const std::uint64_t sectionTable = plan.sectionTable;
    const std::size_t sectionCount = plan.sectionCount;
    if (!rangeInside(plan.dirTable, 8 * image.dataDirectories.size(), fileSize) ||
        !rangeInside(sectionTable, kSectionHeaderSize * sectionCount, fileSize) ||
        !rangeInside(plan.optional, kOptCheckSum + 4, fileSize))
        return Error(ErrorKind::Truncated, plan.optional, "headers");

    // The section holding the current tree, and whether it is the last one
    // both in memory and in the file.
    std::size_t lastByVa = 0;
    std::uint64_t memoryEnd = 0;
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const Section &s = image.sections[i];
        const std::uint64_t end =
            std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize);
        if (s.virtualAddress >= image.sections[lastByVa].virtualAddress)
            lastByVa = i;
        memoryEnd = std::max(memoryEnd, end);
    }
    const DataDirectory resourceDir = image.dataDirectories[kDirResource];
    plan.target = sectionCount;
    if (resourceDir.rva != 0 && resourceDir.size != 0) {
        for (std::size_t i = 0; i < sectionCount; ++i) {
            if (image.sections[i].virtualAddress == resourceDir.rva)
                plan.target = i;
        }
        if (plan.target == lastByVa) {
            const Section &s = image.sections[plan.target];
            const std::uint64_t rawEnd = std::uint64_t{s.rawOffset} + s.rawSize;
            // Its data must follow the headers and every other section's data.
            const std::uint64_t headersEnd = std::max<std::uint64_t>(
                image.sizeOfHeaders, sectionTable + kSectionHeaderSize * sectionCount);
            bool lastInFile = rawEnd == plan.imageEnd && s.rawOffset >= headersEnd;
            for (std::size_t i = 0; i < sectionCount && lastInFile; ++i) {
                const Section &other = image.sections[i];
                if (i != plan.target && other.rawSize != 0 &&
                    std::uint64_t{other.rawOffset} + other.rawSize > s.rawOffset)
                    lastInFile = false;
            }
            plan.inPlace = lastInFile;
        }
    }

    // Certificates sit in the overlay; any edit invalidates them.
    plan.overlayBegin = plan.imageEnd;
    plan.certBegin = fileSize;
    plan.certEnd = fileSize;
    if (image.dataDirectories.size() > kDirSecurity && image.dataDirectories[kDirSecurity].size) {
        plan.dropCertificate = true;
        const DataDirectory cert = image.dataDirectories[kDirSecurity];
        if (cert.rva >= plan.overlayBegin && rangeInside(cert.rva, cert.size, fileSize)) {
            plan.certBegin = cert.rva;
            // Its 8-byte padding belongs to it too.
            plan.certEnd =
                std::min<std::uint64_t>(alignUp(std::uint64_t{cert.rva} + cert.size, 8), fileSize);
        }
    }

    if (plan.inPlace) {
        const Section &s = image.sections[plan.target];
        plan.sectionRaw = s.rawOffset;
        plan.sectionVa = s.virtualAddress;
        plan.oldRawSize = s.rawSize;
        plan.oldCountsAsData = (s.characteristics & kScnInitializedData) != 0;
        return Error();
    }
    if (sectionCount >= kMaxSections)
        return Error(ErrorKind::LimitExceeded, sectionTable, "too many sections");
    // A new header must fit between the section table and the first
    // section's data, in bytes that hold nothing yet.
    const std::uint64_t headerAt = sectionTable + kSectionHeaderSize * sectionCount;
    std::uint64_t firstRaw = image.sizeOfHeaders;
    for (const Section &s : image.sections) {
        if (s.rawSize != 0 && s.rawOffset != 0)
            firstRaw = std::min<std::uint64_t>(firstRaw, s.rawOffset);
    }
    if (headerAt + kSectionHeaderSize > firstRaw ||
        !rangeInside(headerAt, kSectionHeaderSize, fileSize))
        return Error(ErrorKind::Unsupported, headerAt, "no room for a new section header");
    for (std::uint64_t i = 0; i < kSectionHeaderSize; ++i) {
        if (original[headerAt + i] != 0)
            return Error(ErrorKind::Unsupported, headerAt, "no room for a new section header");
    }
    plan.sectionRaw = alignUp(plan.imageEnd, image.fileAlignment);
    const std::uint64_t va = alignUp(memoryEnd, image.sectionAlignment);
    if (va > 0xFFFFFFFFull)
        return Error(ErrorKind::LimitExceeded, sectionTable, "image too large");
    plan.sectionVa = static_cast<std::uint32_t>(va);
    return Error();
}

// The image up to the resource data, the new tree, then the overlay.
void emitImage(const std::vector<std::uint8_t> &original, const SectionPlan &plan,
               const std::vector<std::uint8_t> &tree, const SectionSize &size,
               std::vector<std::uint8_t> &out)
{
    const auto at = [&original](std::uint64_t offset) {
        return original.begin() + static_cast<std::ptrdiff_t>(offset);
    };
    const std::uint64_t keep = plan.inPlace ? plan.sectionRaw : plan.imageEnd;
    out.assign(original.begin(), at(keep));
    out.resize(static_cast<std::size_t>(plan.sectionRaw), 0);
    out.insert(out.end(), tree.begin(), tree.end());
    out.resize(static_cast<std::size_t>(size.imageEnd), 0);
    out.insert(out.end(), at(plan.overlayBegin), at(plan.certBegin));
    out.insert(out.end(), at(plan.certEnd), original.end());
}

// Section header, COFF and optional header fields, data directories, the
// symbol table pointer and the checksum of the emitted image.
void patchHeaders(const PeImage &image, const SectionPlan &plan, const SectionSize &size,
                  std::vector<std::uint8_t> &out, std::vector<std::string> &notes)
{
    const std::uint64_t coff = image.peOffset; // the PE signature
    std::uint64_t headerAt = plan.sectionTable + kSectionHeaderSize * plan.target;
    bool countsAsData = plan.oldCountsAsData;
    if (!plan.inPlace) {
        headerAt = plan.sectionTable + kSectionHeaderSize * plan.sectionCount;
        static const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
        // The section that held the tree stays mapped but gives up its name:
        // a system resource updater that looks for the tree by that name (as
        // Wine's EndUpdateResource does) would take the old one up again.
        static const char retired[8] = {'.', 'o', 'l', 'd', 'r', 'e', 's', 0};
        for (std::size_t i = 0; i < plan.sectionCount; ++i) {
            std::uint8_t *oldName = out.data() + plan.sectionTable + kSectionHeaderSize * i;
            if (std::memcmp(oldName, name, 8) == 0)
                std::memcpy(oldName, retired, 8);
        }
        std::memcpy(out.data() + headerAt, name, 8);
        storeU32le(out, headerAt + 12, plan.sectionVa);
        storeU32le(out, headerAt + 20, static_cast<std::uint32_t>(plan.sectionRaw));
        storeU32le(out, headerAt + 36, kScnInitializedData | kScnMemRead);
        storeU16le(out, coff + kCoffNumberOfSections,
                   static_cast<std::uint16_t>(plan.sectionCount + 1));
        countsAsData = true;
    }
    storeU32le(out, headerAt + 8, static_cast<std::uint32_t>(size.treeSize));
    storeU32le(out, headerAt + 16, static_cast<std::uint32_t>(size.rawSize));

    const std::uint64_t optional = plan.optional;
    std::uint64_t initialized = getU32(out, optional + kOptSizeOfInitializedData);
    if (countsAsData)
        initialized = initialized - std::min(initialized, plan.oldRawSize) + size.rawSize;
    storeU32le(out, optional + kOptSizeOfInitializedData,
               static_cast<std::uint32_t>(std::min<std::uint64_t>(initialized, 0xFFFFFFFFull)));
    storeU32le(out, optional + kOptSizeOfImage,
               static_cast<std::uint32_t>(std::max<std::uint64_t>(
                   size.sizeOfImage, plan.inPlace ? 0 : image.sizeOfImage)));
    storeU32le(out, plan.dirTable + 8 * kDirResource, plan.sectionVa);
    storeU32le(out, plan.dirTable + 8 * kDirResource + 4,
               static_cast<std::uint32_t>(size.treeSize));
    if (plan.dropCertificate) {
        storeU32le(out, plan.dirTable + 8 * kDirSecurity, 0);
        storeU32le(out, plan.dirTable + 8 * kDirSecurity + 4, 0);
        notes.push_back("certificate table dropped");
    }

    // A COFF symbol table after the image moves with the overlay.
    const std::uint32_t symbols = getU32(out, coff + kCoffPointerToSymbols);
    if (symbols != 0 && symbols >= plan.imageEnd && symbols < plan.certBegin) {
        const std::uint64_t moved = symbols - plan.imageEnd + size.imageEnd;
        storeU32le(out, coff + kCoffPointerToSymbols,
                   moved <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(moved) : 0);
    }

    if (image.checksum != 0) {
        storeU32le(out, optional + kOptCheckSum, 0);
        storeU32le(out, optional + kOptCheckSum, peChecksum(out));
    }
}

} // namespace

WriteResult rebuildResources(const std::vector<std::uint8_t> &original, const PeImage &image,
                             const std::vector<Resource> &resources, std::vector<std::uint8_t> &out)
{
    WriteResult result;
    SectionPlan plan;
    result.error = planSection(original, image, plan);
    if (result.error.failed())
        return result;

    std::vector<std::uint8_t> tree;
    result.error = buildResourceTree(resources, plan.sectionVa, tree);
    if (result.error.failed())
        return result;
    SectionSize size;
    size.treeSize = tree.size();
    size.rawSize = alignUp(size.treeSize, image.fileAlignment);
    size.imageEnd = plan.sectionRaw + size.rawSize;
    size.sizeOfImage =
        alignUp(std::uint64_t{plan.sectionVa} + size.treeSize, image.sectionAlignment);
    if (size.imageEnd > 0xFFFFFFFFull || size.sizeOfImage > 0xFFFFFFFFull) {
        result.error = Error(ErrorKind::LimitExceeded, 0, "image too large");
        return result;
    }

    emitImage(original, plan, tree, size, out);
    patchHeaders(image, plan, size, out, result.notes);
    return result;
}

void upsertResource(std::vector<Resource> &resources, Resource resource)
{
    for (Resource &existing : resources) {
        if (sameResourceKey(existing, resource)) {
            existing = std::move(resource);
            return;
        }
    }
    resources.push_back(std::move(resource));
}

std::size_t removeResources(std::vector<Resource> &resources, const ResId &type, const ResId &name,
                            int language)
{
    const auto before = resources.size();
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource &r) {
                                       return r.type == type && r.name == name &&
                                              (language < 0 || r.language == language);
                                   }),
                    resources.end());
    return before - resources.size();
}

} // namespace quillon::pe
