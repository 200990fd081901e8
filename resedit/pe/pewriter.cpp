#include "pewriter.h"

#include "bytewriter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    std::size_t nameCount = 0;
    std::size_t leafCount = 0;
    std::uint64_t stringBytes = 0;
    for (const auto &[type, names] : types) {
        dirBytes += 16 + 8 * names.size();
        if (type.isName)
            stringBytes += 2 + 2 * type.name.size();
        for (const auto &[name, langs] : names) {
            ++nameCount;
            dirBytes += 16 + 8 * langs.size();
            leafCount += langs.size();
            if (name.isName)
                stringBytes += 2 + 2 * name.name.size();
        }
    }
    (void)nameCount;
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

} // namespace

WriteResult rebuildResources(const std::vector<std::uint8_t> &original, const PeImage &image,
                             const std::vector<Resource> &resources, std::vector<std::uint8_t> &out)
{
    WriteResult result;
    auto fail = [&](ErrorKind kind, std::uint64_t offset, const char *context) {
        result.error = Error(kind, offset, context);
        return result;
    };

    const std::uint64_t fileSize = original.size();
    if (image.fileSize != fileSize || image.imageEnd > fileSize)
        return fail(ErrorKind::Malformed, 0, "image does not match its bytes");
    if (image.dataDirectories.size() <= DIR_RESOURCE)
        return fail(ErrorKind::Unsupported, image.optionalHeaderOffset,
                    "no resource data directory slot");
    const auto powerOfTwo = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (!powerOfTwo(image.fileAlignment) || !powerOfTwo(image.sectionAlignment))
        return fail(ErrorKind::Malformed, image.optionalHeaderOffset, "section alignment");
    // The format allows 512 bytes to 64 KiB; more would only pad the file.
    if (image.fileAlignment > kMaxFileAlignment)
        return fail(ErrorKind::LimitExceeded, image.optionalHeaderOffset, "file alignment");
    if (image.sections.empty())
        return fail(ErrorKind::Unsupported, image.sectionTableOffset, "image without sections");

    // Where the image ends in the file: after the last section's data, and
    // never inside the headers (sections may all be without raw data).
    const std::uint64_t imageEnd = std::max<std::uint64_t>(
        {image.imageEnd, std::min<std::uint64_t>(image.sizeOfHeaders, fileSize),
         std::min<std::uint64_t>(
             image.sectionTableOffset + kSectionHeaderSize * image.sections.size(), fileSize)});
    const std::uint64_t optional = image.optionalHeaderOffset;
    const std::uint64_t dirTable = optional + (image.pe32plus ? 112 : 96);
    const std::uint64_t sectionTable = image.sectionTableOffset;
    const std::size_t sectionCount = image.sections.size();
    if (!rangeInside(dirTable, 8 * image.dataDirectories.size(), fileSize) ||
        !rangeInside(sectionTable, kSectionHeaderSize * sectionCount, fileSize) ||
        !rangeInside(optional, kOptCheckSum + 4, fileSize))
        return fail(ErrorKind::Truncated, optional, "headers");

    // The section holding the current tree, and whether it is the last one
    // both in memory and in the file, so it can grow or shrink in place.
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
    const DataDirectory resourceDir = image.dataDirectories[DIR_RESOURCE];
    bool inPlace = false;
    std::size_t target = sectionCount;
    if (resourceDir.rva != 0 && resourceDir.size != 0) {
        for (std::size_t i = 0; i < sectionCount; ++i) {
            if (image.sections[i].virtualAddress == resourceDir.rva)
                target = i;
        }
        if (target == lastByVa) {
            const Section &s = image.sections[target];
            const std::uint64_t rawEnd = std::uint64_t{s.rawOffset} + s.rawSize;
            // Its data must follow the headers and every other section's data.
            const std::uint64_t headersEnd = std::max<std::uint64_t>(
                image.sizeOfHeaders, sectionTable + kSectionHeaderSize * sectionCount);
            bool lastInFile = rawEnd == imageEnd && s.rawOffset >= headersEnd;
            for (std::size_t i = 0; i < sectionCount && lastInFile; ++i) {
                const Section &other = image.sections[i];
                if (i != target && other.rawSize != 0 &&
                    std::uint64_t{other.rawOffset} + other.rawSize > s.rawOffset)
                    lastInFile = false;
            }
            inPlace = lastInFile;
        }
    }

    // Certificates sit in the overlay; any edit invalidates them.
    std::uint64_t overlayBegin = imageEnd;
    std::uint64_t certBegin = fileSize;
    std::uint64_t certEnd = fileSize;
    bool dropCertificate = false;
    if (image.dataDirectories.size() > DIR_SECURITY && image.dataDirectories[DIR_SECURITY].size) {
        dropCertificate = true;
        const DataDirectory cert = image.dataDirectories[DIR_SECURITY];
        if (cert.rva >= overlayBegin && rangeInside(cert.rva, cert.size, fileSize)) {
            certBegin = cert.rva;
            certEnd = std::uint64_t{cert.rva} + cert.size;
            // Its 8-byte padding belongs to it too.
            certEnd = std::min<std::uint64_t>(alignUp(certEnd, 8), fileSize);
        } else {
            certBegin = certEnd = fileSize;
        }
    }

    std::uint64_t newSectionRaw = 0;
    std::uint32_t newSectionVa = 0;
    std::uint64_t oldRawSize = 0;
    bool oldCountsAsData = false;
    if (inPlace) {
        const Section &s = image.sections[target];
        newSectionRaw = s.rawOffset;
        newSectionVa = s.virtualAddress;
        oldRawSize = s.rawSize;
        oldCountsAsData = (s.characteristics & kScnInitializedData) != 0;
    } else {
        if (sectionCount >= kMaxSections)
            return fail(ErrorKind::LimitExceeded, sectionTable, "too many sections");
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
            return fail(ErrorKind::Unsupported, headerAt, "no room for a new section header");
        for (std::uint64_t i = 0; i < kSectionHeaderSize; ++i) {
            if (original[headerAt + i] != 0)
                return fail(ErrorKind::Unsupported, headerAt, "no room for a new section header");
        }
        newSectionRaw = alignUp(imageEnd, image.fileAlignment);
        const std::uint64_t va = alignUp(memoryEnd, image.sectionAlignment);
        if (va > 0xFFFFFFFFull)
            return fail(ErrorKind::LimitExceeded, sectionTable, "image too large");
        newSectionVa = static_cast<std::uint32_t>(va);
    }

    std::vector<std::uint8_t> tree;
    result.error = buildResourceTree(resources, newSectionVa, tree);
    if (result.error.failed())
        return result;
    const std::uint64_t treeSize = tree.size();
    const std::uint64_t rawSize = alignUp(treeSize, image.fileAlignment);
    const std::uint64_t newImageEnd = newSectionRaw + rawSize;
    const std::uint64_t newSizeOfImage =
        alignUp(std::uint64_t{newSectionVa} + treeSize, image.sectionAlignment);
    if (newImageEnd > 0xFFFFFFFFull || newSizeOfImage > 0xFFFFFFFFull)
        return fail(ErrorKind::LimitExceeded, 0, "image too large");

    // Image up to the resource data, the new tree, then the overlay.
    const std::uint64_t keep = inPlace ? newSectionRaw : imageEnd;
    out.assign(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(keep));
    out.resize(static_cast<std::size_t>(newSectionRaw), 0);
    out.insert(out.end(), tree.begin(), tree.end());
    out.resize(static_cast<std::size_t>(newImageEnd), 0);
    out.insert(out.end(), original.begin() + static_cast<std::ptrdiff_t>(overlayBegin),
               original.begin() + static_cast<std::ptrdiff_t>(certBegin));
    out.insert(out.end(), original.begin() + static_cast<std::ptrdiff_t>(certEnd), original.end());

    // Headers.
    const std::uint64_t coff = image.peOffset; // the PE signature
    std::uint64_t headerAt = sectionTable + kSectionHeaderSize * target;
    if (!inPlace) {
        headerAt = sectionTable + kSectionHeaderSize * sectionCount;
        static const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
        // The section that held the tree stays mapped but gives up its name:
        // a system resource updater that looks for the tree by that name (as
        // Wine's EndUpdateResource does) would take the old one up again.
        static const char retired[8] = {'.', 'o', 'l', 'd', 'r', 'e', 's', 0};
        for (std::size_t i = 0; i < sectionCount; ++i) {
            std::uint8_t *oldName = out.data() + sectionTable + kSectionHeaderSize * i;
            if (std::memcmp(oldName, name, 8) == 0)
                std::memcpy(oldName, retired, 8);
        }
        std::memcpy(out.data() + headerAt, name, 8);
        storeU32le(out, headerAt + 12, newSectionVa);
        storeU32le(out, headerAt + 20, static_cast<std::uint32_t>(newSectionRaw));
        storeU32le(out, headerAt + 36, kScnInitializedData | kScnMemRead);
        storeU16le(out, coff + kCoffNumberOfSections, static_cast<std::uint16_t>(sectionCount + 1));
        oldCountsAsData = true;
    }
    storeU32le(out, headerAt + 8, static_cast<std::uint32_t>(treeSize));
    storeU32le(out, headerAt + 16, static_cast<std::uint32_t>(rawSize));

    std::uint64_t initialized = getU32(out, optional + kOptSizeOfInitializedData);
    if (oldCountsAsData)
        initialized = initialized - std::min(initialized, oldRawSize) + rawSize;
    storeU32le(out, optional + kOptSizeOfInitializedData,
               static_cast<std::uint32_t>(std::min<std::uint64_t>(initialized, 0xFFFFFFFFull)));
    storeU32le(out, optional + kOptSizeOfImage,
               static_cast<std::uint32_t>(
                   std::max<std::uint64_t>(newSizeOfImage, inPlace ? 0 : image.sizeOfImage)));
    storeU32le(out, dirTable + 8 * DIR_RESOURCE, newSectionVa);
    storeU32le(out, dirTable + 8 * DIR_RESOURCE + 4, static_cast<std::uint32_t>(treeSize));
    if (dropCertificate) {
        storeU32le(out, dirTable + 8 * DIR_SECURITY, 0);
        storeU32le(out, dirTable + 8 * DIR_SECURITY + 4, 0);
        result.notes.push_back("certificate table dropped");
    }

    // A COFF symbol table after the image moves with the overlay.
    const std::uint32_t symbols = getU32(out, coff + kCoffPointerToSymbols);
    if (symbols != 0 && symbols >= imageEnd && symbols < certBegin) {
        const std::uint64_t moved = symbols - imageEnd + newImageEnd;
        storeU32le(out, coff + kCoffPointerToSymbols,
                   moved <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(moved) : 0);
    }

    if (image.checksum != 0) {
        storeU32le(out, optional + kOptCheckSum, 0);
        storeU32le(out, optional + kOptCheckSum, peChecksum(out));
    }
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

Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    int systemError = 0;
    return writeFileAtomically(path, bytes, systemError);
}

Error writeFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                          int &systemError)
{
    namespace fs = std::filesystem;
    systemError = 0;
    std::error_code ec;
    fs::path target = fs::u8path(path);
    // Replace what a link points at, not the link.
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    static std::atomic<unsigned> counter{0};
    const auto stamp = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    fs::path temp = target;
    temp += ".tmp" + std::to_string(stamp % 1000000007ull) + "_" + std::to_string(++counter);

#ifdef _WIN32
    HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        systemError = static_cast<int>(GetLastError());
        return Error(ErrorKind::Io, 0, "cannot create a temporary file next to " + path);
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            ok = false;
            break;
        }
        done += written;
    }
    if (ok && !FlushFileBuffers(file))
        ok = false;
    if (!ok)
        systemError = static_cast<int>(GetLastError());
    CloseHandle(file);
    if (ok && !MoveFileExW(temp.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        systemError = static_cast<int>(GetLastError());
        ok = false;
    }
    if (!ok) {
        DeleteFileW(temp.c_str());
        return Error(ErrorKind::Io, done, "cannot write " + path);
    }
    return Error();
#else
    struct stat info
    {
    };
    const bool existed = ::stat(target.c_str(), &info) == 0;
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        systemError = errno;
        return Error(ErrorKind::Io, 0,
                     "cannot create a temporary file next to " + path + ": " +
                         std::strerror(systemError));
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            systemError = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (systemError == 0 && existed && ::fchmod(fd, info.st_mode & 07777) != 0)
        systemError = errno;
    if (systemError == 0 && ::fsync(fd) != 0)
        systemError = errno;
    if (::close(fd) != 0 && systemError == 0)
        systemError = errno;
    if (systemError == 0 && ::rename(temp.c_str(), target.c_str()) != 0)
        systemError = errno;
    if (systemError != 0) {
        ::unlink(temp.c_str());
        return Error(ErrorKind::Io, done,
                     "cannot write " + path + ": " + std::strerror(systemError));
    }
    return Error();
#endif
}

} // namespace quillon::pe
