// Test-only builder of minimal PE32 / PE32+ images with one .rsrc section
// holding the given resources. Entries are written in the order given, so
// tests can check the reader's ordering. Also returns where the parts ended
// up, so tests can damage them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "peimage.h"

namespace testpe {

using quillon::pe::ResId;

struct Res
{
    ResId type;
    ResId name;
    std::uint16_t language = 0x409;
    std::vector<std::uint8_t> data;
};

struct Layout
{
    std::uint64_t rsrcOffset = 0;            // file offset of the resource section
    std::uint32_t rsrcRva = 0x1000;          // its RVA
    std::uint64_t sectionTable = 0;          // file offset of the section table
    std::uint64_t coffHeader = 0;            // file offset of the COFF header (after "PE\0\0")
    std::uint64_t optionalHeader = 0;        // file offset of the optional header
    std::vector<std::uint64_t> dataEntries;  // file offsets of the data entries, in order
    std::vector<std::uint64_t> languageDirs; // file offsets of the language directories
};

inline void put16(std::vector<std::uint8_t> &b, std::uint64_t at, std::uint32_t v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::vector<std::uint8_t> &b, std::uint64_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t align(std::uint32_t v, std::uint32_t a)
{
    return (v + a - 1) / a * a;
}

inline std::vector<std::uint8_t> build(const std::vector<Res> &resources, bool pe32plus = true,
                                       Layout *layoutOut = nullptr)
{
    Layout layout;
    // Group into type -> name -> languages, keeping first-seen order.
    struct NameNode
    {
        ResId name;
        std::vector<const Res *> langs;
    };
    struct TypeNode
    {
        ResId type;
        std::vector<NameNode> names;
    };
    std::vector<TypeNode> types;
    for (const Res &r : resources) {
        TypeNode *t = nullptr;
        for (TypeNode &x : types)
            if (x.type == r.type)
                t = &x;
        if (!t) {
            types.push_back({r.type, {}});
            t = &types.back();
        }
        NameNode *n = nullptr;
        for (NameNode &x : t->names)
            if (x.name == r.name)
                n = &x;
        if (!n) {
            t->names.push_back({r.name, {}});
            n = &t->names.back();
        }
        n->langs.push_back(&r);
    }

    // Measure the tree.
    std::uint32_t dirBytes = 16 + 8 * static_cast<std::uint32_t>(types.size());
    std::uint32_t leafCount = 0;
    std::uint32_t stringBytes = 0;
    auto stringSize = [](const ResId &id) {
        return id.isName ? 2 + 2 * static_cast<std::uint32_t>(id.name.size()) : 0;
    };
    for (const TypeNode &t : types) {
        stringBytes += stringSize(t.type);
        dirBytes += 16 + 8 * static_cast<std::uint32_t>(t.names.size());
        for (const NameNode &n : t.names) {
            stringBytes += stringSize(n.name);
            dirBytes += 16 + 8 * static_cast<std::uint32_t>(n.langs.size());
            leafCount += static_cast<std::uint32_t>(n.langs.size());
        }
    }
    const std::uint32_t entriesAt = dirBytes;
    const std::uint32_t stringsAt = entriesAt + 16 * leafCount;
    std::uint32_t dataAt = align(stringsAt + stringBytes, 8);
    std::uint32_t rsrcSize = dataAt;
    for (const Res &r : resources)
        rsrcSize = align(rsrcSize + static_cast<std::uint32_t>(r.data.size()), 8);

    const std::uint32_t optSize = pe32plus ? 240 : 224;
    const std::uint32_t headersSize = 0x200;
    layout.rsrcOffset = headersSize;
    const std::uint32_t rawSize = align(rsrcSize, 0x200);
    std::vector<std::uint8_t> b(headersSize + rawSize, 0);

    // DOS header, PE signature, COFF header.
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3c, 0x40);
    std::memcpy(&b[0x40], "PE\0\0", 4);
    layout.coffHeader = 0x44;
    put16(b, 0x44, pe32plus ? 0x8664 : 0x14c);
    put16(b, 0x46, 1); // sections
    put16(b, 0x54, optSize);
    put16(b, 0x56, pe32plus ? 0x22 : 0x102);
    // Optional header.
    const std::uint64_t o = 0x58;
    layout.optionalHeader = o;
    put16(b, o, pe32plus ? 0x20b : 0x10b);
    put32(b, o + 32, 0x1000);                           // section alignment
    put32(b, o + 36, 0x200);                            // file alignment
    put16(b, o + 40, 6);                                // OS version
    put16(b, o + 48, 6);                                // subsystem version
    put32(b, o + 56, 0x1000 + align(rsrcSize, 0x1000)); // size of image
    put32(b, o + 60, headersSize);
    put16(b, o + 68, 2); // GUI
    const std::uint64_t countAt = o + (pe32plus ? 108 : 92);
    put32(b, countAt, 16);
    put32(b, countAt + 4 + 8 * 2, 0x1000);
    put32(b, countAt + 4 + 8 * 2 + 4, rsrcSize);
    // Section table.
    layout.sectionTable = o + optSize;
    std::memcpy(&b[layout.sectionTable], ".rsrc", 5);
    put32(b, layout.sectionTable + 8, rsrcSize);
    put32(b, layout.sectionTable + 12, 0x1000);
    put32(b, layout.sectionTable + 16, rawSize);
    put32(b, layout.sectionTable + 20, headersSize);
    put32(b, layout.sectionTable + 36, 0x40000040);

    // The tree.
    const std::uint64_t base = headersSize;
    std::uint32_t nextDir = 0;
    std::uint32_t nextEntry = entriesAt;
    std::uint32_t nextString = stringsAt;
    std::uint32_t nextData = dataAt;
    auto nameField = [&](const ResId &id) -> std::uint32_t {
        if (!id.isName)
            return id.id;
        const std::uint32_t at = nextString;
        put16(b, base + at, static_cast<std::uint32_t>(id.name.size()));
        for (std::size_t i = 0; i < id.name.size(); ++i)
            put16(b, base + at + 2 + 2 * i, id.name[i]);
        nextString += stringSize(id);
        return 0x80000000u | at;
    };
    auto startDir = [&](std::size_t count, const std::vector<bool> &named) {
        const std::uint32_t at = nextDir;
        std::uint32_t namedCount = 0;
        for (bool n : named)
            namedCount += n ? 1 : 0;
        put16(b, base + at + 12, namedCount);
        put16(b, base + at + 14, static_cast<std::uint32_t>(count) - namedCount);
        nextDir += 16 + 8 * static_cast<std::uint32_t>(count);
        return at;
    };
    std::vector<bool> typeNamed;
    for (const TypeNode &t : types)
        typeNamed.push_back(t.type.isName);
    const std::uint32_t root = startDir(types.size(), typeNamed);
    for (std::size_t ti = 0; ti < types.size(); ++ti) {
        const TypeNode &t = types[ti];
        std::vector<bool> nameNamed;
        for (const NameNode &n : t.names)
            nameNamed.push_back(n.name.isName);
        const std::uint32_t nameDir = startDir(t.names.size(), nameNamed);
        put32(b, base + root + 16 + 8 * ti, nameField(t.type));
        put32(b, base + root + 16 + 8 * ti + 4, 0x80000000u | nameDir);
        for (std::size_t ni = 0; ni < t.names.size(); ++ni) {
            const NameNode &n = t.names[ni];
            const std::uint32_t langDir =
                startDir(n.langs.size(), std::vector<bool>(n.langs.size(), false));
            layout.languageDirs.push_back(base + langDir);
            put32(b, base + nameDir + 16 + 8 * ni, nameField(n.name));
            put32(b, base + nameDir + 16 + 8 * ni + 4, 0x80000000u | langDir);
            for (std::size_t li = 0; li < n.langs.size(); ++li) {
                const Res &r = *n.langs[li];
                const std::uint32_t entry = nextEntry;
                nextEntry += 16;
                put32(b, base + langDir + 16 + 8 * li, r.language);
                put32(b, base + langDir + 16 + 8 * li + 4, entry);
                put32(b, base + entry, 0x1000 + nextData);
                put32(b, base + entry + 4, static_cast<std::uint32_t>(r.data.size()));
                put32(b, base + entry + 8, 1252);
                if (!r.data.empty())
                    std::memcpy(&b[base + nextData], r.data.data(), r.data.size());
                nextData = align(nextData + static_cast<std::uint32_t>(r.data.size()), 8);
                layout.dataEntries.push_back(base + entry);
            }
        }
    }
    if (layoutOut)
        *layoutOut = layout;
    return b;
}

inline std::u16string u16(const char *ascii)
{
    std::u16string s;
    while (*ascii)
        s.push_back(static_cast<char16_t>(*ascii++));
    return s;
}

inline ResId id(std::uint16_t v)
{
    return ResId::fromId(v);
}
inline ResId name(const char *ascii)
{
    return ResId::fromName(u16(ascii));
}

} // namespace testpe
