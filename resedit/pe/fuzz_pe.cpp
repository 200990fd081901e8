// libFuzzer target: the PE reader and the lookups on what it returns.
#include "peimage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace quillon::pe;
    if (size > (1u << 20))
        return 0;
    PeImage image;
    if (parsePe(data, size, image).failed())
        return 0;
    std::uint64_t offset = 0;
    for (const DataDirectory &d : image.dataDirectories)
        rvaToOffset(image, d.rva, offset);
    for (const ResId &type :
         {ResId::fromId(kRtGroupIcon), ResId::fromId(kRtIcon), ResId::fromId(kRtVersion)}) {
        for (const ResId &name : resourceNames(image, type)) {
            const Resource *res = findResource(image, type, name);
            if (!res)
                __builtin_trap(); // every enumerated name must be found
            findResource(image, type, name, res->language);
        }
    }
    return 0;
}
