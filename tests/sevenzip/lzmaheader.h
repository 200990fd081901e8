// Test-only: archives whose header is stored LZMA-encoded, so a few KiB of
// archive can carry megabytes of hand-made header (the LZMA SDK's encoder).
#pragma once

#include "archivewriter.h"

extern "C" {
#include "LzmaEnc.h"
}

#include <cstdlib>

namespace archivewriter {

inline void *lzmaAlloc(ISzAllocPtr, size_t size)
{
    return std::malloc(size);
}
inline void lzmaFree(ISzAllocPtr, void *address)
{
    std::free(address);
}

// Raw LZMA of `data` (no end marker); `props` gets the 5 property bytes.
inline std::string lzmaEncode(const std::string &data, std::string &props)
{
    const ISzAlloc alloc = {lzmaAlloc, lzmaFree};
    CLzmaEncProps p;
    LzmaEncProps_Init(&p);
    p.level = 1;
    p.dictSize = 1 << 16;
    p.numThreads = 1;
    std::string out(data.size() / 2 + 4096, '\0');
    SizeT outSize = out.size();
    unsigned char encodedProps[LZMA_PROPS_SIZE];
    SizeT propsSize = sizeof encodedProps;
    const SRes res = LzmaEncode(reinterpret_cast<unsigned char *>(&out[0]), &outSize,
                                reinterpret_cast<const unsigned char *>(data.data()), data.size(),
                                &p, encodedProps, &propsSize, 0, nullptr, &alloc, &alloc);
    if (res != SZ_OK)
        return {};
    props.assign(reinterpret_cast<const char *>(encodedProps), propsSize);
    out.resize(outSize);
    return out;
}

// An archive whose next header is an encoded header: one LZMA folder that
// decodes to `header` (which starts with its own property id).
inline std::string lzmaHeaderArchive(const std::string &header)
{
    std::string props;
    const std::string packed = lzmaEncode(header, props);
    std::string h = "\x17";
    h += '\x06' + num(0) + num(1) + '\x09' + num(packed.size()) + '\x00';
    h += std::string("\x07\x0B", 2) + num(1) + '\x00';
    h += num(1) + std::string("\x23\x03\x01\x01", 4) + num(props.size()) + props;
    h += '\x0C' + num(header.size()) + '\x0A' + '\x01' + le(crc(header), 4) + '\x00';
    h += '\x00';
    return wrap(packed, h);
}

} // namespace archivewriter
