#include "payload.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace quillon::sevenzip {
namespace {

constexpr std::size_t kMaxConfigSize = 64 * 1024;
constexpr std::size_t kSearchChunk = 1 << 16;

// The marker lines, stored XOR-ed with a key read through a volatile so the
// compiler cannot fold them back into literals: a module must not contain
// its own first line.
volatile unsigned char g_markerKey = 0x5A;

std::string unmask(const unsigned char *masked, std::size_t size)
{
    const unsigned char key = g_markerKey;
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(masked[i] ^ key);
    return text;
}

std::string firstLine()
{
    // ";!@Install@!UTF-8!\n" ^ 0x5A
    static const unsigned char masked[] = {0x61, 0x7B, 0x1A, 0x13, 0x34, 0x29, 0x2E,
                                           0x3B, 0x36, 0x36, 0x1A, 0x7B, 0x0F, 0x0E,
                                           0x1C, 0x77, 0x62, 0x7B, 0x50};
    return unmask(masked, sizeof masked);
}

std::string lastLine()
{
    // ";!@InstallEnd@!\n" ^ 0x5A
    static const unsigned char masked[] = {0x61, 0x7B, 0x1A, 0x13, 0x34, 0x29, 0x2E, 0x3B,
                                           0x36, 0x36, 0x1F, 0x34, 0x3E, 0x1A, 0x7B, 0x50};
    return unmask(masked, sizeof masked);
}

// The image of the module: its PE or ELF headers and what they map.

bool readU16(Input &in, std::uint64_t off, std::uint16_t &out)
{
    std::uint8_t b[2];
    if (!in.readAt(off, b, 2))
        return false;
    out = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool readU32(Input &in, std::uint64_t off, std::uint32_t &out)
{
    std::uint8_t b[4];
    if (!in.readAt(off, b, 4))
        return false;
    out = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
          static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    return true;
}

bool readU64(Input &in, std::uint64_t off, std::uint64_t &out)
{
    std::uint32_t lo = 0, hi = 0;
    if (!readU32(in, off, lo) || !readU32(in, off + 4, hi))
        return false;
    out = static_cast<std::uint64_t>(hi) << 32 | lo;
    return true;
}

// end = max(end, offset + length) when the range lies inside the file.
bool extend(std::uint64_t &end, std::uint64_t offset, std::uint64_t length, std::uint64_t size)
{
    if (!rangeInside(offset, length, size))
        return false;
    end = std::max(end, offset + length);
    return true;
}

std::uint64_t peImageEnd(Input &in, std::uint64_t size)
{
    std::uint32_t lfanew = 0;
    std::uint32_t signature = 0;
    std::uint16_t sectionCount = 0, optionalSize = 0;
    if (!readU32(in, 0x3C, lfanew) || !readU32(in, lfanew, signature) || signature != 0x4550 ||
        !readU16(in, std::uint64_t{lfanew} + 6, sectionCount) ||
        !readU16(in, std::uint64_t{lfanew} + 20, optionalSize))
        return 0;
    const std::uint64_t optional = std::uint64_t{lfanew} + 24;
    std::uint32_t headersSize = 0;
    if (optionalSize < 64 || !readU32(in, optional + 60, headersSize))
        return 0;
    std::uint64_t end = 0;
    if (!extend(end, 0, headersSize, size))
        return 0;
    const std::uint64_t table = optional + optionalSize;
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        std::uint32_t rawSize = 0, rawOffset = 0;
        const std::uint64_t header = table + std::uint64_t{i} * 40;
        if (!readU32(in, header + 16, rawSize) || !readU32(in, header + 20, rawOffset))
            return 0;
        if (rawSize != 0 && !extend(end, rawOffset, rawSize, size))
            return 0;
    }
    return end;
}

std::uint64_t elfImageEnd(Input &in, std::uint64_t size)
{
    std::uint8_t ident[6];
    if (!in.readAt(0, ident, sizeof ident) || ident[5] != 1)
        return 0; // little-endian only
    const bool is64 = ident[4] == 2;
    if (!is64 && ident[4] != 1)
        return 0;
    std::uint64_t phoff = 0, shoff = 0;
    std::uint16_t phentsize = 0, phnum = 0, shentsize = 0, shnum = 0;
    if (is64) {
        if (!readU64(in, 0x20, phoff) || !readU64(in, 0x28, shoff) ||
            !readU16(in, 0x36, phentsize) || !readU16(in, 0x38, phnum) ||
            !readU16(in, 0x3A, shentsize) || !readU16(in, 0x3C, shnum))
            return 0;
    } else {
        std::uint32_t ph32 = 0, sh32 = 0;
        if (!readU32(in, 0x1C, ph32) || !readU32(in, 0x20, sh32) || !readU16(in, 0x2A, phentsize) ||
            !readU16(in, 0x2C, phnum) || !readU16(in, 0x2E, shentsize) || !readU16(in, 0x30, shnum))
            return 0;
        phoff = ph32;
        shoff = sh32;
    }
    std::uint64_t end = is64 ? 64 : 52;
    if (!extend(end, phoff, std::uint64_t{phentsize} * phnum, size) ||
        !extend(end, shoff, std::uint64_t{shentsize} * shnum, size))
        return 0;
    for (std::uint16_t i = 0; i < phnum; ++i) {
        const std::uint64_t entry = phoff + std::uint64_t{i} * phentsize;
        std::uint64_t offset = 0, fileSize = 0;
        if (is64) {
            if (phentsize < 40 || !readU64(in, entry + 8, offset) ||
                !readU64(in, entry + 32, fileSize))
                return 0;
        } else {
            std::uint32_t o = 0, s = 0;
            if (phentsize < 20 || !readU32(in, entry + 4, o) || !readU32(in, entry + 16, s))
                return 0;
            offset = o;
            fileSize = s;
        }
        if (fileSize != 0 && !extend(end, offset, fileSize, size))
            return 0;
    }
    for (std::uint16_t i = 0; i < shnum; ++i) {
        const std::uint64_t entry = shoff + std::uint64_t{i} * shentsize;
        std::uint32_t type = 0;
        std::uint64_t offset = 0, sectionSize = 0;
        if (!readU32(in, entry + 4, type))
            return 0;
        if (type == 8 || type == 0) // SHT_NOBITS, SHT_NULL: no bytes in the file
            continue;
        if (is64) {
            if (shentsize < 40 || !readU64(in, entry + 24, offset) ||
                !readU64(in, entry + 32, sectionSize))
                return 0;
        } else {
            std::uint32_t o = 0, s = 0;
            if (shentsize < 24 || !readU32(in, entry + 16, o) || !readU32(in, entry + 20, s))
                return 0;
            offset = o;
            sectionSize = s;
        }
        if (!extend(end, offset, sectionSize, size))
            return 0;
    }
    return end;
}

} // namespace

bool parseSfxConfig(const std::string &text, SfxConfig &out)
{
    SfxConfig config;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        // Key="value": the value runs to the last quote, so it may hold quotes.
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0 || line[eq + 1] != '"' || line.back() != '"' ||
            line.size() < eq + 3)
            return false;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 2, line.size() - eq - 3);
        if (key == "Title")
            config.title = value;
        else if (key == "Progress")
            config.progress = value;
        else if (key == "ExecuteFile")
            config.executeFile = value;
    }
    out = config;
    return true;
}

namespace {

Error locate(Input &input, std::uint64_t searchFrom, Payload &out)
{
    const std::string first = firstLine();
    const std::string last = lastLine();
    const std::uint64_t size = input.size();
    std::vector<char> buffer(kSearchChunk + first.size());
    std::uint64_t found = UINT64_MAX;
    for (std::uint64_t pos = searchFrom; pos < size;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - pos));
        if (!input.readAt(pos, buffer.data(), count))
            return Error(ErrorKind::Io, pos, "cannot read the file");
        const auto endIt = buffer.begin() + static_cast<std::ptrdiff_t>(count);
        const auto hit = std::search(buffer.begin(), endIt, first.begin(), first.end());
        if (hit != endIt) {
            found = pos + static_cast<std::uint64_t>(hit - buffer.begin());
            break;
        }
        if (count < buffer.size())
            break;
        pos += kSearchChunk; // chunks overlap by the marker's length
    }
    if (found == UINT64_MAX)
        return Error(ErrorKind::Malformed, searchFrom, "no configuration block found");
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(kMaxConfigSize, size - found));
    std::string text(count, '\0');
    if (!input.readAt(found, text.data(), count))
        return Error(ErrorKind::Io, found, "cannot read the configuration block");
    const std::size_t end = text.find(last, first.size());
    if (end == std::string::npos)
        return Error(count == kMaxConfigSize ? ErrorKind::LimitExceeded : ErrorKind::Truncated,
                     found, "configuration block without its last line");
    Payload payload;
    payload.configOffset = found;
    payload.configSize = end + last.size();
    payload.archiveOffset = found + payload.configSize;
    if (!parseSfxConfig(text.substr(first.size(), end - first.size()), payload.config))
        return Error(ErrorKind::Malformed, found, "configuration block");
    out = payload;
    return {};
}

} // namespace

Error locatePayload(Input &input, std::uint64_t searchFrom, Payload &out)
{
    try {
        return locate(input, searchFrom, out);
    } catch (const std::bad_alloc &) {
        return Error(ErrorKind::LimitExceeded, searchFrom, "out of memory");
    }
}

std::uint64_t imageEnd(Input &input)
{
    const std::uint64_t size = input.size();
    std::uint8_t magic[4];
    if (!input.readAt(0, magic, sizeof magic))
        return 0;
    std::uint64_t end = 0;
    if (magic[0] == 'M' && magic[1] == 'Z')
        end = peImageEnd(input, size);
    else if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F')
        end = elfImageEnd(input, size);
    // A header that claims more than the file holds is no image of ours.
    return end <= size ? end : 0;
}

Error locateModulePayload(Input &input, Payload &out)
{
    return locatePayload(input, imageEnd(input), out);
}

} // namespace quillon::sevenzip
