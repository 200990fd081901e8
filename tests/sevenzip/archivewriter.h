// Test-only writer of small 7z archives (Copy coder only), so tests can
// build archives 7-Zip would never write: arbitrary names, absurd counts,
// broken layouts. Also the raw pieces (numbers, start header) for
// hand-made headers.
#pragma once

#include "crc32.h"

#include <cstdint>
#include <string>
#include <vector>

namespace archivewriter {

inline std::string num(std::uint64_t value)
{
    // 7z number: the first byte's leading one bits count the extra bytes.
    for (int extra = 0; extra < 8; ++extra) {
        if (value < (std::uint64_t(1) << (7 * (extra + 1)))) {
            std::string out(1, '\0');
            const std::uint64_t high = value >> (8 * extra);
            out[0] = static_cast<char>((0xFF00u >> extra) & 0xFF);
            out[0] = static_cast<char>(static_cast<unsigned char>(out[0]) | high);
            for (int i = 0; i < extra; ++i)
                out += static_cast<char>((value >> (8 * i)) & 0xFF);
            return out;
        }
    }
    std::string out(1, '\xFF');
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

inline std::string le(std::uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

inline std::uint32_t crc(const std::string &data)
{
    return quillon::sevenzip::crc32(data.data(), data.size());
}

inline std::string utf16z(const std::string &utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = c;
        int len = 1;
        if (c >= 0xF0) {
            cp = c & 0x07u;
            len = 4;
        } else if (c >= 0xE0) {
            cp = c & 0x0Fu;
            len = 3;
        } else if (c >= 0xC0) {
            cp = c & 0x1Fu;
            len = 2;
        }
        for (int k = 1; k < len; ++k)
            cp = (cp << 6) |
                 (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3Fu);
        i += static_cast<std::size_t>(len);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += le(0xD800 + (cp >> 10), 2);
            out += le(0xDC00 + (cp & 0x3FF), 2);
        } else {
            out += le(cp, 2);
        }
    }
    return out + le(0, 2);
}

inline std::string bits(const std::vector<bool> &v)
{
    std::string out((v.size() + 7) / 8, '\0');
    for (std::size_t i = 0; i < v.size(); ++i)
        if (v[i])
            out[i / 8] = static_cast<char>(out[i / 8] | (0x80 >> (i % 8)));
    return out;
}

// Start header + packed data + header, with correct CRCs unless told otherwise.
inline std::string wrap(const std::string &packed, const std::string &header)
{
    std::string tail = le(packed.size(), 8) + le(header.size(), 8) + le(crc(header), 4);
    std::string out("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    out += le(crc(tail), 4) + tail + packed + header;
    return out;
}

struct File
{
    std::string name;
    std::string data;
    bool directory = false;
    bool badCrc = false;
};

// Streams info of one Copy folder holding `sizes` as substreams.
inline std::string copyStreams(std::uint64_t packSize, const std::vector<std::uint64_t> &sizes,
                               const std::vector<std::uint32_t> &crcs)
{
    std::uint64_t total = 0;
    for (auto s : sizes)
        total += s;
    std::string h;
    h += '\x06' + num(0) + num(1) + '\x09' + num(packSize) + '\x00';
    h += std::string("\x07\x0B", 2) + num(1) + '\x00';
    h += num(1) + std::string("\x01\x00", 2); // one coder, id size 1, Copy
    h += '\x0C' + num(total) + '\x00';
    h += '\x08' + std::string("\x0D") + num(sizes.size());
    if (sizes.size() > 1) {
        h += '\x09';
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
            h += num(sizes[i]);
    }
    h += std::string("\x0A\x01", 2);
    for (auto c : crcs)
        h += le(c, 4);
    h += '\x00';
    h += '\x00';
    return h;
}

// A complete archive of `files` (one Copy folder for all data).
inline std::string copyArchive(const std::vector<File> &files)
{
    std::string packed;
    std::vector<std::uint64_t> sizes;
    std::vector<std::uint32_t> crcs;
    std::vector<bool> emptyStream, emptyFile;
    std::string names = std::string(1, '\0');
    for (const auto &f : files) {
        const bool empty = f.directory || f.data.empty();
        emptyStream.push_back(empty);
        if (empty) {
            emptyFile.push_back(!f.directory);
        } else {
            packed += f.data;
            sizes.push_back(f.data.size());
            crcs.push_back(crc(f.data) ^ (f.badCrc ? 1u : 0u));
        }
        names += utf16z(f.name);
    }
    std::string h = "\x01";
    if (!sizes.empty())
        h += '\x04' + copyStreams(packed.size(), sizes, crcs);
    h += '\x05' + num(files.size());
    if (sizes.size() != files.size()) {
        const std::string es = bits(emptyStream), ef = bits(emptyFile);
        h += '\x0E' + num(es.size()) + es;
        h += '\x0F' + num(ef.size()) + ef;
    }
    h += '\x11' + num(names.size()) + names;
    h += '\x00';
    h += '\x00';
    return wrap(packed, h);
}

// A PE32+ image of 4 KiB of headers and one 512-byte section: its image ends
// at 0x1200. `slack` is written into the headers after the section table
// (at 0x200, at most 3.5 KiB), where the loader never looks.
inline std::string minimalPe(const std::string &slack = {})
{
    std::string pe(0x1200, '\0');
    auto put = [&pe](std::size_t at, std::uint64_t value, int bytes) {
        pe.replace(at, static_cast<std::size_t>(bytes), le(value, bytes));
    };
    pe[0] = 'M';
    pe[1] = 'Z';
    put(0x3C, 0x40, 4);
    pe.replace(0x40, 4, std::string("PE\0\0", 4));
    put(0x44, 0x8664, 2);      // machine
    put(0x46, 1, 2);           // sections
    put(0x54, 0xF0, 2);        // optional header size
    put(0x58, 0x20B, 2);       // PE32+
    put(0x58 + 60, 0x1000, 4); // size of headers
    const std::size_t section = 0x58 + 0xF0;
    pe.replace(section, 5, ".text");
    put(section + 8, 0x200, 4);   // virtual size
    put(section + 12, 0x1000, 4); // virtual address
    put(section + 16, 0x200, 4);  // raw size
    put(section + 20, 0x1000, 4); // raw offset
    for (std::size_t i = 0x1000; i < 0x1200; ++i)
        pe[i] = '\xC3';
    pe.replace(0x200, slack.size(), slack);
    return pe;
}

} // namespace archivewriter
