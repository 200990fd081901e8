#include "peimage.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace quillon::pe {

namespace {

// Limits checked before anything is allocated or looped over.
constexpr std::uint64_t kMaxResourceSize = 256ull << 20; // one resource
constexpr std::uint64_t kMaxResourceCount = 1u << 16;    // leaves in the tree
constexpr std::uint64_t kMaxEntriesVisited = 1u << 20;   // directory entries in total
constexpr std::uint32_t kMaxDataDirectories = 16;
constexpr std::uint64_t kMaxImageFileSize = 4ull << 30;

constexpr std::uint16_t kMagicPe32 = 0x10b;
constexpr std::uint16_t kMagicPe32Plus = 0x20b;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kNameFlag = 0x80000000u;

struct DirEntry
{
    ResId id;
    std::uint32_t target = 0; // offset inside the resource section, flag stripped
    bool subdirectory = false;
};

// Finds the section whose raw data holds [rva, rva + length), and the file
// offset of rva. The range must also lie inside the file.
bool mapRange(const PeImage &image, std::uint32_t rva, std::uint64_t length, std::uint64_t &offset)
{
    for (const Section &s : image.sections) {
        if (rva < s.virtualAddress)
            continue;
        const std::uint64_t delta = rva - s.virtualAddress;
        if (!rangeInside(delta, length, s.rawSize) || (length == 0 && delta >= s.rawSize))
            continue;
        const std::uint64_t fileOffset = std::uint64_t(s.rawOffset) + delta;
        if (!rangeInside(fileOffset, length, image.fileSize))
            continue;
        offset = fileOffset;
        return true;
    }
    // The headers are mapped at RVA 0 as they stand in the file.
    if (rangeInside(rva, length, image.sizeOfHeaders) && rangeInside(rva, length, image.fileSize) &&
        (length > 0 || rva < image.sizeOfHeaders)) {
        offset = rva;
        return true;
    }
    return false;
}

class ResourceTreeReader
{
public:
    ResourceTreeReader(const std::uint8_t *file, PeImage &image, ByteReader tree)
        : m_file(file), m_image(image), m_tree(tree)
    {
    }

    Error read()
    {
        std::vector<DirEntry> types;
        Error err = readDirectory(0, types);
        if (err.failed())
            return err;
        for (const DirEntry &type : types) {
            if (!type.subdirectory)
                return malformed(type.target, "resource type entry is not a directory");
            std::vector<DirEntry> names;
            if ((err = readDirectory(type.target, names)).failed())
                return err;
            for (const DirEntry &name : names) {
                if (!name.subdirectory)
                    return malformed(name.target, "resource name entry is not a directory");
                std::vector<DirEntry> languages;
                if ((err = readDirectory(name.target, languages)).failed())
                    return err;
                for (const DirEntry &language : languages) {
                    // A fourth level is refused: loops end here too.
                    if (language.subdirectory)
                        return malformed(language.target, "resource tree deeper than 3 levels");
                    if (language.id.isName)
                        return malformed(language.target, "resource language is a string");
                    if ((err = readData(type.id, name.id, language)).failed())
                        return err;
                }
            }
        }
        return Error();
    }

private:
    Error malformed(std::uint64_t offset, const char *context) const
    {
        return Error(ErrorKind::Malformed, m_tree.base() + offset, context);
    }

    Error readDirectory(std::uint32_t offset, std::vector<DirEntry> &out)
    {
        std::uint16_t named = 0;
        std::uint16_t ids = 0;
        if (!m_tree.peekAt(std::uint64_t(offset) + 12, named) ||
            !m_tree.peekAt(std::uint64_t(offset) + 14, ids))
            return Error(ErrorKind::Truncated, m_tree.base() + offset, "resource directory");
        const std::uint64_t count = std::uint64_t(named) + ids;
        m_entriesVisited += count;
        if (m_entriesVisited > kMaxEntriesVisited)
            return Error(ErrorKind::LimitExceeded, m_tree.base() + offset,
                         "too many resource directory entries");
        ByteReader entries = m_tree.sub(std::uint64_t(offset) + 16, count * 8);
        if (!entries.ok())
            return Error(ErrorKind::Truncated, m_tree.base() + offset,
                         "resource directory entries");
        out.clear();
        out.reserve(static_cast<std::size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint32_t nameField = 0;
            std::uint32_t targetField = 0;
            entries.u32le(nameField);
            entries.u32le(targetField);
            DirEntry entry;
            entry.subdirectory = (targetField & kSubdirectoryFlag) != 0;
            entry.target = targetField & ~kSubdirectoryFlag;
            if (nameField & kNameFlag) {
                Error err = readName(nameField & ~kNameFlag, entry.id);
                if (err.failed())
                    return err;
            } else {
                if (nameField > 0xffffu)
                    return malformed(offset, "resource ID above 65535");
                entry.id = ResId::fromId(static_cast<std::uint16_t>(nameField));
            }
            out.push_back(std::move(entry));
        }
        // The system reports named entries first as stored, then IDs ascending.
        std::stable_partition(out.begin(), out.end(),
                              [](const DirEntry &e) { return e.id.isName; });
        const auto firstId =
            std::find_if(out.begin(), out.end(), [](const DirEntry &e) { return !e.id.isName; });
        std::stable_sort(firstId, out.end(),
                         [](const DirEntry &a, const DirEntry &b) { return a.id.id < b.id.id; });
        return Error();
    }

    Error readName(std::uint32_t offset, ResId &out) const
    {
        std::uint16_t length = 0;
        if (!m_tree.peekAt(offset, length))
            return Error(ErrorKind::Truncated, m_tree.base() + offset, "resource name");
        ByteReader chars = m_tree.sub(std::uint64_t(offset) + 2, std::uint64_t(length) * 2);
        if (!chars.ok())
            return Error(ErrorKind::Truncated, m_tree.base() + offset, "resource name");
        std::u16string name;
        name.reserve(length);
        for (std::uint16_t i = 0; i < length; ++i) {
            std::uint16_t c = 0;
            chars.u16le(c);
            name.push_back(static_cast<char16_t>(c));
        }
        out = ResId::fromName(std::move(name));
        return Error();
    }

    Error readData(const ResId &type, const ResId &name, const DirEntry &language)
    {
        std::uint32_t rva = 0;
        std::uint32_t size = 0;
        std::uint32_t codePage = 0;
        ByteReader entry = m_tree.sub(language.target, 16);
        if (!entry.u32le(rva) || !entry.u32le(size) || !entry.u32le(codePage))
            return Error(ErrorKind::Truncated, m_tree.base() + language.target,
                         "resource data entry");
        if (m_image.resources.size() >= kMaxResourceCount)
            return Error(ErrorKind::LimitExceeded, m_tree.base() + language.target,
                         "too many resources");
        if (size > kMaxResourceSize)
            return Error(ErrorKind::LimitExceeded, m_tree.base() + language.target,
                         "resource larger than 256 MiB");
        // Resources may share data, so the copies are capped as a whole.
        m_bytesCopied += size;
        if (m_bytesCopied > 2 * m_image.fileSize + (1u << 20))
            return Error(ErrorKind::LimitExceeded, m_tree.base() + language.target,
                         "resource data larger than the file");
        std::uint64_t offset = 0;
        if (size > 0 && !mapRange(m_image, rva, size, offset))
            return malformed(language.target, "resource data outside every section");
        Resource res;
        res.type = type;
        res.name = name;
        res.language = language.id.id;
        res.codePage = codePage;
        if (size > 0)
            res.data.assign(m_file + offset, m_file + offset + size);
        m_image.resources.push_back(std::move(res));
        return Error();
    }

    const std::uint8_t *m_file;
    PeImage &m_image;
    ByteReader m_tree;
    std::uint64_t m_entriesVisited = 0;
    std::uint64_t m_bytesCopied = 0;
};

} // namespace

Error parsePe(const std::uint8_t *data, std::uint64_t size, PeImage &out)
{
    out = PeImage();
    out.fileSize = size;
    ByteReader file(data, size);

    std::uint16_t mz = 0;
    if (!file.peekAt(0, mz))
        return Error(ErrorKind::Truncated, 0, "DOS header");
    if (mz != 0x5a4d)
        return Error(ErrorKind::Malformed, 0, "no MZ signature");
    if (!file.peekAt(0x3c, out.peOffset))
        return Error(ErrorKind::Truncated, 0x3c, "DOS header");

    ByteReader coff = file.sub(out.peOffset, 24);
    std::uint32_t signature = 0;
    std::uint16_t sectionCount = 0;
    coff.u32le(signature);
    coff.skip(2); // Machine: both PE32 and PE32+ are read whatever it says
    coff.u16le(sectionCount);
    coff.skip(12);
    coff.u16le(out.optionalHeaderSize);
    if (!coff.ok())
        return Error(ErrorKind::Truncated, out.peOffset, "PE header");
    if (signature != 0x00004550)
        return Error(ErrorKind::Malformed, out.peOffset, "no PE signature");

    out.optionalHeaderOffset = std::uint64_t(out.peOffset) + 24;
    ByteReader opt = file.sub(out.optionalHeaderOffset, out.optionalHeaderSize);
    if (!opt.ok())
        return Error(ErrorKind::Truncated, out.optionalHeaderOffset, "optional header");
    std::uint16_t magic = 0;
    if (!opt.peekAt(0, magic))
        return Error(ErrorKind::Truncated, out.optionalHeaderOffset, "optional header");
    if (magic != kMagicPe32 && magic != kMagicPe32Plus)
        return Error(ErrorKind::Unsupported, out.optionalHeaderOffset, "optional header magic");
    out.pe32plus = magic == kMagicPe32Plus;
    const std::uint64_t countOffset = out.pe32plus ? 108 : 92;
    std::uint32_t directoryCount = 0;
    if (!opt.peekAt(32, out.sectionAlignment) || !opt.peekAt(36, out.fileAlignment) ||
        !opt.peekAt(56, out.sizeOfImage) || !opt.peekAt(60, out.sizeOfHeaders) ||
        !opt.peekAt(64, out.checksum) || !opt.peekAt(68, out.subsystem) ||
        !opt.peekAt(countOffset, directoryCount))
        return Error(ErrorKind::Truncated, out.optionalHeaderOffset, "optional header");
    // The loader reads at most 16 directories, and only those the header holds.
    directoryCount = std::min(directoryCount, kMaxDataDirectories);
    ByteReader dirs = opt.sub(countOffset + 4, std::uint64_t(directoryCount) * 8);
    if (!dirs.ok())
        return Error(ErrorKind::Truncated, out.optionalHeaderOffset + countOffset,
                     "data directories");
    out.dataDirectories.resize(directoryCount);
    for (DataDirectory &d : out.dataDirectories) {
        dirs.u32le(d.rva);
        dirs.u32le(d.size);
    }

    out.sectionTableOffset = out.optionalHeaderOffset + out.optionalHeaderSize;
    ByteReader table = file.sub(out.sectionTableOffset, std::uint64_t(sectionCount) * 40);
    if (!table.ok())
        return Error(ErrorKind::Truncated, out.sectionTableOffset, "section table");
    out.sections.resize(sectionCount);
    for (Section &s : out.sections) {
        char name[8] = {};
        table.bytes(name, 8);
        s.name.assign(name, strnlen(name, 8));
        table.u32le(s.virtualSize);
        table.u32le(s.virtualAddress);
        table.u32le(s.rawSize);
        table.u32le(s.rawOffset);
        table.skip(12);
        table.u32le(s.characteristics);
        if (s.rawSize > 0)
            out.imageEnd = std::max(out.imageEnd, std::uint64_t(s.rawOffset) + s.rawSize);
    }
    out.imageEnd = std::min(out.imageEnd, size);

    if (out.dataDirectories.size() <= kDirResource)
        return Error();
    const DataDirectory res = out.dataDirectories[kDirResource];
    if (res.rva == 0 || res.size == 0)
        return Error();
    // The directory size is often inexact; the tree may use the whole rest
    // of its section.
    std::uint64_t treeOffset = 0;
    if (!mapRange(out, res.rva, 16, treeOffset))
        return Error(ErrorKind::Malformed, out.optionalHeaderOffset,
                     "resource directory outside every section");
    std::uint64_t treeEnd = size;
    for (const Section &s : out.sections) {
        const std::uint64_t start = s.rawOffset;
        const std::uint64_t end = start + s.rawSize;
        if (treeOffset >= start && treeOffset < end)
            treeEnd = std::min(end, size);
    }
    ResourceTreeReader tree(data, out, file.sub(treeOffset, treeEnd - treeOffset));
    Error err = tree.read();
    if (err.failed())
        out.resources.clear();
    return err;
}

Error loadPeFile(const std::string &path, std::vector<std::uint8_t> &bytes, PeImage &out)
{
    out = PeImage();
    bytes.clear();
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return Error(ErrorKind::Io, 0, "cannot open " + path);
    const std::streamoff length = in.tellg();
    if (length < 0)
        return Error(ErrorKind::Io, 0, "cannot read " + path);
    if (static_cast<std::uint64_t>(length) > kMaxImageFileSize)
        return Error(ErrorKind::LimitExceeded, 0, "file larger than 4 GiB");
    bytes.resize(static_cast<std::size_t>(length));
    in.seekg(0);
    if (length > 0 && !in.read(reinterpret_cast<char *>(bytes.data()), length))
        return Error(ErrorKind::Io, 0, "cannot read " + path);
    return parsePe(bytes.data(), bytes.size(), out);
}

std::vector<ResId> resourceNames(const PeImage &image, const ResId &type)
{
    std::vector<ResId> names;
    for (const Resource &r : image.resources) {
        if (r.type != type)
            continue;
        // Languages of one name are adjacent, so each name is reported once.
        if (names.empty() || names.back() != r.name)
            names.push_back(r.name);
    }
    return names;
}

const Resource *findResource(const PeImage &image, const ResId &type, const ResId &name)
{
    const Resource *first = nullptr;
    const Resource *byRank[std::size(kLoaderLanguages)] = {};
    for (const Resource &r : image.resources) {
        if (r.type != type || r.name != name)
            continue;
        if (!first)
            first = &r;
        for (std::size_t i = 0; i < std::size(kLoaderLanguages); ++i) {
            if (r.language == kLoaderLanguages[i] && !byRank[i])
                byRank[i] = &r;
        }
    }
    for (const Resource *r : byRank) {
        if (r)
            return r;
    }
    return first;
}

const Resource *findResource(const PeImage &image, const ResId &type, const ResId &name,
                             std::uint16_t language)
{
    for (const Resource &r : image.resources) {
        if (r.type == type && r.name == name && r.language == language)
            return &r;
    }
    return nullptr;
}

bool rvaToOffset(const PeImage &image, std::uint32_t rva, std::uint64_t &offset)
{
    return mapRange(image, rva, 0, offset);
}

} // namespace quillon::pe
