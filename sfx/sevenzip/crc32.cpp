#include "crc32.h"

// The LZMA SDK's CRC-32: tables for twelve bytes a step, and the CPU's CRC
// instructions where it has them (ARM64).
extern "C" {
#include <7zCrc.h>
}

namespace quillon::sevenzip {

std::uint32_t crc32Update(std::uint32_t crc, const void *data, std::size_t size)
{
    static const bool tablesReady = (CrcGenerateTable(), true);
    (void)tablesReady;
    return ~CrcUpdate(~crc, data, size);
}

} // namespace quillon::sevenzip
