// Decoding of icon DIBs (declared in ico.h).
#include "ico.h"

namespace quillon::ico {

namespace {

constexpr std::int32_t kMaxDibSide = 1024; // icons stop at 256; room to spare

} // namespace

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
        signedWidth > kMaxDibSide || signedHeight > 2 * kMaxDibSide || signedHeight % 2 != 0)
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
