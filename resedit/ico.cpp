#include "ico.h"

#include "bytereader.h"
#include "bytewriter.h"

#include <cstdlib>
#include <limits>

namespace quillon::ico {

namespace {

unsigned sideOf(std::uint8_t stored)
{
    return stored == 0 ? 256u : stored;
}

constexpr std::int32_t MAX_DIB_SIDE = 1024; // icons stop at 256; room to spare

} // namespace

CheckResult checkIco(const std::uint8_t *data, std::uint64_t size)
{
    CheckResult result;
    ByteReader in(data, size);
    if (in.size() < 6) {
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
    const std::uint64_t directoryEnd = 6 + ICO_ENTRY_SIZE * count;
    if (directoryEnd > in.size()) {
        result.verdict = Verdict::DirectoryIncomplete;
        return result;
    }
    result.sizes.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t width = 0;
        std::uint8_t height = 0;
        std::uint32_t bytes = 0;
        std::uint32_t offset = 0;
        in.u8(width);
        in.u8(height);
        in.skip(6);
        in.u32le(bytes);
        in.u32le(offset);
        // 64-bit sum: an end above 2^32 is refused, not wrapped.
        if (bytes == 0 || offset < directoryEnd ||
            std::uint64_t(offset) + std::uint64_t(bytes) > in.size()) {
            result.verdict = Verdict::ImageOutOfBounds;
            result.badImage = i + 1;
            result.sizes.clear();
            return result;
        }
        result.sizes.emplace_back(sideOf(width), sideOf(height));
    }
    result.verdict = Verdict::Ok;
    return result;
}

std::string checkMessage(const CheckResult &result)
{
    switch (result.verdict) {
    case Verdict::TooSmall:
        return "图标数据太小，至少需要6字节";
    case Verdict::BadHeader:
        return "无效的ICO文件头";
    case Verdict::DirectoryIncomplete:
        return "ICO 目录不完整";
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
    if (in.size() < GROUP_HEADER_SIZE + GROUP_ENTRY_SIZE * count)
        return false;
    in.seek(GROUP_HEADER_SIZE);
    entries.resize(count);
    for (GroupEntry &e : entries) {
        in.u8(e.width);
        in.u8(e.height);
        in.u8(e.colorCount);
        in.u8(e.reserved);
        in.u16le(e.planes);
        in.u16le(e.bitCount);
        in.u32le(e.bytesInResource);
        in.u16le(e.imageId);
    }
    return in.ok();
}

bool assembleIco(const std::vector<GroupEntry> &entries, const ImageLookup &lookup,
                 std::vector<std::uint8_t> &out)
{
    out.clear();
    if (entries.empty() || entries.size() > 0xffff)
        return false;
    std::vector<ImageBytes> images(entries.size());
    const std::uint64_t directoryEnd = 6 + ICO_ENTRY_SIZE * entries.size();
    std::uint64_t total = directoryEnd;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!lookup(entries[i].imageId, images[i]) || !images[i].data || images[i].size == 0)
            return false;
        total += images[i].size;
        // Offsets and sizes in an ICO are 32-bit.
        if (total > std::numeric_limits<std::uint32_t>::max())
            return false;
    }
    out.reserve(static_cast<std::size_t>(total));
    appendU16le(out, 0);
    appendU16le(out, 1);
    appendU16le(out, static_cast<std::uint16_t>(entries.size()));
    std::uint64_t offset = directoryEnd;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const GroupEntry &e = entries[i];
        appendU8(out, e.width);
        appendU8(out, e.height);
        appendU8(out, e.colorCount);
        appendU8(out, 0);
        appendU16le(out, e.planes);
        appendU16le(out, e.bitCount);
        appendU32le(out, static_cast<std::uint32_t>(images[i].size));
        appendU32le(out, static_cast<std::uint32_t>(offset));
        offset += images[i].size;
    }
    for (const ImageBytes &image : images)
        out.insert(out.end(), image.data, image.data + image.size);
    return true;
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

bool decodeDib(const std::uint8_t *data, std::uint64_t size, std::uint32_t &width,
               std::uint32_t &height, std::vector<std::uint8_t> &bgra)
{
    bgra.clear();
    ByteReader in(data, size);
    std::uint32_t headerSize = 0;
    std::uint32_t rawWidth = 0;
    std::uint32_t rawHeight = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    if (!in.peekAt(0, headerSize) || !in.peekAt(4, rawWidth) || !in.peekAt(8, rawHeight) ||
        !in.peekAt(12, planes) || !in.peekAt(14, bitCount) || !in.peekAt(16, compression) ||
        !in.peekAt(32, colorsUsed))
        return false;
    const auto signedWidth = static_cast<std::int32_t>(rawWidth);
    const auto signedHeight = static_cast<std::int32_t>(rawHeight);
    // The height counts the colour bitmap and the mask: twice the icon's.
    if (headerSize < 40 || headerSize > in.size() || signedWidth <= 0 || signedHeight <= 0 ||
        signedWidth > MAX_DIB_SIDE || signedHeight > 2 * MAX_DIB_SIDE || signedHeight % 2 != 0)
        return false;
    // BI_RGB, or BI_BITFIELDS with the usual masks for 16 and 32 bits.
    if (compression != 0 && !(compression == 3 && (bitCount == 16 || bitCount == 32)))
        return false;
    const std::uint64_t w = rawWidth;
    const std::uint64_t h = rawHeight / 2;

    std::uint64_t paletteSize = 0;
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
        paletteSize = colorsUsed ? colorsUsed : (1u << bitCount);
        if (paletteSize > (1u << bitCount))
            return false;
        break;
    case 16:
    case 24:
    case 32:
        break;
    default:
        return false;
    }
    std::uint64_t pixelsAt = headerSize + 4 * paletteSize;
    if (compression == 3 && headerSize == 40)
        pixelsAt += 12; // the three colour masks follow the header
    const std::uint64_t xorStride = (w * bitCount + 31) / 32 * 4;
    const std::uint64_t andStride = (w + 31) / 32 * 4;
    ByteReader palette = in.sub(headerSize, 4 * paletteSize);
    ByteReader colour = in.sub(pixelsAt, xorStride * h);
    if (!palette.ok() || !colour.ok())
        return false;
    // 32-bit images may come without a mask; the others need one.
    ByteReader mask = in.sub(pixelsAt + xorStride * h, andStride * h);
    if (!mask.ok() && bitCount != 32)
        return false;

    bgra.assign(static_cast<std::size_t>(w * h * 4), 0);
    bool anyAlpha = false;
    for (std::uint64_t row = 0; row < h; ++row) {
        const std::uint8_t *src = colour.data() + (h - 1 - row) * xorStride; // bottom-up
        std::uint8_t *dst = bgra.data() + row * w * 4;
        for (std::uint64_t x = 0; x < w; ++x) {
            std::uint8_t b = 0, g = 0, r = 0, a = 0xff;
            if (bitCount <= 8) {
                const std::uint64_t bitPos = x * bitCount;
                const unsigned shift = static_cast<unsigned>(8 - bitCount - bitPos % 8);
                const unsigned index =
                    (src[bitPos / 8] >> shift) & static_cast<unsigned>((1u << bitCount) - 1);
                if (index < paletteSize) {
                    const std::uint8_t *p = palette.data() + 4 * index;
                    b = p[0];
                    g = p[1];
                    r = p[2];
                }
            } else if (bitCount == 16) {
                const unsigned v = unsigned(src[2 * x]) | unsigned(src[2 * x + 1]) << 8;
                b = static_cast<std::uint8_t>((v & 0x1f) * 255 / 31);
                g = static_cast<std::uint8_t>(((v >> 5) & 0x1f) * 255 / 31);
                r = static_cast<std::uint8_t>(((v >> 10) & 0x1f) * 255 / 31);
            } else if (bitCount == 24) {
                b = src[3 * x];
                g = src[3 * x + 1];
                r = src[3 * x + 2];
            } else {
                b = src[4 * x];
                g = src[4 * x + 1];
                r = src[4 * x + 2];
                a = src[4 * x + 3];
                anyAlpha = anyAlpha || a != 0;
            }
            dst[4 * x] = b;
            dst[4 * x + 1] = g;
            dst[4 * x + 2] = r;
            dst[4 * x + 3] = a;
        }
    }
    // A 32-bit image with real alpha keeps it; otherwise the mask decides.
    if (!(bitCount == 32 && anyAlpha)) {
        for (std::uint64_t row = 0; row < h; ++row) {
            std::uint8_t *dst = bgra.data() + row * w * 4;
            const std::uint8_t *bits =
                mask.ok() ? mask.data() + (h - 1 - row) * andStride : nullptr;
            for (std::uint64_t x = 0; x < w; ++x) {
                const bool transparent = bits && ((bits[x / 8] >> (7 - x % 8)) & 1);
                dst[4 * x + 3] = transparent ? 0 : 0xff;
            }
        }
    }
    width = static_cast<std::uint32_t>(w);
    height = static_cast<std::uint32_t>(h);
    return true;
}

} // namespace quillon::ico
