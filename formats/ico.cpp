#include "ico.h"

#include "bytewriter.h"

#include <cstdlib>
#include <limits>

namespace quillon::ico {

namespace {

unsigned sideOf(std::uint8_t stored)
{
    return stored == 0 ? 256u : stored;
}

// What a directory entry or a group entry needs to be written into an ICO.
struct Piece
{
    std::uint8_t width = 0;
    std::uint8_t height = 0;
    std::uint8_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    const std::uint8_t *data = nullptr;
    std::uint64_t size = 0;
};

bool writePieces(const std::vector<Piece> &pieces, std::vector<std::uint8_t> &out)
{
    out.clear();
    if (pieces.empty() || pieces.size() > kMaxImages)
        return false;
    const std::uint64_t directoryEnd = kIcoHeaderSize + kIcoEntrySize * pieces.size();
    std::uint64_t total = directoryEnd;
    for (const Piece &piece : pieces) {
        if (!piece.data || piece.size == 0)
            return false;
        total += piece.size;
        // Offsets and sizes in an ICO are 32-bit.
        if (total > std::numeric_limits<std::uint32_t>::max())
            return false;
    }
    out.reserve(static_cast<std::size_t>(total));
    appendU16le(out, 0);
    appendU16le(out, 1);
    appendU16le(out, static_cast<std::uint16_t>(pieces.size()));
    std::uint64_t offset = directoryEnd;
    for (const Piece &piece : pieces) {
        appendU8(out, piece.width);
        appendU8(out, piece.height);
        appendU8(out, piece.colorCount);
        appendU8(out, 0);
        appendU16le(out, piece.planes);
        appendU16le(out, piece.bitCount);
        appendU32le(out, static_cast<std::uint32_t>(piece.size));
        appendU32le(out, static_cast<std::uint32_t>(offset));
        offset += piece.size;
    }
    for (const Piece &piece : pieces)
        out.insert(out.end(), piece.data, piece.data + piece.size);
    return true;
}

// Planes and bit count for a directory entry that leaves them 0, taken from
// the image itself, so the loader can match sizes and depths.
void completeEntry(Image &image)
{
    if (image.planes != 0 && image.bitCount != 0)
        return;
    if (isPng(image.data.data(), image.data.size())) {
        image.planes = 1;
        image.bitCount = 32;
        return;
    }
    ByteReader reader(image.data.data(), image.data.size());
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    if (reader.skip(12) && reader.u16le(planes) && reader.u16le(bitCount)) {
        if (image.planes == 0)
            image.planes = planes;
        if (image.bitCount == 0)
            image.bitCount = bitCount;
    }
}

// The first 8 bytes of an ICO directory entry and of an icon group entry.
template <typename Entry> void readImageFields(ByteReader &in, Entry &e)
{
    in.u8(e.width);
    in.u8(e.height);
    in.u8(e.colorCount);
    in.u8(e.reserved);
    in.u16le(e.planes);
    in.u16le(e.bitCount);
}

void readGroupEntries(ByteReader &in, std::uint64_t count, std::vector<GroupEntry> &entries)
{
    for (std::uint64_t i = 0; i < count; ++i) {
        GroupEntry e;
        readImageFields(in, e);
        in.u32le(e.bytesInResource);
        in.u16le(e.imageId);
        if (!in.ok())
            return;
        entries.push_back(e);
    }
}

} // namespace

CheckResult checkIco(const std::uint8_t *data, std::uint64_t size)
{
    CheckResult result;
    if (size > kMaxFileSize) {
        result.verdict = Verdict::TooLarge;
        return result;
    }
    ByteReader in(data, size);
    if (in.size() < kIcoHeaderSize) {
        result.verdict = Verdict::TooSmall;
        return result;
    }
    std::uint16_t reserved = 0;
    std::uint16_t type = 0;
    std::uint16_t count = 0;
    in.u16le(reserved);
    in.u16le(type);
    in.u16le(count);
    result.count = count;
    if (reserved != 0 || type != 1 || count == 0) {
        result.verdict = Verdict::BadHeader;
        return result;
    }
    const std::uint64_t directoryEnd = kIcoHeaderSize + kIcoEntrySize * count;
    if (directoryEnd > in.size()) {
        result.verdict = Verdict::DirectoryIncomplete;
        return result;
    }
    if (count > kMaxImages) {
        result.verdict = Verdict::TooManyImages;
        return result;
    }
    result.entries.reserve(count);
    result.sizes.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        DirectoryEntry e;
        readImageFields(in, e);
        in.u32le(e.bytes);
        in.u32le(e.offset);
        result.entries.push_back(e);
        if (e.bytes == 0 || e.offset < directoryEnd || !rangeInside(e.offset, e.bytes, in.size())) {
            result.verdict = Verdict::ImageOutOfBounds;
            result.badImage = i + 1;
            result.sizes.clear();
            return result;
        }
        result.sizes.emplace_back(sideOf(e.width), sideOf(e.height));
    }
    result.verdict = Verdict::Ok;
    return result;
}

std::string checkMessage(const CheckResult &result)
{
    switch (result.verdict) {
    case Verdict::TooLarge:
        return "图标文件太大，最多 " + std::to_string(kMaxFileSize / (1024 * 1024)) + " MiB";
    case Verdict::TooSmall:
        return "图标数据太小，至少需要6字节";
    case Verdict::BadHeader:
        return "无效的ICO文件头";
    case Verdict::DirectoryIncomplete:
        return "ICO 目录不完整";
    case Verdict::TooManyImages:
        return "ICO 图像过多：共 " + std::to_string(result.count) + " 张，最多 " +
               std::to_string(kMaxImages) + " 张";
    case Verdict::ImageOutOfBounds:
        return "ICO 第 " + std::to_string(result.badImage) + " 张图像越界";
    case Verdict::Ok:
        break;
    }
    std::string list;
    for (const auto &s : result.sizes) {
        if (!list.empty())
            list += ", ";
        list += std::to_string(s.first) + "x" + std::to_string(s.second);
    }
    return "图标验证通过 - 共 " + std::to_string(result.count) + " 个尺寸: " + list;
}

Error readIco(const std::uint8_t *data, std::uint64_t size, std::vector<Image> &images)
{
    images.clear();
    const CheckResult check = checkIco(data, size);
    switch (check.verdict) {
    case Verdict::Ok:
        break;
    case Verdict::TooLarge:
        return Error(ErrorKind::LimitExceeded, 0, "icon file too large");
    case Verdict::TooSmall:
        return Error(ErrorKind::Truncated, 0, "icon header");
    case Verdict::BadHeader:
        if (check.count == 0)
            return Error(ErrorKind::Malformed, 4, "icon file without images");
        return Error(ErrorKind::Malformed, 0, "not an icon file");
    case Verdict::DirectoryIncomplete:
        return Error(ErrorKind::Truncated, kIcoHeaderSize, "icon directory");
    case Verdict::TooManyImages:
        return Error(ErrorKind::LimitExceeded, 4, "too many images");
    case Verdict::ImageOutOfBounds: {
        const DirectoryEntry &bad = check.entries.back();
        if (bad.bytes == 0)
            return Error(ErrorKind::Malformed,
                         kIcoHeaderSize + kIcoEntrySize * (check.entries.size() - 1),
                         "empty icon image");
        return Error(ErrorKind::Truncated, bad.offset, "icon image outside the file");
    }
    }
    images.reserve(check.entries.size());
    for (const DirectoryEntry &e : check.entries) {
        Image image;
        image.width = e.width;
        image.height = e.height;
        image.colorCount = e.colorCount;
        image.planes = e.planes;
        image.bitCount = e.bitCount;
        image.data.assign(data + e.offset, data + e.offset + e.bytes);
        completeEntry(image);
        images.push_back(std::move(image));
    }
    return Error();
}

bool writeIco(const std::vector<Image> &images, std::vector<std::uint8_t> &out)
{
    std::vector<Piece> pieces;
    pieces.reserve(images.size());
    for (const Image &image : images)
        pieces.push_back({image.width, image.height, image.colorCount, image.planes, image.bitCount,
                          image.data.data(), image.data.size()});
    return writePieces(pieces, out);
}

bool isPng(const std::uint8_t *data, std::uint64_t size)
{
    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a};
    if (!data || size < 8)
        return false;
    for (std::size_t i = 0; i < 8; ++i) {
        if (data[i] != signature[i])
            return false;
    }
    return true;
}

bool parseGroup(const std::uint8_t *data, std::uint64_t size, std::vector<GroupEntry> &entries,
                std::size_t maxEntries)
{
    entries.clear();
    ByteReader in(data, size);
    std::uint16_t count = 0;
    if (!in.peekAt(4, count))
        return false;
    if (count == 0 || count > maxEntries)
        return false;
    if (in.size() < kGroupHeaderSize + kGroupEntrySize * count)
        return false;
    in.seek(kGroupHeaderSize);
    entries.reserve(count);
    readGroupEntries(in, count, entries);
    return in.ok();
}

std::vector<std::uint16_t> groupImageIds(const std::uint8_t *data, std::uint64_t size)
{
    std::vector<std::uint16_t> ids;
    ByteReader in(data, size);
    std::uint16_t count = 0;
    if (!in.peekAt(4, count) || !in.seek(kGroupHeaderSize))
        return ids;
    std::vector<GroupEntry> entries;
    readGroupEntries(in, count, entries);
    ids.reserve(entries.size());
    for (const GroupEntry &e : entries)
        ids.push_back(e.imageId);
    return ids;
}

std::vector<std::uint8_t> writeGroup(const std::vector<GroupEntry> &entries)
{
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(kGroupHeaderSize + kGroupEntrySize * entries.size()));
    appendU16le(out, 0);
    appendU16le(out, 1);
    appendU16le(out, static_cast<std::uint16_t>(entries.size()));
    for (const GroupEntry &e : entries) {
        appendU8(out, e.width);
        appendU8(out, e.height);
        appendU8(out, e.colorCount);
        appendU8(out, 0);
        appendU16le(out, e.planes);
        appendU16le(out, e.bitCount);
        appendU32le(out, e.bytesInResource);
        appendU16le(out, e.imageId);
    }
    return out;
}

bool assembleIco(const std::vector<GroupEntry> &entries, const ImageLookup &lookup,
                 std::vector<std::uint8_t> &out)
{
    out.clear();
    std::vector<Piece> pieces;
    pieces.reserve(entries.size());
    for (const GroupEntry &e : entries) {
        ImageBytes image;
        if (!lookup(e.imageId, image))
            return false;
        pieces.push_back(
            {e.width, e.height, e.colorCount, e.planes, e.bitCount, image.data, image.size});
    }
    return writePieces(pieces, out);
}

std::size_t pickEntry(const std::vector<GroupEntry> &entries, unsigned size)
{
    std::size_t best = 0;
    long bestDistance = std::numeric_limits<long>::max();
    unsigned bestBits = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const GroupEntry &e = entries[i];
        const long distance = std::labs(long(sideOf(e.width)) - long(size)) +
                              std::labs(long(sideOf(e.height)) - long(size));
        const unsigned bits = e.bitCount;
        if (distance < bestDistance || (distance == bestDistance && bits > bestBits)) {
            best = i;
            bestDistance = distance;
            bestBits = bits;
        }
    }
    return best;
}

} // namespace quillon::ico
