// Feeds arbitrary bytes to the ICO reader and, when they parse, makes them an
// icon group of an empty resource list.
#include "icongroup.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    std::vector<quillon::ico::Image> images;
    if (quillon::ico::readIco(data, size, images).failed())
        return 0;
    std::vector<quillon::pe::Resource> resources;
    std::string summary;
    quillon::resedit::replaceIconGroup(resources, quillon::pe::ResId::fromId(1), -1, images,
                                       summary);
    return 0;
}
