// CRC-32 (IEEE 802.3, reflected, as 7z uses).
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillon::sevenzip {

// Continues `crc` (0 for a new checksum) over `size` bytes.
std::uint32_t crc32Update(std::uint32_t crc, const void *data, std::size_t size);

inline std::uint32_t crc32(const void *data, std::size_t size)
{
    return crc32Update(0, data, size);
}

} // namespace quillon::sevenzip
