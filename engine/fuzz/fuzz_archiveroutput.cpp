// Feeds arbitrary archiver output to the parser in chunks cut by the input's
// first byte; checks the progress values stay within the plan.
#include "jobtext.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const size_t chunk = size_t(data[0] % 64) + 1;
    quillon::ArchiverOutputParser parser;
    int last = -1;
    for (size_t at = 1; at < size; at += chunk) {
        const size_t len = size - at < chunk ? size - at : chunk;
        const QByteArray bytes(reinterpret_cast<const char *>(data + at), int(len));
        const quillon::ArchiverOutputParser::Step step = parser.parseArchiverOutput(bytes);
        if (step.progress) {
            const int value = *step.progress;
            if (value < 0 || value > 45 || value < last) {
                std::abort();
            }
            last = value;
        }
    }
    return 0;
}
