// Internal: the pull streams a folder is decoded through. Each stream yields
// exactly its declared size; a source that ends early is an error.
#pragma once

#include "bytereader.h"
#include "filters.h"
#include "sevenzip.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quillon::sevenzip::detail {

class Stream
{
public:
    virtual ~Stream() = default;
    // Reads up to `want` bytes; `got` == 0 only at the end of the stream.
    virtual Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) = 0;
};

// [offset, offset + size) of the input, read as it is.
std::unique_ptr<Stream> makePackStream(Input &input, std::uint64_t offset, std::uint64_t size);
// Identical to the source, checked to be `size` bytes long.
std::unique_ptr<Stream> makeCopyStream(std::unique_ptr<Stream> source, std::uint64_t size);
// `props`: the 5 LZMA property bytes. The dictionary buffer is the smaller
// of the dictionary and `size`.
std::unique_ptr<Stream> makeLzmaStream(std::unique_ptr<Stream> source,
                                       const std::vector<std::uint8_t> &props, std::uint64_t size,
                                       std::uint64_t offset, Error &error);
// `props`: the one LZMA2 dictionary byte.
std::unique_ptr<Stream> makeLzma2Stream(std::unique_ptr<Stream> source,
                                        const std::vector<std::uint8_t> &props, std::uint64_t size,
                                        std::uint64_t offset, Error &error);
// LZMA2 straight from a packed stream: blocks that start with a dictionary
// reset are decoded on up to `threads` threads (1: the serial decoder).
std::unique_ptr<Stream> makePackedLzma2Stream(Input &input, std::uint64_t packOffset,
                                              std::uint64_t packSize,
                                              const std::vector<std::uint8_t> &props,
                                              std::uint64_t size, unsigned threads, Error &error);
// The same bytes, read from `source` on a thread of its own a little ahead
// (`source` itself when no thread can be started).
std::unique_ptr<Stream> makeReadAheadStream(std::unique_ptr<Stream> source);
std::unique_ptr<Stream> makeFilterStream(std::unique_ptr<Stream> source,
                                         std::unique_ptr<Filter> filter, std::uint64_t size);
// Inputs in the coder's order: main, call, jump, range coder.
std::unique_ptr<Stream> makeBcj2Stream(std::unique_ptr<Stream> main, std::unique_ptr<Stream> call,
                                       std::unique_ptr<Stream> jump, std::unique_ptr<Stream> rc,
                                       std::uint64_t size, std::uint64_t offset);

// Dictionary sizes as the properties declare them (0 when malformed).
std::uint64_t lzmaDictionarySize(const std::vector<std::uint8_t> &props);
std::uint64_t lzma2DictionarySize(const std::vector<std::uint8_t> &props);

} // namespace quillon::sevenzip::detail
