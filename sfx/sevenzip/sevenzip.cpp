#include "sevenzip.h"

#include "crc32.h"
#include "decoder.h"
#include "delivery.h"
#include "filters.h"
#include "names.h"
#include "threads.h"
#include "utf.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <set>

namespace quillon::sevenzip {
namespace {

using detail::processorCount;
using detail::Stream;

constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr std::size_t kStartHeaderSize = 32;
constexpr std::size_t kChunk = 1 << 20;
constexpr int kMaxHeaderNesting = 4;
// BCJ2 with each of its four inputs read through a filter over a main coder.
constexpr std::uint64_t kMaxCoders = 9;

// Property ids of the header.
enum : std::uint8_t
{
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kFilesInfo = 0x05,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D,
    kEmptyStream = 0x0E,
    kEmptyFile = 0x0F,
    kAnti = 0x10,
    kName = 0x11,
    kMTime = 0x14,
    kWinAttributes = 0x15,
    kEncodedHeader = 0x17,
    kDummy = 0x19,
};

// Method ids.
enum : std::uint64_t
{
    kCopy = 0x00,
    kDelta = 0x03,
    kX86 = 0x04,
    kPpc = 0x05,
    kIa64 = 0x06,
    kArm = 0x07,
    kArmThumb = 0x08,
    kSparc = 0x09,
    kArm64 = 0x0A,
    kRiscV = 0x0B,
    kLzma2 = 0x21,
    kLzma = 0x030101,
    kBcjX86 = 0x03030103,
    kBcj2 = 0x0303011B,
    kBcjPpc = 0x03030205,
    kBcjIa64 = 0x03030401,
    kBcjArm = 0x03030501,
    kBcjArmThumb = 0x03030701,
    kBcjSparc = 0x03030805,
};

bool isMainMethod(std::uint64_t id)
{
    return id == kCopy || id == kLzma || id == kLzma2;
}

bool filterKindOf(std::uint64_t id, FilterKind &kind)
{
    switch (id) {
    case kX86:
    case kBcjX86:
        kind = FilterKind::X86;
        return true;
    case kPpc:
    case kBcjPpc:
        kind = FilterKind::Ppc;
        return true;
    case kIa64:
    case kBcjIa64:
        kind = FilterKind::Ia64;
        return true;
    case kArm:
    case kBcjArm:
        kind = FilterKind::Arm;
        return true;
    case kArmThumb:
    case kBcjArmThumb:
        kind = FilterKind::ArmThumb;
        return true;
    case kSparc:
    case kBcjSparc:
        kind = FilterKind::Sparc;
        return true;
    case kArm64:
        kind = FilterKind::Arm64;
        return true;
    case kRiscV:
        kind = FilterKind::RiscV;
        return true;
    case kDelta:
        kind = FilterKind::Delta;
        return true;
    default:
        return false;
    }
}

std::string methodName(std::uint64_t id)
{
    switch (id) {
    case 0x030401:
        return "PPMd";
    case 0x040108:
        return "Deflate";
    case 0x040109:
        return "Deflate64";
    case 0x040202:
        return "BZip2";
    case 0x06F10701:
        return "AES-256 encryption";
    case 0x020302:
        return "Swap2";
    case 0x020304:
        return "Swap4";
    case 0x030301:
        return "Alpha";
    case 0x030605:
        return "M68";
    case 0x04F71101:
        return "Zstandard";
    default:
        break;
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    do {
        const auto b = static_cast<unsigned>(id & 0xFF);
        text.insert(text.begin(), hex[b & 15]);
        text.insert(text.begin(), hex[b >> 4]);
        id >>= 8;
    } while (id);
    return "method " + text;
}

struct Coder
{
    std::uint64_t method = 0;
    std::uint32_t numIn = 1;
    std::uint32_t numOut = 1;
    std::vector<std::uint8_t> props;
};

struct BindPair
{
    std::uint32_t in = 0;
    std::uint32_t out = 0;
};

struct Folder
{
    std::vector<Coder> coders;
    std::vector<BindPair> binds;
    std::vector<std::uint32_t> packed; // in-stream index of each packed stream
    std::vector<std::uint64_t> unpackSizes;
    std::uint32_t numIn = 0;
    std::uint32_t numOut = 0;
    std::uint32_t mainOut = 0;
    bool hasCrc = false;
    std::uint32_t crc = 0;
    std::size_t firstPack = 0;
    std::uint64_t numSubstreams = 1;
    std::uint64_t unpackSize() const { return unpackSizes[mainOut]; }
};

struct StreamsInfo
{
    std::uint64_t packPos = 0;
    std::vector<std::uint64_t> packSizes;
    std::vector<std::uint64_t> packOffsets; // absolute
    std::vector<Folder> folders;
    std::vector<std::uint64_t> subSizes;
    std::vector<bool> subHasCrc;        // empty when no substream has a CRC
    std::vector<std::uint32_t> subCrcs; // as subHasCrc
    bool subCrc(std::size_t k, std::uint32_t &crc) const
    {
        if (k >= subHasCrc.size() || !subHasCrc[k])
            return false;
        crc = subCrcs[k];
        return true;
    }
    void setSubCrc(std::size_t k, std::uint32_t crc)
    {
        if (subHasCrc.empty()) {
            subHasCrc.assign(subSizes.size(), false);
            subCrcs.assign(subSizes.size(), 0);
        }
        subHasCrc[k] = true;
        subCrcs[k] = crc;
    }
};

struct FileRecord
{
    bool hasStream = false;
    std::size_t folder = 0;
    std::uint64_t substream = 0; // global substream index
};

// Reads the header structures; `r` is positioned by the caller.
class HeaderParser
{
public:
    HeaderParser(ByteReader &reader, const char *where) : r(reader), m_where(where) {}

    Error error(ErrorKind kind, const std::string &what) const
    {
        return Error(kind, r.absolutePos(), std::string(m_where) + what);
    }
    Error truncated(const std::string &what) const { return error(ErrorKind::Truncated, what); }
    Error malformed(const std::string &what) const { return error(ErrorKind::Malformed, what); }

    bool number(std::uint64_t &value)
    {
        std::uint8_t first = 0;
        if (!r.u8(first))
            return false;
        std::uint8_t mask = 0x80;
        value = 0;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0) {
                const std::uint64_t high = first & (mask - 1u);
                value |= high << (8 * i);
                return true;
            }
            std::uint8_t b = 0;
            if (!r.u8(b))
                return false;
            value |= static_cast<std::uint64_t>(b) << (8 * i);
            mask = static_cast<std::uint8_t>(mask >> 1);
        }
        return true;
    }

    // A count that must not exceed `limit` (derived from the bytes present).
    Error count(std::uint64_t &value, std::uint64_t limit, const char *what)
    {
        if (!number(value))
            return truncated(what);
        if (value > limit)
            return error(ErrorKind::LimitExceeded, std::string(what) + " too large");
        return {};
    }

    Error bits(std::uint64_t n, std::vector<bool> &out, const char *what)
    {
        if ((n + 7) / 8 > r.remaining())
            return truncated(what);
        out.assign(static_cast<std::size_t>(n), false);
        std::uint8_t b = 0;
        for (std::size_t i = 0; i < n; ++i) {
            if ((i & 7) == 0 && !r.u8(b))
                return truncated(what);
            out[i] = (b & (0x80 >> (i & 7))) != 0;
        }
        return {};
    }

    // Defined bits of `n` items, each defined item followed by `itemSize`
    // bytes somewhere after: refused before allocating when the bytes
    // cannot hold them. `all` tells that every item is defined (`out` empty).
    Error definedBits(std::uint64_t n, std::uint64_t itemSize, bool &all, std::vector<bool> &out,
                      const char *what)
    {
        std::uint8_t allDefined = 0;
        if (!r.u8(allDefined))
            return truncated(what);
        all = allDefined != 0;
        out.clear();
        if (all)
            return n > r.remaining() / itemSize ? truncated(what) : Error();
        Error e = bits(n, out, what);
        if (e.failed())
            return e;
        const auto defined = static_cast<std::uint64_t>(std::count(out.begin(), out.end(), true));
        return defined > r.remaining() / itemSize ? truncated(what) : Error();
    }

    // CRCs of `n` items; `crcs` holds those of the defined items only, in order.
    Error digests(std::uint64_t n, std::vector<bool> &defined, std::vector<std::uint32_t> &crcs)
    {
        bool all = false;
        Error e = definedBits(n, 4, all, defined, "digests");
        if (e.failed())
            return e;
        if (all)
            defined.assign(static_cast<std::size_t>(n), true);
        crcs.clear();
        for (std::size_t i = 0; i < defined.size(); ++i) {
            std::uint32_t crc = 0;
            if (defined[i] && !r.u32le(crc))
                return truncated("digests");
            if (defined[i])
                crcs.push_back(crc);
        }
        return {};
    }

    Error expect(std::uint8_t id, const char *what)
    {
        std::uint64_t v = 0;
        if (!number(v))
            return truncated(what);
        if (v != id)
            return malformed(what);
        return {};
    }

    Error packInfo(StreamsInfo &s)
    {
        std::uint64_t n = 0;
        if (!number(s.packPos))
            return truncated("pack info");
        // A packed size takes a byte at least.
        Error e = count(n, r.remaining(), "number of packed streams");
        if (e.failed())
            return e;
        s.packSizes.clear();
        bool haveSizes = false;
        for (;;) {
            std::uint64_t id = 0;
            if (!number(id))
                return truncated("pack info");
            if (id == kEnd)
                break;
            if (id == kSize && !haveSizes) {
                haveSizes = true;
                for (std::uint64_t i = 0; i < n; ++i) {
                    std::uint64_t size = 0;
                    if (!number(size))
                        return truncated("packed sizes");
                    s.packSizes.push_back(size);
                }
            } else if (id == kCrc) {
                std::vector<bool> defined;
                std::vector<std::uint32_t> crcs;
                if ((e = digests(n, defined, crcs)).failed())
                    return e;
            } else {
                return malformed("pack info property");
            }
        }
        if (!haveSizes && n)
            return malformed("packed sizes missing");
        return {};
    }

    Error folder(Folder &f)
    {
        std::uint64_t numCoders = 0;
        Error e = count(numCoders, kMaxCoders, "number of coders");
        if (e.failed())
            return e;
        if (numCoders == 0)
            return malformed("folder without coders");
        f.coders.resize(static_cast<std::size_t>(numCoders));
        for (auto &c : f.coders) {
            std::uint8_t flags = 0;
            if (!r.u8(flags))
                return truncated("coder");
            const unsigned idSize = flags & 0x0F;
            if ((flags & 0xC0) != 0 || idSize > 8)
                return error(ErrorKind::Unsupported, "coder flags");
            c.method = 0;
            for (unsigned i = 0; i < idSize; ++i) {
                std::uint8_t b = 0;
                if (!r.u8(b))
                    return truncated("coder id");
                c.method = (c.method << 8) | b;
            }
            if (flags & 0x10) {
                std::uint64_t in = 0, out = 0;
                if ((e = count(in, 4, "coder streams")).failed() ||
                    (e = count(out, 4, "coder streams")).failed())
                    return e;
                c.numIn = static_cast<std::uint32_t>(in);
                c.numOut = static_cast<std::uint32_t>(out);
            }
            if (flags & 0x20) {
                std::uint64_t size = 0;
                if ((e = count(size, r.remaining(), "coder properties")).failed())
                    return e;
                c.props.resize(static_cast<std::size_t>(size));
                if (!r.bytes(c.props.data(), size))
                    return truncated("coder properties");
            }
            f.numIn += c.numIn;
            f.numOut += c.numOut;
        }
        if (f.numOut == 0)
            return malformed("coder without output");
        f.binds.resize(f.numOut - 1);
        for (auto &b : f.binds) {
            std::uint64_t in = 0, out = 0;
            if ((e = count(in, f.numIn - 1u, "bind pair")).failed() ||
                (e = count(out, f.numOut - 1u, "bind pair")).failed())
                return e;
            b.in = static_cast<std::uint32_t>(in);
            b.out = static_cast<std::uint32_t>(out);
        }
        if (f.numIn < f.binds.size())
            return malformed("bind pairs");
        const std::size_t numPacked = f.numIn - f.binds.size();
        if (numPacked == 1) {
            for (std::uint32_t i = 0; i < f.numIn; ++i)
                if (std::none_of(f.binds.begin(), f.binds.end(),
                                 [i](const BindPair &b) { return b.in == i; })) {
                    f.packed.push_back(i);
                    break;
                }
            if (f.packed.empty())
                return malformed("packed streams");
        } else {
            for (std::size_t i = 0; i < numPacked; ++i) {
                std::uint64_t index = 0;
                if ((e = count(index, f.numIn - 1u, "packed stream index")).failed())
                    return e;
                f.packed.push_back(static_cast<std::uint32_t>(index));
            }
        }
        for (std::uint32_t i = 0; i < f.numOut; ++i)
            if (std::none_of(f.binds.begin(), f.binds.end(),
                             [i](const BindPair &b) { return b.out == i; }))
                f.mainOut = i;
        return {};
    }

    Error unpackInfo(StreamsInfo &s)
    {
        Error e = expect(kFolder, "unpack info");
        if (e.failed())
            return e;
        // A folder takes three bytes at least: the coder count, the coder's
        // flags and its unpack size.
        std::uint64_t n = 0;
        if ((e = count(n, r.remaining() / 3, "number of folders")).failed())
            return e;
        std::uint8_t external = 0;
        if (!r.u8(external))
            return truncated("unpack info");
        if (external)
            return error(ErrorKind::Unsupported, "external folders");
        // Every folder reads one packed stream at least.
        if (n > s.packSizes.size())
            return malformed("more folders than packed streams");
        s.folders.clear();
        for (std::uint64_t i = 0; i < n; ++i) {
            s.folders.emplace_back();
            if ((e = folder(s.folders.back())).failed())
                return e;
        }
        if ((e = expect(kCodersUnpackSize, "unpack sizes")).failed())
            return e;
        for (auto &f : s.folders) {
            f.unpackSizes.resize(f.numOut);
            for (auto &size : f.unpackSizes)
                if (!number(size))
                    return truncated("unpack sizes");
        }
        bool haveCrc = false;
        for (;;) {
            std::uint64_t id = 0;
            if (!number(id))
                return truncated("unpack info");
            if (id == kEnd)
                break;
            if (id != kCrc || haveCrc)
                return malformed("unpack info property");
            haveCrc = true;
            std::vector<bool> defined;
            std::vector<std::uint32_t> crcs;
            if ((e = digests(s.folders.size(), defined, crcs)).failed())
                return e;
            std::size_t m = 0;
            for (std::size_t i = 0; i < s.folders.size(); ++i) {
                s.folders[i].hasCrc = defined[i];
                if (defined[i])
                    s.folders[i].crc = crcs[m++];
            }
        }
        return {};
    }

    Error subStreamsInfo(StreamsInfo &s)
    {
        std::uint64_t id = 0;
        if (!number(id))
            return truncated("substreams");
        Error e;
        std::uint64_t total = 0;
        if (id == kNumUnpackStream) {
            // Each substream takes a byte for its size (but the first of its
            // folder) and, later, four bytes at least for its file's name.
            for (auto &f : s.folders) {
                if ((e = count(f.numSubstreams, r.remaining() + 1, "number of substreams"))
                        .failed())
                    return e;
                total += f.numSubstreams;
                if (total > (r.remaining() + s.folders.size()) / 5)
                    return error(ErrorKind::LimitExceeded, "number of substreams too large");
            }
            if (!number(id))
                return truncated("substreams");
        } else {
            total = s.folders.size();
        }
        s.subSizes.clear();
        s.subSizes.reserve(static_cast<std::size_t>(total));
        const bool haveSizes = id == kSize;
        for (const auto &f : s.folders) {
            if (f.numSubstreams == 0)
                continue;
            if (f.numSubstreams > 1 && !haveSizes)
                return malformed("substream sizes missing");
            std::uint64_t sum = 0;
            for (std::uint64_t j = 1; j < f.numSubstreams; ++j) {
                std::uint64_t size = 0;
                if (!number(size))
                    return truncated("substream sizes");
                if (size > f.unpackSize() - sum)
                    return malformed("substream sizes exceed the folder");
                sum += size;
                s.subSizes.push_back(size);
            }
            s.subSizes.push_back(f.unpackSize() - sum);
        }
        if (haveSizes && !number(id))
            return truncated("substreams");
        // Digests for the streams whose CRC the folder does not give.
        s.subHasCrc.clear();
        s.subCrcs.clear();
        std::uint64_t missing = 0;
        {
            std::size_t k = 0;
            for (const auto &f : s.folders) {
                if (f.numSubstreams == 1 && f.hasCrc) {
                    s.setSubCrc(k, f.crc);
                } else {
                    missing += f.numSubstreams;
                }
                k += static_cast<std::size_t>(f.numSubstreams);
            }
        }
        bool haveCrc = false;
        for (;;) {
            if (id == kEnd)
                break;
            if (id != kCrc || haveCrc)
                return malformed("substreams property");
            haveCrc = true;
            std::vector<bool> defined;
            std::vector<std::uint32_t> crcs;
            if ((e = digests(missing, defined, crcs)).failed())
                return e;
            std::size_t k = 0, m = 0, c = 0;
            for (const auto &f : s.folders) {
                if (f.numSubstreams == 1 && f.hasCrc) {
                    ++k;
                    continue;
                }
                for (std::uint64_t j = 0; j < f.numSubstreams; ++j, ++k, ++m)
                    if (defined[m])
                        s.setSubCrc(k, crcs[c++]);
            }
            if (!number(id))
                return truncated("substreams");
        }
        return {};
    }

    Error streamsInfo(StreamsInfo &s)
    {
        std::uint64_t id = 0;
        if (!number(id))
            return truncated("streams info");
        Error e;
        bool subDone = false;
        if (id == kPackInfo) {
            if ((e = packInfo(s)).failed())
                return e;
            if (!number(id))
                return truncated("streams info");
        }
        if (id == kUnpackInfo) {
            if ((e = unpackInfo(s)).failed())
                return e;
            if (!number(id))
                return truncated("streams info");
        }
        if (id == kSubStreamsInfo) {
            if ((e = subStreamsInfo(s)).failed())
                return e;
            subDone = true;
            if (!number(id))
                return truncated("streams info");
        }
        if (id != kEnd)
            return malformed("streams info property");
        if (!subDone) {
            for (const auto &f : s.folders)
                s.subSizes.push_back(f.unpackSize());
            for (std::size_t k = 0; k < s.folders.size(); ++k)
                if (s.folders[k].hasCrc)
                    s.setSubCrc(k, s.folders[k].crc);
        }
        return {};
    }

    ByteReader &r;

private:
    const char *m_where;
};

struct InputReader
{
    Input &input;
    Error read(std::uint64_t offset, void *buffer, std::size_t count)
    {
        if (!rangeInside(offset, count, input.size()))
            return Error(ErrorKind::Truncated, offset, "archive ends early");
        if (!input.readAt(offset, buffer, count))
            return Error(ErrorKind::Io, offset, "cannot read the archive");
        return {};
    }
};

} // namespace

struct Archive::State
{
    Input *input = nullptr;
    Options options;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t totalSize = 0;
    StreamsInfo streams;
    std::vector<Entry> entries;
    std::vector<FileRecord> records;
    bool opened = false;

    Error checkFolder(const Folder &f, const std::vector<std::uint64_t> &packSizes,
                      std::uint64_t where);
    // `packs` holds the packed streams `f` reads: the archive's own, or an
    // encoded header's.
    Error buildStream(const StreamsInfo &packs, const Folder &f, std::uint32_t out,
                      std::unique_ptr<Stream> &stream, int depth);
    Error folderStream(const StreamsInfo &packs, const Folder &f, std::unique_ptr<Stream> &stream);
    unsigned decoderThreads(const std::vector<std::uint8_t> &props, std::uint64_t size) const;
    Error placePacks(StreamsInfo &s, std::uint64_t packLimit, std::uint64_t where);
    Error decodeHeader(ByteReader &r, std::vector<std::uint8_t> &out);
    Error parseHeader(ByteReader &r);
    Error parseFiles(HeaderParser &p);
    Error open(Input &in, std::uint64_t offset, const Options &opts);
    Error extract(Sink &sink);
    Error decodeInto(detail::Delivery &out);
};

// The layouts we decode: one main coder (Copy, LZMA, LZMA2); a filter over a
// main coder; BCJ2 on top, each of its four inputs packed as it is or read
// through a main coder, or a filter over one; Copy coders between them.
// Checked before anything is decoded: every stream bound or packed once,
// every coder reached once from the top (no cycles), five coders deep at most.
Error Archive::State::checkFolder(const Folder &f, const std::vector<std::uint64_t> &packSizes,
                                  std::uint64_t where)
{
    bool hasBcj2 = false;
    for (const auto &c : f.coders) {
        FilterKind kind;
        if (!isMainMethod(c.method) && !filterKindOf(c.method, kind) && c.method != kBcj2)
            return Error(ErrorKind::Unsupported, where,
                         "compression method " + methodName(c.method));
        hasBcj2 = hasBcj2 || c.method == kBcj2;
    }
    const char *layout = hasBcj2 ? "BCJ2 folder layout" : "folder layout";
    auto bad = [where, layout] { return Error(ErrorKind::Unsupported, where, layout); };
    for (const auto &c : f.coders)
        if (c.numOut != 1 || c.numIn != (c.method == kBcj2 ? 4u : 1u))
            return bad();
    if (f.packed.size() + f.binds.size() != f.numIn)
        return bad();
    // Every out stream but one bound once, every in stream bound or packed once.
    std::vector<int> outUse(f.numOut, 0), inUse(f.numIn, 0);
    for (const auto &b : f.binds) {
        ++outUse[b.out];
        ++inUse[b.in];
    }
    for (auto p : f.packed)
        ++inUse[p];
    int unbound = 0;
    for (std::uint32_t i = 0; i < f.numOut; ++i) {
        if (outUse[i] > 1)
            return bad();
        if (outUse[i] == 0)
            ++unbound;
    }
    if (unbound != 1 || std::any_of(inUse.begin(), inUse.end(), [](int n) { return n != 1; }))
        return bad();
    // Where each coder's streams start; every coder has one out stream.
    std::vector<std::uint32_t> inStart;
    std::uint32_t ins = 0;
    for (const auto &c : f.coders) {
        inStart.push_back(ins);
        ins += c.numIn;
    }
    const std::size_t mainCoder = f.mainOut;
    // The coder whose output feeds in stream `in`, or npos when it is packed.
    auto feeder = [&](std::uint32_t in) -> std::size_t {
        for (const auto &b : f.binds)
            if (b.in == in)
                return b.out;
        return SIZE_MAX;
    };
    std::vector<bool> reached(f.coders.size(), false);
    auto reach = [&](std::size_t c) {
        const bool first = !reached[c];
        reached[c] = true;
        return first;
    };
    // Copy coders hand their input on unchanged: a chain of them over a
    // coder reads as that coder, as long as the decoder goes that deep (four
    // coders below the top one). `depth` is that of coder `c`.
    auto skipCopies = [&](std::size_t c, int &depth) {
        while (c != SIZE_MAX && f.coders[c].method == kCopy && feeder(inStart[c]) != SIZE_MAX &&
               depth < 4) {
            if (!reach(c))
                return SIZE_MAX;
            c = feeder(inStart[c]);
            ++depth;
        }
        return c;
    };
    // True when in stream `in` is read through a main coder over a packed
    // stream, or (with `filterOk`) through a filter over such a coder, each
    // perhaps through Copy coders.
    auto fedByMain = [&](std::uint32_t in, bool filterOk) {
        int depth = 1;
        std::size_t c = skipCopies(feeder(in), depth);
        FilterKind kind;
        if (c != SIZE_MAX && filterOk && filterKindOf(f.coders[c].method, kind)) {
            if (!reach(c) || depth == 4)
                return false;
            ++depth;
            c = skipCopies(feeder(inStart[c]), depth);
        }
        return c != SIZE_MAX && reach(c) && isMainMethod(f.coders[c].method) &&
               feeder(inStart[c]) == SIZE_MAX;
    };
    const Coder &top = f.coders[mainCoder];
    reach(mainCoder);
    FilterKind kind;
    if (isMainMethod(top.method)) {
        if (f.coders.size() != 1)
            return bad();
    } else if (filterKindOf(top.method, kind)) {
        if (!fedByMain(inStart[mainCoder], false))
            return bad();
    } else {
        // BCJ2: main, call, jump and range coder streams.
        for (std::uint32_t j = 0; j < 4; ++j) {
            const std::uint32_t in = inStart[mainCoder] + j;
            if (feeder(in) != SIZE_MAX && !fedByMain(in, true))
                return bad();
        }
    }
    if (std::find(reached.begin(), reached.end(), false) != reached.end())
        return bad();
    // Properties and sizes of each coder.
    std::uint32_t outIndex = 0;
    for (const auto &c : f.coders) {
        const std::uint64_t size = f.unpackSizes[outIndex];
        outIndex += c.numOut;
        if (c.method == kLzma) {
            if (c.props.size() != 5 || c.props[0] >= 9 * 5 * 5)
                return Error(ErrorKind::Malformed, where, "LZMA properties");
            if (std::min(detail::lzmaDictionarySize(c.props), size) > options.maxDictionarySize)
                return Error(ErrorKind::LimitExceeded, where, "LZMA dictionary too large");
        } else if (c.method == kLzma2) {
            if (c.props.size() != 1 || c.props[0] > 40)
                return Error(ErrorKind::Malformed, where, "LZMA2 properties");
            if (std::min(detail::lzma2DictionarySize(c.props), size) > options.maxDictionarySize)
                return Error(ErrorKind::LimitExceeded, where, "LZMA2 dictionary too large");
        } else if (c.method == kDelta) {
            if (c.props.size() != 1)
                return Error(ErrorKind::Malformed, where, "Delta properties");
        } else if (filterKindOf(c.method, kind)) {
            const bool zeroStart = c.props.size() == 4 && c.props[0] == 0 && c.props[1] == 0 &&
                                   c.props[2] == 0 && c.props[3] == 0;
            if (!c.props.empty() && !zeroStart)
                return Error(ErrorKind::Unsupported, where, "filter start offset");
        } else if (!c.props.empty()) {
            return Error(ErrorKind::Malformed, where, "coder properties");
        }
    }
    if (top.method == kBcj2) {
        // Every byte of main, call and jump ends up in the BCJ2 output.
        std::uint64_t inputs = 0;
        for (std::uint32_t j = 0; j < 3; ++j) {
            const std::uint32_t in = inStart[mainCoder] + j;
            const std::size_t c = feeder(in);
            std::uint64_t size = 0;
            if (c != SIZE_MAX) {
                size = f.unpackSizes[c];
            } else {
                const auto pos = static_cast<std::size_t>(
                    std::find(f.packed.begin(), f.packed.end(), in) - f.packed.begin());
                size = packSizes[f.firstPack + pos];
            }
            if (size > f.unpackSize() - inputs)
                return Error(ErrorKind::Malformed, where, "BCJ2 stream sizes");
            inputs += size;
        }
    }
    return {};
}

Error Archive::State::buildStream(const StreamsInfo &packs, const Folder &f, std::uint32_t out,
                                  std::unique_ptr<Stream> &stream, int depth)
{
    if (depth > 4)
        return Error(ErrorKind::Malformed, 0, "folder layout");
    // Find the coder owning `out`, and its first in stream.
    std::uint32_t inStart = 0, outStart = 0;
    std::size_t ci = 0;
    for (; ci < f.coders.size(); ++ci) {
        if (out < outStart + f.coders[ci].numOut)
            break;
        inStart += f.coders[ci].numIn;
        outStart += f.coders[ci].numOut;
    }
    const Coder &c = f.coders[ci];
    std::vector<std::unique_ptr<Stream>> inputs;
    std::uint64_t firstPackOffset = 0;
    std::size_t firstPack = SIZE_MAX; // the first in stream's packed stream, when it is one
    for (std::uint32_t j = inStart; j < inStart + c.numIn; ++j) {
        auto bind = std::find_if(f.binds.begin(), f.binds.end(),
                                 [j](const BindPair &b) { return b.in == j; });
        std::unique_ptr<Stream> in;
        if (bind != f.binds.end()) {
            Error e = buildStream(packs, f, bind->out, in, depth + 1);
            if (e.failed())
                return e;
            // A filter's input decoded on a thread of its own, beside the filter.
            if (j == inStart && c.method != kCopy && c.method != kLzma && c.method != kLzma2 &&
                (options.decoderThreads ? options.decoderThreads : processorCount()) > 1)
                in = detail::makeReadAheadStream(std::move(in));
        } else {
            const auto pos = static_cast<std::size_t>(
                std::find(f.packed.begin(), f.packed.end(), j) - f.packed.begin());
            const std::size_t pack = f.firstPack + pos;
            if (j == inStart) {
                firstPackOffset = packs.packOffsets[pack];
                firstPack = pack;
            }
            in = detail::makePackStream(*input, packs.packOffsets[pack], packs.packSizes[pack]);
        }
        inputs.push_back(std::move(in));
    }
    const std::uint64_t size = f.unpackSizes[out];
    Error e;
    FilterKind kind;
    switch (c.method) {
    case kCopy:
        stream = detail::makeCopyStream(std::move(inputs[0]), size);
        break;
    case kLzma:
        stream = detail::makeLzmaStream(std::move(inputs[0]), c.props, size, firstPackOffset, e);
        break;
    case kLzma2:
        if (firstPack != SIZE_MAX)
            stream =
                detail::makePackedLzma2Stream(*input, firstPackOffset, packs.packSizes[firstPack],
                                              c.props, size, decoderThreads(c.props, size), e);
        else
            stream =
                detail::makeLzma2Stream(std::move(inputs[0]), c.props, size, firstPackOffset, e);
        break;
    case kBcj2:
        stream = detail::makeBcj2Stream(std::move(inputs[0]), std::move(inputs[1]),
                                        std::move(inputs[2]), std::move(inputs[3]), size,
                                        packs.packOffsets.empty() ? 0 : firstPackOffset);
        break;
    default:
        if (!filterKindOf(c.method, kind))
            return Error(ErrorKind::Unsupported, 0, "compression method " + methodName(c.method));
        stream = detail::makeFilterStream(
            std::move(inputs[0]),
            makeFilter(kind, kind == FilterKind::Delta ? c.props[0] + 1u : 1u), size);
        break;
    }
    if (e.failed())
        return e;
    if (!stream)
        return Error(ErrorKind::OutOfMemory, 0, "out of memory");
    return {};
}

// Threads for an LZMA2 stream: one per processor unless set, and no more
// than maxDictionarySize holds dictionaries for.
unsigned Archive::State::decoderThreads(const std::vector<std::uint8_t> &props,
                                        std::uint64_t size) const
{
    std::uint64_t threads = options.decoderThreads ? options.decoderThreads : processorCount();
    const std::uint64_t dictionary =
        std::max<std::uint64_t>(1, std::min(detail::lzma2DictionarySize(props), size));
    threads = std::min<std::uint64_t>({threads, options.maxDictionarySize / dictionary, 64});
    return static_cast<unsigned>(std::max<std::uint64_t>(threads, 1));
}

Error Archive::State::folderStream(const StreamsInfo &packs, const Folder &f,
                                   std::unique_ptr<Stream> &stream)
{
    return buildStream(packs, f, f.mainOut, stream, 0);
}

Error Archive::State::placePacks(StreamsInfo &s, std::uint64_t packLimit, std::uint64_t where)
{
    // Packed streams lie between the start header and the next header.
    std::uint64_t pos = s.packPos;
    if (pos > packLimit)
        return Error(ErrorKind::Malformed, where, "packed streams outside the archive");
    s.packOffsets.clear();
    for (auto size : s.packSizes) {
        if (size > packLimit - pos)
            return Error(ErrorKind::Malformed, where, "packed streams outside the archive");
        s.packOffsets.push_back(start + kStartHeaderSize + pos);
        pos += size;
    }
    std::size_t next = 0;
    for (auto &f : s.folders) {
        f.firstPack = next;
        if (f.packed.size() > s.packSizes.size() - next)
            return Error(ErrorKind::Malformed, where, "more folders than packed streams");
        next += f.packed.size();
        Error e = checkFolder(f, s.packSizes, where);
        if (e.failed())
            return e;
        if (f.coders.size() == 1 && f.coders[0].method == kCopy &&
            f.unpackSize() != s.packSizes[f.firstPack])
            return Error(ErrorKind::Malformed, where, "stored stream size");
    }
    return {};
}

Error Archive::State::decodeHeader(ByteReader &r, std::vector<std::uint8_t> &out)
{
    HeaderParser p(r, "encoded header: ");
    StreamsInfo s;
    Error e = p.streamsInfo(s);
    if (e.failed())
        return e;
    const std::uint64_t packLimit = end - kStartHeaderSize - start;
    if ((e = placePacks(s, packLimit, r.absolutePos())).failed())
        return e;
    if (s.folders.size() != 1)
        return Error(ErrorKind::Unsupported, r.absolutePos(), "encoded header folders");
    const Folder &f = s.folders[0];
    if (f.unpackSize() > options.maxHeaderSize)
        return Error(ErrorKind::LimitExceeded, r.absolutePos(), "header too large");
    std::unique_ptr<Stream> stream;
    e = folderStream(s, f, stream);
    out.clear();
    const std::uint64_t size = f.unpackSize();
    std::uint32_t crc = 0;
    while (e.ok() && out.size() < size) {
        // Grows with the data actually decoded, never by the declared size alone.
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - out.size(), kChunk));
        const std::size_t old = out.size();
        out.resize(old + want);
        std::size_t got = 0;
        e = stream->read(out.data() + old, want, got);
        out.resize(old + got);
        if (e.ok() && got == 0)
            e = Error(ErrorKind::Truncated, r.absolutePos(), "encoded header ends early");
    }
    if (e.ok()) {
        crc = crc32(out.data(), out.size());
        if (f.hasCrc && crc != f.crc)
            e = Error(ErrorKind::CrcMismatch, r.absolutePos(), "encoded header CRC");
    }
    return e;
}

namespace {

// Times or attributes of the files that have them, in file order, with the
// bits telling which files those are.
struct FileValues
{
    bool present = false;
    bool all = false;
    std::vector<bool> defined;
    std::vector<std::uint64_t> values;
    bool has(std::size_t i) const { return present && (all || (i < defined.size() && defined[i])); }
};

} // namespace

Error Archive::State::parseFiles(HeaderParser &p)
{
    ByteReader &r = p.r;
    // A file takes four bytes at least: a name of one character and its
    // terminator.
    std::uint64_t numFiles = 0;
    Error e = p.count(numFiles, r.remaining() / 4, "number of files");
    if (e.failed())
        return e;
    // Listed, a file costs an entry and a record however few header bytes
    // declare it: they stay within 32 MiB plus three times the header, so a
    // small archive cannot ask for gigabytes.
    constexpr std::uint64_t kEntryBudget = std::uint64_t(32) << 20;
    if (numFiles > (kEntryBudget + 3 * r.size()) / (sizeof(Entry) + sizeof(FileRecord)))
        return p.error(ErrorKind::LimitExceeded, "number of files too large for the header");
    const auto n = static_cast<std::size_t>(numFiles);
    // Every container below grows with the bytes read, not with n.
    std::vector<bool> emptyStream, emptyFile, anti;
    FileValues mtimes, attrs;
    std::size_t numEmpty = 0;
    std::set<std::uint64_t> seen;
    entries.clear();
    for (;;) {
        std::uint64_t type = 0, size = 0;
        if (!p.number(type))
            return p.truncated("file property");
        if (type == kEnd)
            break;
        if (!p.number(size))
            return p.truncated("file property");
        if (size > r.remaining())
            return p.truncated("file property");
        if (type != kDummy && !seen.insert(type).second)
            return p.malformed("duplicate file property");
        ByteReader sub = r.sub(r.pos(), size);
        r.skip(size);
        HeaderParser q(sub, "files: ");
        switch (type) {
        case kEmptyStream:
            if ((e = q.bits(n, emptyStream, "empty streams")).failed())
                return e;
            numEmpty =
                static_cast<std::size_t>(std::count(emptyStream.begin(), emptyStream.end(), true));
            break;
        case kEmptyFile:
            if (!seen.count(kEmptyStream))
                return p.malformed("empty files before empty streams");
            if ((e = q.bits(numEmpty, emptyFile, "empty files")).failed())
                return e;
            break;
        case kAnti:
            if (!seen.count(kEmptyStream))
                return p.malformed("anti items before empty streams");
            if ((e = q.bits(numEmpty, anti, "anti items")).failed())
                return e;
            if (std::find(anti.begin(), anti.end(), true) != anti.end())
                return Error(ErrorKind::Unsupported, sub.absolutePos(), "anti items (deletions)");
            break;
        case kName: {
            std::uint8_t external = 0;
            if (!sub.u8(external))
                return q.truncated("names");
            if (external)
                return q.error(ErrorKind::Unsupported, "external names");
            // Each name becomes an entry as soon as it is read.
            std::u16string name;
            while (entries.size() < n) {
                std::uint16_t c = 0;
                if (!sub.u16le(c))
                    return q.truncated("names");
                if (c != 0) {
                    name.push_back(static_cast<char16_t>(c));
                    continue;
                }
                const std::string stored = utf16ToUtf8(name);
                name.clear();
                entries.emplace_back();
                if (!mapEntryName(stored, options.mapping, entries.back().path))
                    return Error(ErrorKind::Malformed, sub.absolutePos(),
                                 "unsafe file name \"" + stored + "\"");
            }
            break;
        }
        case kMTime:
        case kWinAttributes: {
            FileValues &v = type == kMTime ? mtimes : attrs;
            const std::uint64_t itemSize = type == kMTime ? 8 : 4;
            // Bits, the external byte, values: without the last byte, what
            // follows the bits is as long as the values.
            if (sub.remaining() == 0)
                return q.truncated("file times or attributes");
            ByteReader body = sub.sub(0, sub.size() - 1);
            HeaderParser b(body, "files: ");
            if ((e = b.definedBits(n, itemSize, v.all, v.defined, "file times or attributes"))
                    .failed())
                return e;
            sub.skip(body.pos());
            std::uint8_t external = 0;
            if (!sub.u8(external))
                return q.truncated("file times or attributes");
            if (external)
                return q.error(ErrorKind::Unsupported, "external file data");
            v.present = true;
            for (std::size_t i = 0; i < n; ++i) {
                if (!v.has(i))
                    continue;
                std::uint64_t value = 0;
                std::uint32_t value32 = 0;
                const bool ok = type == kMTime ? sub.u64le(value) : sub.u32le(value32);
                if (!ok)
                    return q.truncated("file times or attributes");
                v.values.push_back(type == kMTime ? value : value32);
            }
            break;
        }
        default:
            break; // other times, start positions, padding
        }
    }
    if (entries.size() != n)
        return p.malformed("file names missing");
    if (emptyStream.empty())
        emptyStream.assign(n, false);
    if (emptyFile.empty())
        emptyFile.assign(numEmpty, false);
    if (emptyFile.size() != numEmpty || (!anti.empty() && anti.size() != numEmpty))
        return p.malformed("empty file records");

    // Match files with streams to the substreams, in order.
    std::size_t folder = 0;
    std::uint64_t inFolder = 0;
    std::uint64_t substream = 0;
    records.clear();
    records.reserve(n);
    std::size_t emptyIndex = 0, mtimeIndex = 0, attrIndex = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Entry &entry = entries[i];
        records.emplace_back();
        FileRecord &record = records.back();
        if (attrs.has(i)) {
            entry.hasAttributes = true;
            entry.attributes = static_cast<std::uint32_t>(attrs.values[attrIndex++]);
        }
        if (mtimes.has(i)) {
            entry.hasModificationTime = true;
            entry.modificationTime = mtimes.values[mtimeIndex++];
        }
        if (emptyStream[i]) {
            const bool isFile = emptyFile[emptyIndex++];
            entry.isDirectory = !isFile;
            continue;
        }
        while (folder < streams.folders.size() &&
               inFolder == streams.folders[folder].numSubstreams) {
            ++folder;
            inFolder = 0;
        }
        if (folder == streams.folders.size())
            return p.malformed("more files than streams");
        record.hasStream = true;
        record.folder = folder;
        record.substream = substream;
        const auto k = static_cast<std::size_t>(substream);
        entry.size = streams.subSizes[k];
        entry.hasCrc = streams.subCrc(k, entry.crc);
        if (totalSize > UINT64_MAX - entry.size)
            return p.malformed("total size");
        totalSize += entry.size;
        ++inFolder;
        ++substream;
    }
    if (substream != streams.subSizes.size())
        return p.malformed("fewer files than streams");
    return {};
}

Error Archive::State::parseHeader(ByteReader &r)
{
    HeaderParser p(r, "header: ");
    std::uint64_t id = 0;
    if (!p.number(id))
        return p.truncated("header");
    Error e;
    if (id == kArchiveProperties) {
        for (;;) {
            std::uint64_t type = 0, size = 0;
            if (!p.number(type))
                return p.truncated("archive properties");
            if (type == kEnd)
                break;
            if (!p.number(size) || !r.skip(size))
                return p.truncated("archive properties");
        }
        if (!p.number(id))
            return p.truncated("header");
    }
    if (id == kAdditionalStreamsInfo)
        return p.error(ErrorKind::Unsupported, "additional streams");
    if (id == kMainStreamsInfo) {
        if ((e = p.streamsInfo(streams)).failed())
            return e;
        if ((e = placePacks(streams, end - kStartHeaderSize - start, r.absolutePos())).failed())
            return e;
        if (!p.number(id))
            return p.truncated("header");
    }
    if (id == kFilesInfo) {
        if ((e = parseFiles(p)).failed())
            return e;
        if (!p.number(id))
            return p.truncated("header");
    } else if (!streams.subSizes.empty()) {
        return p.malformed("streams without files");
    }
    if (id != kEnd)
        return p.malformed("header property");
    return {};
}

Archive::Archive() : m_state(std::make_unique<State>()) {}
Archive::~Archive() = default;

const std::vector<Entry> &Archive::entries() const
{
    return m_state->entries;
}
std::uint64_t Archive::totalUnpackSize() const
{
    return m_state->totalSize;
}
std::uint64_t Archive::archiveEnd() const
{
    return m_state->end;
}

// No exception leaves the reader: running out of memory is an error value.
Error Archive::open(Input &input, std::uint64_t offset, const Options &options)
{
    try {
        *m_state = State();
        return m_state->open(input, offset, options);
    } catch (const std::bad_alloc &) {
        *m_state = State();
        return Error(ErrorKind::OutOfMemory, offset, "out of memory");
    }
}

Error Archive::extract(Sink &sink)
{
    try {
        return m_state->extract(sink);
    } catch (const std::bad_alloc &) {
        return Error(ErrorKind::OutOfMemory, 0, "out of memory");
    }
}

Error Archive::State::open(Input &source, std::uint64_t offset, const Options &opts)
{
    State &s = *this;
    s.input = &source;
    s.options = opts;
    s.start = offset;
    InputReader in{source};
    std::uint8_t startHeader[kStartHeaderSize];
    Error e = in.read(offset, startHeader, sizeof startHeader);
    if (e.failed())
        return e;
    if (std::memcmp(startHeader, kSignature, sizeof kSignature) != 0)
        return Error(ErrorKind::Malformed, offset, "not a 7z archive");
    if (startHeader[6] != 0)
        return Error(ErrorKind::Unsupported, offset + 6, "7z format version");
    ByteReader sr(startHeader, sizeof startHeader, offset);
    std::uint32_t startCrc = 0, nextCrc = 0;
    std::uint64_t nextOffset = 0, nextSize = 0;
    sr.skip(8);
    sr.u32le(startCrc);
    sr.u64le(nextOffset);
    sr.u64le(nextSize);
    sr.u32le(nextCrc);
    if (crc32(startHeader + 12, 20) != startCrc)
        return Error(ErrorKind::CrcMismatch, offset + 8, "start header CRC");
    const std::uint64_t available =
        source.size() - std::min(source.size(), offset + kStartHeaderSize);
    if (nextOffset > available || nextSize > available - nextOffset)
        return Error(ErrorKind::Truncated, offset + 12,
                     "archive shorter than its start header says");
    if (nextSize > options.maxHeaderSize)
        return Error(ErrorKind::LimitExceeded, offset + 20, "header too large");
    const std::uint64_t headerPos = offset + kStartHeaderSize + nextOffset;
    s.end = headerPos + nextSize;
    if (nextSize == 0) {
        s.opened = true;
        return {};
    }
    std::vector<std::uint8_t> header(static_cast<std::size_t>(nextSize));
    if ((e = in.read(headerPos, header.data(), header.size())).failed())
        return e;
    if (crc32(header.data(), header.size()) != nextCrc)
        return Error(ErrorKind::CrcMismatch, headerPos, "header CRC");
    std::uint64_t base = headerPos;
    for (int nesting = 0;; ++nesting) {
        ByteReader r(header.data(), header.size(), base);
        std::uint8_t id = 0;
        if (!r.u8(id))
            return Error(ErrorKind::Truncated, base, "header");
        if (id == kHeader) {
            if ((e = s.parseHeader(r)).failed())
                return e;
            break;
        }
        if (id != kEncodedHeader || nesting == kMaxHeaderNesting)
            return Error(ErrorKind::Malformed, base, "header type");
        std::vector<std::uint8_t> decoded;
        if ((e = s.decodeHeader(r, decoded)).failed())
            return e;
        header.swap(decoded);
        base = 0;
    }
    s.opened = true;
    return {};
}

Error Archive::State::extract(Sink &sink)
{
    State &s = *this;
    if (!s.opened)
        return Error(ErrorKind::Malformed, 0, "no archive open");
    std::unique_ptr<detail::Delivery> out = detail::makeDelivery(sink, s.options.writerThread);
    if (!out)
        return Error(ErrorKind::OutOfMemory, 0, "out of memory");
    Error e = decodeInto(*out);
    // An error on the writer's side came first: report it.
    const Error written = out->finish();
    return written.failed() ? written : e;
}

Error Archive::State::decodeInto(detail::Delivery &out)
{
    State &s = *this;
    std::unique_ptr<Stream> stream;
    std::size_t streamFolder = SIZE_MAX;
    std::uint64_t folderFilesLeft = 0; // substreams of streamFolder not read yet
    Error e;
    for (std::size_t i = 0; i < s.entries.size(); ++i) {
        const Entry &entry = s.entries[i];
        const FileRecord &record = s.records[i];
        if (entry.isDirectory) {
            if ((e = out.directory(entry)).failed())
                return e;
            continue;
        }
        detail::FolderCheck check;
        if (record.hasStream) {
            if (streamFolder != record.folder) {
                stream.reset();
                if ((e = s.folderStream(s.streams, s.streams.folders[record.folder], stream))
                        .failed())
                    return e;
                streamFolder = record.folder;
                folderFilesLeft = s.streams.folders[record.folder].numSubstreams;
                check.first = true;
            }
            const Folder &folder = s.streams.folders[record.folder];
            check.check = folder.hasCrc && folder.numSubstreams > 1;
            check.last = --folderFilesLeft == 0;
            check.crc = folder.crc;
        }
        if ((e = out.beginFile(entry, check)).failed())
            return e;
        std::uint64_t left = record.hasStream ? entry.size : 0;
        while (left) {
            std::size_t room = 0;
            std::uint8_t *buffer = out.buffer(room);
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, room));
            // Fill the room, so each write hands on as much as it can.
            std::size_t got = 0;
            while (got < want) {
                std::size_t count = 0;
                e = stream->read(buffer + got, want - got, count);
                if (e.failed())
                    return Error(e.kind, e.offset, e.context + " (in " + entry.path + ")");
                if (count == 0)
                    return Error(ErrorKind::Truncated, 0, "data ends early in " + entry.path);
                got += count;
            }
            if ((e = out.write(got)).failed())
                return e;
            left -= got;
        }
        if ((e = out.endFile(entry)).failed())
            return e;
    }
    return {};
}

} // namespace quillon::sevenzip
