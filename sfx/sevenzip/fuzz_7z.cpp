// libFuzzer target for the 7z reader: open, then extract into a sink that
// only counts. Inputs above 1 MiB are ignored.
#include "payload.h"
#include "sevenzip.h"

#include <cstring>

namespace {

using namespace quillon::sevenzip;

class CountingSink : public Sink
{
public:
    bool directory(const Entry &) override { return true; }
    bool beginFile(const Entry &) override { return true; }
    bool write(const std::uint8_t *, std::size_t size) override
    {
        total += size;
        return total < (std::uint64_t(64) << 20); // bound the time spent per input
    }
    bool endFile(const Entry &) override { return true; }
    std::uint64_t total = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    quillon::SpanInput input(data, size);
    std::uint64_t offset = 0;
    if (size >= 4 && ((data[0] == 'M' && data[1] == 'Z') ||
                      (data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F'))) {
        Payload payload;
        if (locateModulePayload(input, payload).failed())
            return 0;
        offset = payload.archiveOffset;
    }
    Options options;
    options.mapping = (size & 1) ? NameMapping::Windows : NameMapping::Host;
    options.maxDictionarySize = 16u << 20;
    options.maxHeaderSize = 16u << 20;
    // Both ways through the decoders and the sink: on one thread, and with LZMA2 blocks
    // and the writer on threads of their own.
    options.decoderThreads = (size & 2) ? 1 : 2;
    options.writerThread = (size & 2) == 0;
    Archive archive;
    if (archive.open(input, offset, options).failed())
        return 0;
    CountingSink sink;
    archive.extract(sink);
    return 0;
}
