// Test-only icon images and icon groups, made in code.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <functional>
#include <vector>

namespace testicon {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes &b, std::size_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(Bytes &b, std::size_t at, std::uint32_t v)
{
    put16(b, at, v & 0xffff);
    put16(b, at + 2, v >> 16);
}

// Filler bytes of an exact length, distinct per seed.
inline Bytes blob(std::size_t size, std::uint8_t seed)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i * 7);
    return b;
}

// Pixel colour as B, G, R, A and mask bit (true = transparent) at x, y
// (top-down).
struct Pixel
{
    std::uint8_t b, g, r, a;
    bool masked;
};
using PixelFn = std::function<Pixel(int x, int y)>;

// An icon DIB of 24 or 32 bits with its AND mask (bottom-up rows).
inline Bytes dib(int w, int h, int bits, const PixelFn &pixel)
{
    const std::size_t xorStride = (std::size_t(w) * std::size_t(bits) + 31) / 32 * 4;
    const std::size_t andStride = (std::size_t(w) + 31) / 32 * 4;
    Bytes b(40 + xorStride * std::size_t(h) + andStride * std::size_t(h), 0);
    put32(b, 0, 40);
    put32(b, 4, std::uint32_t(w));
    put32(b, 8, std::uint32_t(2 * h));
    put16(b, 12, 1);
    put16(b, 14, std::uint32_t(bits));
    for (int y = 0; y < h; ++y) {
        const std::size_t row = std::size_t(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const Pixel p = pixel(x, y);
            std::uint8_t *dst = &b[40 + row * xorStride + std::size_t(x) * std::size_t(bits / 8)];
            dst[0] = p.b;
            dst[1] = p.g;
            dst[2] = p.r;
            if (bits == 32)
                dst[3] = p.a;
            if (p.masked)
                b[40 + xorStride * std::size_t(h) + row * andStride + std::size_t(x) / 8] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
    return b;
}

// A 1-bit (monochrome) icon DIB, all black and opaque.
inline Bytes monoDib(int w, int h)
{
    const std::size_t stride = (std::size_t(w) + 31) / 32 * 4;
    Bytes b(40 + 8 + 2 * stride * std::size_t(h), 0);
    put32(b, 0, 40);
    put32(b, 4, std::uint32_t(w));
    put32(b, 8, std::uint32_t(2 * h));
    put16(b, 12, 1);
    put16(b, 14, 1);
    b[44] = b[45] = b[46] = 0xff; // palette: black, white
    return b;
}

inline Bytes png(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(data.begin(), data.end());
}

struct GroupEntry
{
    std::uint8_t width, height, colours, reserved;
    std::uint16_t bits;
    std::uint32_t statedBytes;
    std::uint16_t imageId;
};

// An RT_GROUP_ICON resource. `count` overrides the header count.
inline Bytes group(const std::vector<GroupEntry> &entries, int count = -1)
{
    Bytes b(6 + 14 * entries.size(), 0);
    put16(b, 2, 1);
    put16(b, 4, count < 0 ? std::uint32_t(entries.size()) : std::uint32_t(count));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t at = 6 + 14 * i;
        b[at] = entries[i].width;
        b[at + 1] = entries[i].height;
        b[at + 2] = entries[i].colours;
        b[at + 3] = entries[i].reserved;
        put16(b, at + 4, 1);
        put16(b, at + 6, entries[i].bits);
        put32(b, at + 8, entries[i].statedBytes);
        put16(b, at + 12, entries[i].imageId);
    }
    return b;
}

} // namespace testicon
