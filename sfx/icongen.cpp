// Draws the self-extractor's icon (a parcel on a blue rounded square) and
// writes it as a multi-size ICO file: quillon-sfx-icongen OUTPUT.ico
// 32-bit images with an AND mask, at 16, 24, 32 and 48 pixels.
#include "bytewriter.h"
#include "ico.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct Rgba
{
    double r = 0, g = 0, b = 0, a = 0;
};

bool insideRoundedRect(double u, double v, double x0, double y0, double x1, double y1, double r)
{
    if (u < x0 || u > x1 || v < y0 || v > y1)
        return false;
    const double cx = u < x0 + r ? x0 + r : (u > x1 - r ? x1 - r : u);
    const double cy = v < y0 + r ? y0 + r : (v > y1 - r ? y1 - r : v);
    return (u - cx) * (u - cx) + (v - cy) * (v - cy) <= r * r;
}

// Colour of the design at (u, v) in [0, 1]^2, straight alpha.
Rgba sample(double u, double v)
{
    Rgba c;
    if (!insideRoundedRect(u, v, 0.04, 0.04, 0.96, 0.96, 0.2))
        return c;
    // Background: vertical blue gradient.
    c = {45 + (27 - 45) * v, 127 + (79 - 127) * v, 249 + (184 - 249) * v, 255};
    const bool box = insideRoundedRect(u, v, 0.27, 0.40, 0.73, 0.78, 0.04);
    const bool lid = insideRoundedRect(u, v, 0.22, 0.26, 0.78, 0.40, 0.03);
    const bool tape = u > 0.45 && u < 0.55 && v > 0.26 && v < 0.78;
    if (tape && (box || lid))
        c = {255, 196, 61, 255};
    else if (lid)
        c = {255, 255, 255, 255};
    else if (box)
        c = {232, 240, 254, 255};
    return c;
}

std::vector<std::uint8_t> image(int size)
{
    const int n = 4; // supersampling per axis
    const int maskStride = ((size + 31) / 32) * 4;
    std::vector<std::uint8_t> out;
    auto put32 = [&out](std::uint32_t v) { quillon::appendU32le(out, v); };
    auto put16 = [&out](std::uint16_t v) { quillon::appendU16le(out, v); };
    put32(40);
    put32(static_cast<std::uint32_t>(size));
    put32(static_cast<std::uint32_t>(size * 2)); // colour + mask
    put16(1);
    put16(32);
    put32(0);
    put32(static_cast<std::uint32_t>(size * size * 4 + maskStride * size));
    put32(0);
    put32(0);
    put32(0);
    put32(0);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskStride * size), 0);
    for (int row = size - 1; row >= 0; --row) { // bottom-up
        for (int x = 0; x < size; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const Rgba s =
                        sample((x + (sx + 0.5) / n) / size, (row + (sy + 0.5) / n) / size);
                    r += s.r * s.a;
                    g += s.g * s.a;
                    b += s.b * s.a;
                    a += s.a;
                }
            }
            const double alpha = a / (n * n);
            const auto channel = [a](double premultiplied) {
                return static_cast<std::uint8_t>(a > 0 ? premultiplied / a + 0.5 : 0);
            };
            out.push_back(channel(b));
            out.push_back(channel(g));
            out.push_back(channel(r));
            out.push_back(static_cast<std::uint8_t>(alpha + 0.5));
            if (alpha < 0.5) {
                const int maskRow = size - 1 - row;
                mask[static_cast<std::size_t>(maskRow * maskStride + x / 8)] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
        return 2;
    }
    const int sizes[] = {16, 24, 32, 48};
    std::vector<quillon::ico::Image> images;
    for (const int size : sizes) {
        quillon::ico::Image entry;
        entry.width = static_cast<std::uint8_t>(size);
        entry.height = static_cast<std::uint8_t>(size);
        entry.planes = 1;
        entry.bitCount = 32;
        entry.data = image(size);
        images.push_back(std::move(entry));
    }
    std::vector<std::uint8_t> file;
    if (!quillon::ico::writeIco(images, file)) {
        std::fprintf(stderr, "cannot make the icon\n");
        return 1;
    }

    FILE *out = std::fopen(argv[1], "wb");
    if (!out || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
