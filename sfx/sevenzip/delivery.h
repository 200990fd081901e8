// Internal: how Archive::extract hands decoded data to a Sink, either by
// calling it directly or through a bounded queue that a writer thread empties
// in order. The extractor decodes into buffer() and passes the bytes on with
// write(); errors come back as values carrying the message extract() reports.
#pragma once

#include "bytereader.h"
#include "sevenzip.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillon::sevenzip::detail {

// Where a file stands in its folder, for the folder's own CRC (kept when the
// folder holds several files).
struct FolderCheck
{
    bool first = false; // the folder's CRC starts over with this file
    bool last = false;  // and is compared after it
    bool check = false; // the folder has a CRC of its own
    std::uint32_t crc = 0;
};

// The CRCs are computed where the data is handed to the sink (with the
// writer thread: on it), and a file is finished only once they match.
class Delivery
{
public:
    virtual ~Delivery() = default;
    // Room to decode into: at least one byte, at most kDeliveryChunk. Null
    // when out of memory.
    virtual std::uint8_t *buffer(std::size_t &room) = 0;
    virtual Error directory(const Entry &entry) = 0;
    virtual Error beginFile(const Entry &entry, const FolderCheck &folder) = 0;
    // The first `size` bytes of the last buffer() belong to the current file.
    virtual Error write(std::size_t size) = 0;
    // Checks the CRCs, then finishes the file.
    virtual Error endFile(const Entry &entry) = 0;
    // Waits until the sink has seen everything handed on; the first error
    // the sink reported, if any.
    virtual Error finish() = 0;
};

constexpr std::size_t kDeliveryChunk = 1 << 20;

// `entries` must outlive the delivery: the writer thread reads them later.
// Falls back to direct calls when no thread can be started.
std::unique_ptr<Delivery> makeDelivery(Sink &sink, bool writerThread);

} // namespace quillon::sevenzip::detail
