// The ICO and icon-group model without any platform call: reading and
// checking ICO files, writing them, icon group resources (read, write, and
// an ICO assembled from a group and its images), and decoding one icon image
// to 32-bit pixels. Plain C++ (no Qt).
#pragma once

#include "bytereader.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::ico {

// --- Limits -----------------------------------------------------------------

// One cap for everything that reads or writes an ICO here: the job's check
// refuses what the resource editor could not write as an icon group.
constexpr std::uint16_t kMaxImages = 256;
constexpr std::uint64_t kMaxFileSize = 64ull * 1024 * 1024;
// Icon groups read out of an executable (the program's own icon).
constexpr std::size_t kMaxGroupEntries = 32;

constexpr std::uint64_t kIcoHeaderSize = 6;
constexpr std::uint64_t kIcoEntrySize = 16;
constexpr std::uint64_t kGroupHeaderSize = 6;
constexpr std::uint64_t kGroupEntrySize = 14;

// --- ICO files ----------------------------------------------------------------

// One 16-byte entry of an ICO directory, as stored.
struct DirectoryEntry
{
    std::uint8_t width = 0; // 0 stands for 256
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint8_t reserved = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t bytes = 0;
    std::uint32_t offset = 0;
};

enum class Verdict
{
    Ok,
    TooLarge,            // more than kMaxFileSize bytes
    TooSmall,            // fewer than 6 bytes
    BadHeader,           // reserved != 0, type != 1 or count == 0
    DirectoryIncomplete, // the directory passes the end of the data
    TooManyImages,       // more than kMaxImages
    ImageOutOfBounds,    // an image is empty, overlaps the directory or passes the end
};

struct CheckResult
{
    Verdict verdict = Verdict::TooSmall;
    std::uint32_t count = 0;                          // images in the header
    std::uint32_t badImage = 0;                       // 1-based number of the failing entry
    std::vector<std::pair<unsigned, unsigned>> sizes; // width x height, 0 read as 256
    // The directory read so far; on ImageOutOfBounds the last entry is the bad one.
    std::vector<DirectoryEntry> entries;
};

// Applies the rules in the order of Verdict and stops at the first that
// fails. Reads only inside [data, data + size).
CheckResult checkIco(const std::uint8_t *data, std::uint64_t size);

// The job's log line for a result (UTF-8).
std::string checkMessage(const CheckResult &result);

// One image of an icon: its directory fields and its bytes.
struct Image
{
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::vector<std::uint8_t> data;
};

// The images of an ICO file that checkIco accepts. Planes and bit counts the
// directory leaves 0 are taken from the image itself (PNG: 1 and 32).
Error readIco(const std::uint8_t *data, std::uint64_t size, std::vector<Image> &images);

// Writes an ICO: header, directory, the images in order. False, and `out`
// empty, for no images, more than kMaxImages, an empty image, or offsets that
// would not fit in 32 bits.
bool writeIco(const std::vector<Image> &images, std::vector<std::uint8_t> &out);

bool isPng(const std::uint8_t *data, std::uint64_t size);

// --- Icon group resources (RT_GROUP_ICON) -------------------------------------

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
                std::size_t maxEntries = kMaxGroupEntries);

// The image numbers of as many entries as the group holds whole, however
// damaged the rest is (for cleaning up after a group).
std::vector<std::uint16_t> groupImageIds(const std::uint8_t *data, std::uint64_t size);

// The group resource for these entries (reserved bytes written as 0).
std::vector<std::uint8_t> writeGroup(const std::vector<GroupEntry> &entries);

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

// The entry the shell would show as the large icon: the one closest to
// size x size, more colour bits winning a tie, the first winning after that.
std::size_t pickEntry(const std::vector<GroupEntry> &entries, unsigned size = 32);

// --- Decoding one image (dib.cpp) ---------------------------------------------

// Decodes an icon DIB (BITMAPINFOHEADER, XOR bitmap of 1/4/8/16/24/32 bits,
// AND mask) to top-down B,G,R,A pixels. The mask sets alpha for images
// below 32 bits and for 32-bit images whose alpha bytes are all 0. False
// for malformed or unsupported data.
bool decodeDib(const std::uint8_t *data, std::uint64_t size, std::uint32_t &width,
               std::uint32_t &height, std::vector<std::uint8_t> &bgra);

} // namespace quillon::ico
