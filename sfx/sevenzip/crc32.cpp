#include "crc32.h"

namespace quillon::sevenzip {
namespace {

struct Tables
{
    std::uint32_t t[8][256];
    Tables()
    {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (int k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};

const Tables &tables()
{
    static const Tables instance;
    return instance;
}

} // namespace

std::uint32_t crc32Update(std::uint32_t crc, const void *data, std::size_t size)
{
    const auto &t = tables().t;
    const auto *p = static_cast<const std::uint8_t *>(data);
    std::uint32_t c = ~crc;
    while (size && (reinterpret_cast<std::uintptr_t>(p) & 7)) {
        c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
        --size;
    }
    while (size >= 8) {
        const std::uint32_t lo =
            c ^ (static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                 static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
        const std::uint32_t hi =
            static_cast<std::uint32_t>(p[4]) | static_cast<std::uint32_t>(p[5]) << 8 |
            static_cast<std::uint32_t>(p[6]) << 16 | static_cast<std::uint32_t>(p[7]) << 24;
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size--)
        c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return ~c;
}

} // namespace quillon::sevenzip
