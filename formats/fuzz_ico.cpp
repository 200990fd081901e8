// libFuzzer target: the ICO check, and the group -> ICO assembly with the
// input split into a group and a pool of image bytes. Every ICO assembled
// must pass the check.
#include "ico.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace quillon::ico;
    if (size > (1u << 20))
        return 0;
    const CheckResult check = checkIco(data, size);
    checkMessage(check);
    if (size < 2)
        return 0;

    // First two bytes: length of the group part; the rest is the image pool.
    const std::size_t groupSize = std::min<std::size_t>(size - 2, data[0] | data[1] << 8);
    const std::uint8_t *group = data + 2;
    const std::uint8_t *pool = group + groupSize;
    const std::size_t poolSize = size - 2 - groupSize;
    std::vector<GroupEntry> entries;
    if (!parseGroup(group, groupSize, entries))
        return 0;
    // Image n is the pool slice [start, start + length) with start and length
    // taken from the image number; 0xffff stands for a missing image.
    const ImageLookup lookup = [&](std::uint16_t imageId, ImageBytes &image) {
        if (imageId == 0xffff)
            return false;
        const std::size_t start = poolSize ? (imageId & 0xff) % poolSize : 0;
        const std::size_t length = std::min<std::size_t>(poolSize - start, imageId >> 8);
        image.data = pool + start;
        image.size = length;
        return true;
    };
    std::vector<std::uint8_t> ico;
    if (assembleIco(entries, lookup, ico)) {
        if (checkIco(ico.data(), ico.size()).verdict != Verdict::Ok)
            __builtin_trap();
    } else if (!ico.empty()) {
        __builtin_trap(); // a failed assembly leaves nothing behind
    }

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
    if (decodeDib(data, size, width, height, pixels) &&
        pixels.size() != std::size_t(width) * height * 4)
        __builtin_trap();
    pickEntry(entries);
    return 0;
}
