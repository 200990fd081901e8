// Streaming 7z reader used by the self-extractor module and quillon-unpack.
// Plain C++ (no Qt, no exceptions across this interface); builds for the host
// and, with mingw-w64, for Windows.
#pragma once

#include "bytereader.h"
#include "input.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quillon::sevenzip {

// How stored names become relative paths.
enum class NameMapping
{
    Host,    // keep names as stored ('/' separators); unsafe names still refused
    Windows, // also map characters and names Windows cannot hold, as 7-Zip does
};

struct Entry
{
    std::string path; // UTF-8, '/'-separated, relative, safe (no "..", no root)
    bool isDirectory = false;
    std::uint64_t size = 0;
    bool hasCrc = false;
    std::uint32_t crc = 0;
    bool hasAttributes = false;
    std::uint32_t attributes = 0; // Windows attributes (high 16 bits: POSIX mode when set)
    bool hasModificationTime = false;
    std::uint64_t modificationTime = 0; // FILETIME: 100 ns since 1601-01-01 UTC
};

// Receives the archive's content in archive order. Any `false` stops the
// extraction with an Io error. With Options::writerThread the calls come from
// a writer thread, one at a time, and extract() returns only after the last.
class Sink
{
public:
    virtual ~Sink() = default;
    virtual bool directory(const Entry &entry) = 0;
    virtual bool beginFile(const Entry &entry) = 0;
    virtual bool write(const std::uint8_t *data, std::size_t size) = 0;
    virtual bool endFile(const Entry &entry) = 0; // called after the CRC was checked
};

struct Options
{
    NameMapping mapping = NameMapping::Host;
    // Archives needing a larger dictionary buffer are refused at open().
    std::uint64_t maxDictionarySize = std::uint64_t(1) << 30;
    // Largest header (after decoding) accepted.
    std::uint64_t maxHeaderSize = std::uint64_t(256) << 20;
    // Threads decoding the blocks of an LZMA2 stream that has several (0: one
    // per processor). The dictionaries of all of them together stay within
    // maxDictionarySize; a stream of one block is decoded on the calling thread.
    unsigned decoderThreads = 0;
    // Hands the data to the sink on a thread of its own, through a bounded
    // queue, while the next data is decoded. The sink is then called from that
    // thread only, and always in archive order.
    bool writerThread = true;
};

class Archive
{
public:
    // Parses the archive that starts at `offset` in `input`: start header
    // (its CRC checked), next header (encoded headers decoded), folders,
    // substreams and file records. Every coder is checked to be supported
    // and every name to be safe before this returns success.
    Error open(Input &input, std::uint64_t offset = 0, const Options &options = {});

    const std::vector<Entry> &entries() const;
    std::uint64_t totalUnpackSize() const;
    // The end of the archive (start offset + 32 + next header offset + size).
    std::uint64_t archiveEnd() const;

    // Decodes every file in archive order into `sink`, verifying CRCs.
    // A CRC mismatch ends with ErrorKind::CrcMismatch after endFile was NOT
    // called for the bad file.
    Error extract(Sink &sink);

    Archive();
    ~Archive();
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace quillon::sevenzip
