// Little-endian writers, the counterpart of ByteReader: append to a buffer,
// or store over bytes the buffer already holds. Plain C++, header only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quillon {

inline void appendU8(std::vector<std::uint8_t> &out, std::uint8_t value)
{
    out.push_back(value);
}

inline void appendU16le(std::vector<std::uint8_t> &out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void appendU32le(std::vector<std::uint8_t> &out, std::uint32_t value)
{
    for (unsigned i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF));
}

// The caller has checked that [offset, offset + 2) lies inside `buf`.
inline void storeU16le(std::vector<std::uint8_t> &buf, std::uint64_t offset, std::uint16_t value)
{
    const auto at = static_cast<std::size_t>(offset);
    buf[at] = static_cast<std::uint8_t>(value & 0xFF);
    buf[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// The caller has checked that [offset, offset + 4) lies inside `buf`.
inline void storeU32le(std::vector<std::uint8_t> &buf, std::uint64_t offset, std::uint32_t value)
{
    const auto at = static_cast<std::size_t>(offset);
    for (unsigned i = 0; i < 4; ++i)
        buf[at + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
}

} // namespace quillon
