// ICO byte work without any platform call: the structural check of ICO data,
// the assembly of an ICO from an icon group resource and its images, and the
// decoding of one icon image to 32-bit pixels. Plain C++ (no Qt).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::ico {

// --- Checking ICO data ------------------------------------------------------

enum class Verdict
{
    Ok,
    TooSmall,            // fewer than 6 bytes
    BadHeader,           // reserved != 0, type != 1 or count == 0
    DirectoryIncomplete, // the directory passes the end of the data
    ImageOutOfBounds,    // an image is empty or lies outside the data
};

struct CheckResult
{
    Verdict verdict = Verdict::TooSmall;
    std::uint32_t count = 0;                          // images in the header
    std::uint32_t badImage = 0;                       // 1-based number of the failing entry
    std::vector<std::pair<unsigned, unsigned>> sizes; // width x height, 0 read as 256
};

// Applies the rules in order and stops at the first that fails. Reads only
// inside [data, data + size).
CheckResult checkIco(const std::uint8_t *data, std::uint64_t size);

// The log line for a result (UTF-8).
std::string checkMessage(const CheckResult &result);

// --- Icon group resource -> ICO --------------------------------------------

constexpr std::size_t MAX_GROUP_ENTRIES = 32;
constexpr std::uint64_t GROUP_HEADER_SIZE = 6;
constexpr std::uint64_t GROUP_ENTRY_SIZE = 14;
constexpr std::uint64_t ICO_ENTRY_SIZE = 16;

struct GroupEntry
{
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint8_t reserved = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t bytesInResource = 0;
    std::uint16_t imageId = 0; // integer name of the RT_ICON resource
};

// Reads the group's entries. False when the group is shorter than 6 bytes,
// its count is 0 or above maxEntries, or it is shorter than 6 + 14 * count.
bool parseGroup(const std::uint8_t *data, std::uint64_t size, std::vector<GroupEntry> &entries,
                std::size_t maxEntries = MAX_GROUP_ENTRIES);

// An image resource as the resource system hands it out.
struct ImageBytes
{
    const std::uint8_t *data = nullptr;
    std::uint64_t size = 0;
};
// Finds the RT_ICON resource with this integer name; false when missing or
// its bytes cannot be obtained.
using ImageLookup = std::function<bool(std::uint16_t imageId, ImageBytes &image)>;

// Builds the ICO: header, one 16-byte entry per group entry (reserved 0, the
// image's real size), the images in order behind the directory. False, and
// `out` empty, when any image is missing or empty: never a partial ICO.
bool assembleIco(const std::vector<GroupEntry> &entries, const ImageLookup &lookup,
                 std::vector<std::uint8_t> &out);

// --- Decoding one image ------------------------------------------------------

// The entry the shell would show as the large icon: the one closest to
// size x size, more colour bits winning a tie, the first winning after that.
std::size_t pickEntry(const std::vector<GroupEntry> &entries, unsigned size = 32);

bool isPng(const std::uint8_t *data, std::uint64_t size);

// Decodes an icon DIB (BITMAPINFOHEADER, XOR bitmap of 1/4/8/16/24/32 bits,
// AND mask) to top-down B,G,R,A pixels. The mask sets alpha for images
// below 32 bits and for 32-bit images whose alpha bytes are all 0. False
// for malformed or unsupported data.
bool decodeDib(const std::uint8_t *data, std::uint64_t size, std::uint32_t &width,
               std::uint32_t &height, std::vector<std::uint8_t> &bgra);

} // namespace quillon::ico
