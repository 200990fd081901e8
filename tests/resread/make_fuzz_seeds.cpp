// Writes the seed inputs of fuzz_pe and fuzz_ico into
// <dir>/fuzz_pe and <dir>/fuzz_ico (tests/fuzz-seeds in the repository):
//   make_fuzz_seeds tests/fuzz-seeds
#include <cstdio>
#include <fstream>
#include <string>

#include "iconfixtures.h"
#include "pebuilder.h"

namespace {

using testicon::Bytes;

bool save(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

testicon::Pixel checker(int x, int y)
{
    const bool on = (x / 4 + y / 4) % 2 != 0;
    return {std::uint8_t(on ? 0xff : 0), 0x80, std::uint8_t(x * 16), std::uint8_t(on ? 0xff : 0),
            !on};
}

// An 8-bit DIB with a 4-colour palette and a mask.
Bytes paletteDib(int side)
{
    const std::size_t xorStride = (std::size_t(side) + 3) / 4 * 4;
    const std::size_t andStride = (std::size_t(side) + 31) / 32 * 4;
    Bytes b(40 + 16 + (xorStride + andStride) * std::size_t(side), 0);
    testicon::put32(b, 0, 40);
    testicon::put32(b, 4, std::uint32_t(side));
    testicon::put32(b, 8, std::uint32_t(2 * side));
    testicon::put16(b, 12, 1);
    testicon::put16(b, 14, 8);
    testicon::put32(b, 32, 4);
    for (std::size_t i = 0; i < 16; ++i)
        b[40 + i] = std::uint8_t(i * 17);
    for (std::size_t i = 0; i < xorStride * std::size_t(side); ++i)
        b[56 + i] = std::uint8_t(i % 4);
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    using quillon::pe::kRtGroupIcon;
    using quillon::pe::kRtIcon;
    const Bytes image16 = testicon::dib(16, 16, 32, checker);
    const Bytes image8 = paletteDib(8);
    const Bytes group = testicon::group({{16, 16, 0, 0, 32, 0, 1}, {8, 8, 4, 0, 8, 0, 2}});
    const std::vector<testpe::Res> resources = {
        {testpe::id(kRtIcon), testpe::id(1), 0x409, image16},
        {testpe::id(kRtIcon), testpe::id(2), 0x409, image8},
        {testpe::id(kRtGroupIcon), testpe::name("APP"), 0x409, group},
        {testpe::id(quillon::pe::kRtVersion), testpe::id(1), 0, Bytes(16, 0)},
    };
    bool ok = save(root + "/fuzz_pe/pe32plus.exe", testpe::build(resources, true)) &&
              save(root + "/fuzz_pe/pe32.exe", testpe::build(resources, false));

    // fuzz_ico: a plain ICO, and a split input (2-byte group length, group,
    // image pool) whose image numbers select slices of the pool.
    Bytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 22, 0, 0, 0};
    testicon::put32(ico, 14, std::uint32_t(image16.size()));
    ico.insert(ico.end(), image16.begin(), image16.end());
    const Bytes splitGroup =
        testicon::group({{16, 16, 0, 0, 32, 0, 0x2000}, {8, 8, 4, 0, 8, 0, 0x1004}});
    Bytes split = {std::uint8_t(splitGroup.size()), 0};
    split.insert(split.end(), splitGroup.begin(), splitGroup.end());
    split.insert(split.end(), image8.begin(), image8.end());
    ok = ok && save(root + "/fuzz_ico/icon.ico", ico) && save(root + "/fuzz_ico/split", split) &&
         save(root + "/fuzz_ico/dib8.bin", image8) && save(root + "/fuzz_ico/dib32.bin", image16);
    if (!ok)
        std::fprintf(stderr, "cannot write the seeds under %s\n", root.c_str());
    return ok ? 0 : 1;
}
