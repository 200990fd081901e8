#include "imageend.h"

#include "bytereader.h"

#include <algorithm>
#include <new>
#include <vector>

namespace quillon {
namespace {

constexpr std::uint64_t kMaxTableBytes = 16u << 20;

// [offset, offset + length) of the file, read whole; false when it is not
// inside the file or larger than any header table we accept.
bool readBlock(Input &in, std::uint64_t offset, std::uint64_t length,
               std::vector<std::uint8_t> &out)
{
    if (length > kMaxTableBytes || !rangeInside(offset, length, in.size()))
        return false;
    out.resize(static_cast<std::size_t>(length));
    return length == 0 || in.readAt(offset, out.data(), out.size());
}

// end = max(end, offset + length) when the range lies inside the file.
bool extend(std::uint64_t &end, std::uint64_t offset, std::uint64_t length, std::uint64_t size)
{
    if (!rangeInside(offset, length, size))
        return false;
    end = std::max(end, offset + length);
    return true;
}

std::uint64_t peImageEnd(Input &in)
{
    const std::uint64_t size = in.size();
    std::vector<std::uint8_t> block;
    std::uint32_t lfanew = 0;
    if (!readBlock(in, 0, 64, block) || !ByteReader(block.data(), 64).peekAt(0x3C, lfanew))
        return 0;
    // Signature and file header, then the optional header and the section table.
    std::uint32_t signature = 0;
    std::uint16_t sectionCount = 0, optionalSize = 0;
    if (!readBlock(in, lfanew, 24, block))
        return 0;
    const ByteReader coff(block.data(), block.size());
    if (!coff.peekAt(0, signature) || signature != 0x4550 || !coff.peekAt(6, sectionCount) ||
        !coff.peekAt(20, optionalSize) || optionalSize < 64)
        return 0;
    const std::uint64_t optional = std::uint64_t{lfanew} + 24;
    if (!readBlock(in, optional, optionalSize + std::uint64_t{sectionCount} * 40, block))
        return 0;
    const ByteReader headers(block.data(), block.size());
    std::uint32_t headersSize = 0;
    std::uint64_t end = 0;
    if (!headers.peekAt(60, headersSize) || !extend(end, 0, headersSize, size))
        return 0;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t header = optionalSize + std::uint64_t{i} * 40;
        std::uint32_t rawSize = 0, rawOffset = 0;
        if (!headers.peekAt(header + 16, rawSize) || !headers.peekAt(header + 20, rawOffset))
            return 0;
        if (rawSize != 0 && !extend(end, rawOffset, rawSize, size))
            return 0;
    }
    return end;
}

// A 32-bit field of an ELF32 table, or the 64-bit one of ELF64.
bool word(const ByteReader &r, bool is64, std::uint64_t at32, std::uint64_t at64,
          std::uint64_t &out)
{
    if (is64)
        return r.peekAt(at64, out);
    std::uint32_t value = 0;
    if (!r.peekAt(at32, value))
        return false;
    out = value;
    return true;
}

std::uint64_t elfImageEnd(Input &in)
{
    const std::uint64_t size = in.size();
    std::vector<std::uint8_t> block;
    if (!readBlock(in, 0, 6, block) || block[5] != 1)
        return 0; // little-endian only
    const bool is64 = block[4] == 2;
    if (!is64 && block[4] != 1)
        return 0;
    // The header up to e_shnum.
    if (!readBlock(in, 0, is64 ? 0x3E : 0x32, block))
        return 0;
    const ByteReader header(block.data(), block.size());
    std::uint64_t phoff = 0, shoff = 0;
    std::uint16_t phentsize = 0, phnum = 0, shentsize = 0, shnum = 0;
    if (!word(header, is64, 0x1C, 0x20, phoff) || !word(header, is64, 0x20, 0x28, shoff) ||
        !header.peekAt(is64 ? 0x36 : 0x2A, phentsize) ||
        !header.peekAt(is64 ? 0x38 : 0x2C, phnum) ||
        !header.peekAt(is64 ? 0x3A : 0x2E, shentsize) || !header.peekAt(is64 ? 0x3C : 0x30, shnum))
        return 0;
    std::uint64_t end = is64 ? 64 : 52;
    const std::uint64_t phBytes = std::uint64_t{phentsize} * phnum;
    const std::uint64_t shBytes = std::uint64_t{shentsize} * shnum;
    if (!extend(end, phoff, phBytes, size) || !extend(end, shoff, shBytes, size))
        return 0;

    if (!readBlock(in, phoff, phBytes, block))
        return 0;
    const ByteReader segments(block.data(), block.size());
    for (std::uint16_t i = 0; i < phnum; ++i) {
        const std::uint64_t entry = std::uint64_t{i} * phentsize;
        std::uint64_t offset = 0, fileSize = 0;
        if (phentsize < (is64 ? 40 : 20) || !word(segments, is64, entry + 4, entry + 8, offset) ||
            !word(segments, is64, entry + 16, entry + 32, fileSize))
            return 0;
        if (fileSize != 0 && !extend(end, offset, fileSize, size))
            return 0;
    }

    if (!readBlock(in, shoff, shBytes, block))
        return 0;
    const ByteReader sections(block.data(), block.size());
    for (std::uint16_t i = 0; i < shnum; ++i) {
        const std::uint64_t entry = std::uint64_t{i} * shentsize;
        std::uint32_t type = 0;
        std::uint64_t offset = 0, sectionSize = 0;
        if (!sections.peekAt(entry + 4, type))
            return 0;
        if (type == 8 || type == 0) // SHT_NOBITS, SHT_NULL: no bytes in the file
            continue;
        if (shentsize < (is64 ? 40 : 24) || !word(sections, is64, entry + 16, entry + 24, offset) ||
            !word(sections, is64, entry + 20, entry + 32, sectionSize))
            return 0;
        if (!extend(end, offset, sectionSize, size))
            return 0;
    }
    return end;
}

std::uint64_t imageEndOf(Input &input)
{
    const std::uint64_t size = input.size();
    std::uint8_t magic[4];
    if (!input.readAt(0, magic, sizeof magic))
        return 0;
    std::uint64_t end = 0;
    if (magic[0] == 'M' && magic[1] == 'Z')
        end = peImageEnd(input);
    else if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
        end = elfImageEnd(input);
    // A header that claims more than the file holds is no image of ours.
    return end <= size ? end : 0;
}

} // namespace

std::uint64_t imageEnd(Input &input)
{
    try {
        return imageEndOf(input);
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

} // namespace quillon
