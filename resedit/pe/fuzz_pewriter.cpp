// Parses arbitrary bytes as a PE image and, when they parse, rebuilds its
// resource section with the resources it already has, then parses the result.
#include "peimage.h"
#include "pewriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    quillon::pe::PeImage image;
    if (quillon::pe::parsePe(data, size, image).failed())
        return 0;
    const std::vector<std::uint8_t> original(data, data + size);
    std::vector<std::uint8_t> rebuilt;
    const auto result = quillon::pe::rebuildResources(original, image, image.resources, rebuilt);
    if (result.error.failed())
        return 0;
    // What the writer produced must read back with the same resources.
    quillon::pe::PeImage again;
    if (quillon::pe::parsePe(rebuilt.data(), rebuilt.size(), again).failed() ||
        again.resources.size() != image.resources.size())
        std::abort();
    return 0;
}
