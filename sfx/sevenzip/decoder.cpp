#include "decoder.h"

#include "threads.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wpedantic"
extern "C" {
#include <LzmaDec.h>
// Defined in LzmaDec.c without a declaration in its header.
void LzmaDec_InitDicAndState(CLzmaDec *p, BoolInt initDic, BoolInt initState);
}
#pragma GCC diagnostic pop

namespace quillon::sevenzip::detail {
namespace {

constexpr std::size_t kInputBufferSize = 1 << 16;

void *lzmaAlloc(ISzAllocPtr, size_t size)
{
    return size ? std::malloc(size) : nullptr;
}
void lzmaFree(ISzAllocPtr, void *address)
{
    std::free(address);
}
const ISzAlloc g_alloc = {lzmaAlloc, lzmaFree};

class PackStream : public Stream
{
public:
    PackStream(Input &input, std::uint64_t offset, std::uint64_t size)
        : m_input(input), m_offset(offset), m_left(size)
    {
    }
    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = static_cast<std::size_t>(std::min<std::uint64_t>(want, m_left));
        if (got == 0)
            return {};
        if (!m_input.readAt(m_offset, buffer, got)) {
            got = 0;
            return Error(ErrorKind::Io, m_offset, "cannot read packed data");
        }
        m_offset += got;
        m_left -= got;
        return {};
    }

private:
    Input &m_input;
    std::uint64_t m_offset;
    std::uint64_t m_left;
};

// Checks that a source yields exactly `size` bytes.
class SizedStream : public Stream
{
public:
    SizedStream(std::unique_ptr<Stream> source, std::uint64_t size)
        : m_source(std::move(source)), m_left(size)
    {
    }
    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        want = static_cast<std::size_t>(std::min<std::uint64_t>(want, m_left));
        if (want == 0)
            return {};
        Error error = m_source->read(buffer, want, got);
        if (error.failed())
            return error;
        if (got == 0)
            return Error(ErrorKind::Truncated, 0, "stream ends early");
        m_left -= got;
        return {};
    }

private:
    std::unique_ptr<Stream> m_source;
    std::uint64_t m_left;
};

// Input side shared by the LZMA and LZMA2 decoders.
class BufferedSource
{
public:
    explicit BufferedSource(std::unique_ptr<Stream> source)
        : m_source(std::move(source)), m_buffer(new (std::nothrow) std::uint8_t[kInputBufferSize])
    {
    }
    bool valid() const { return m_buffer != nullptr; }
    const std::uint8_t *data() const { return m_buffer.get() + m_pos; }
    std::size_t available() const { return m_size - m_pos; }
    void consume(std::size_t count) { m_pos += count; }
    bool atEnd() const { return m_end && m_pos == m_size; }
    std::uint64_t consumedTotal() const { return m_total - (m_size - m_pos); }
    // Keeps the unread bytes and appends more; `more` is false at the end.
    Error refill(bool &more)
    {
        more = false;
        if (m_end)
            return {};
        if (m_pos > 0) {
            std::memmove(m_buffer.get(), m_buffer.get() + m_pos, m_size - m_pos);
            m_size -= m_pos;
            m_pos = 0;
        }
        if (m_size == kInputBufferSize) {
            more = true;
            return {};
        }
        std::size_t got = 0;
        Error error = m_source->read(m_buffer.get() + m_size, kInputBufferSize - m_size, got);
        if (error.failed())
            return error;
        if (got == 0)
            m_end = true;
        m_size += got;
        m_total += got;
        more = got > 0;
        return {};
    }

private:
    std::unique_ptr<Stream> m_source;
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_size = 0;
    std::uint64_t m_total = 0;
    bool m_end = false;
};

// The LZMA decoder state with a dictionary buffer we own; output is read
// straight out of the dictionary.
class LzmaCore
{
public:
    LzmaCore()
    {
        LzmaDec_Construct(&m_dec);
        std::memset(&m_dec.prop, 0, sizeof m_dec.prop);
    }
    ~LzmaCore()
    {
        LzmaDec_FreeProbs(&m_dec, &g_alloc);
        std::free(m_dictionary);
    }
    LzmaCore(const LzmaCore &) = delete;
    LzmaCore &operator=(const LzmaCore &) = delete;

    // Hands out decoded bytes not yet read; false when there are none.
    bool drain(std::uint8_t *buffer, std::size_t want, std::size_t &got)
    {
        if (m_readPos >= m_dec.dicPos)
            return false;
        got = std::min(want, m_dec.dicPos - m_readPos);
        std::memcpy(buffer, m_dictionary + m_readPos, got);
        m_readPos += got;
        return true;
    }

    bool allocateDictionary(std::uint64_t size)
    {
        const std::size_t bytes = static_cast<std::size_t>(std::max<std::uint64_t>(size, 1));
        m_dictionary = static_cast<std::uint8_t *>(std::malloc(bytes));
        if (!m_dictionary)
            return false;
        m_dec.dic = m_dictionary;
        m_dec.dicBufSize = bytes;
        m_dec.dicPos = 0;
        return true;
    }

    CLzmaDec m_dec;
    std::uint8_t *m_dictionary = nullptr;
    std::size_t m_readPos = 0; // dictionary bytes before this were handed out
};

class LzmaStream : public Stream
{
public:
    LzmaStream(std::unique_ptr<Stream> source, std::uint64_t size, std::uint64_t offset)
        : m_in(std::move(source)), m_left(size), m_offset(offset)
    {
    }

    Error init(const std::vector<std::uint8_t> &props)
    {
        if (props.size() != LZMA_PROPS_SIZE)
            return Error(ErrorKind::Malformed, m_offset, "LZMA properties");
        if (!m_in.valid() ||
            LzmaDec_AllocateProbs(&m_core.m_dec, props.data(), LZMA_PROPS_SIZE, &g_alloc) !=
                SZ_OK ||
            !m_core.allocateDictionary(std::min<std::uint64_t>(m_core.m_dec.prop.dicSize, m_left)))
            return Error(ErrorKind::OutOfMemory, m_offset, "out of memory for the LZMA dictionary");
        LzmaDec_Init(&m_core.m_dec);
        return {};
    }

    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        CLzmaDec &dec = m_core.m_dec;
        for (;;) {
            if (m_core.drain(buffer, want, got))
                return {};
            if (m_left == 0)
                return {};
            if (dec.dicPos == dec.dicBufSize)
                dec.dicPos = m_core.m_readPos = 0;
            if (m_in.available() == 0) {
                bool more = false;
                Error error = m_in.refill(more);
                if (error.failed())
                    return error;
            }
            const std::size_t limit = dec.dicPos + static_cast<std::size_t>(std::min<std::uint64_t>(
                                                       dec.dicBufSize - dec.dicPos, m_left));
            SizeT inLen = m_in.available();
            ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
            const std::size_t before = dec.dicPos;
            const SRes res =
                LzmaDec_DecodeToDic(&dec, limit, m_in.data(), &inLen, LZMA_FINISH_ANY, &status);
            m_in.consume(inLen);
            const std::size_t produced = dec.dicPos - before;
            m_left -= produced;
            if (res != SZ_OK)
                return Error(ErrorKind::Malformed, m_offset + m_in.consumedTotal(), "LZMA data");
            if (produced == 0 && inLen == 0) {
                if (status == LZMA_STATUS_FINISHED_WITH_MARK)
                    return Error(ErrorKind::Malformed, m_offset + m_in.consumedTotal(),
                                 "LZMA stream ends before its size");
                if (m_in.atEnd())
                    return Error(ErrorKind::Truncated, m_offset + m_in.consumedTotal(),
                                 "LZMA data ends early");
                bool more = false;
                Error error = m_in.refill(more);
                if (error.failed())
                    return error;
                if (!more && m_in.atEnd())
                    return Error(ErrorKind::Truncated, m_offset + m_in.consumedTotal(),
                                 "LZMA data ends early");
            }
        }
    }

private:
    BufferedSource m_in;
    LzmaCore m_core;
    std::uint64_t m_left;
    std::uint64_t m_offset;
};

std::uint32_t lzma2Dictionary(std::uint8_t prop)
{
    if (prop == 40)
        return 0xFFFFFFFF;
    return (2u | (prop & 1u)) << (prop / 2 + 11);
}

class Lzma2Stream : public Stream
{
public:
    Lzma2Stream(std::unique_ptr<Stream> source, std::uint64_t size, std::uint64_t offset)
        : m_in(std::move(source)), m_left(size), m_offset(offset)
    {
    }

    Error init(const std::vector<std::uint8_t> &props)
    {
        if (props.size() != 1 || props[0] > 40)
            return Error(ErrorKind::Malformed, m_offset, "LZMA2 properties");
        const std::uint32_t dictionary = lzma2Dictionary(props[0]);
        // Probabilities for the largest lc + lp LZMA2 allows (4).
        const std::uint8_t lzmaProps[5] = {4, 0, 0x10, 0, 0};
        CLzmaDec &dec = m_core.m_dec;
        if (!m_in.valid() || LzmaDec_AllocateProbs(&dec, lzmaProps, 5, &g_alloc) != SZ_OK ||
            !m_core.allocateDictionary(std::min<std::uint64_t>(dictionary, m_left)))
            return Error(ErrorKind::OutOfMemory, m_offset,
                         "out of memory for the LZMA2 dictionary");
        dec.prop.dicSize = dictionary;
        return {};
    }

    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        CLzmaDec &dec = m_core.m_dec;
        for (;;) {
            if (m_core.drain(buffer, want, got))
                return {};
            if (m_left == 0 && m_chunkUnpack == 0)
                return {};
            if (dec.dicPos == dec.dicBufSize)
                dec.dicPos = m_core.m_readPos = 0;
            if (m_chunkUnpack == 0) {
                Error error = readChunkHeader();
                if (error.failed())
                    return error;
                continue;
            }
            if (m_in.available() == 0) {
                bool more = false;
                Error error = m_in.refill(more);
                if (error.failed())
                    return error;
                if (m_in.available() == 0)
                    return Error(ErrorKind::Truncated, position(), "LZMA2 data ends early");
            }
            const std::size_t space = static_cast<std::size_t>(
                std::min<std::uint64_t>(dec.dicBufSize - dec.dicPos, m_chunkUnpack));
            if (!m_lzmaChunk) {
                const std::size_t count = std::min(space, m_in.available());
                std::memcpy(dec.dic + dec.dicPos, m_in.data(), count);
                dec.dicPos += count;
                if (dec.checkDicSize == 0 && dec.prop.dicSize - dec.processedPos <= count)
                    dec.checkDicSize = dec.prop.dicSize;
                dec.processedPos += static_cast<std::uint32_t>(count);
                m_in.consume(count);
                m_chunkUnpack -= count;
                continue;
            }
            SizeT inLen =
                static_cast<SizeT>(std::min<std::uint64_t>(m_in.available(), m_chunkPack));
            ELzmaStatus status = LZMA_STATUS_NOT_SPECIFIED;
            const std::size_t before = dec.dicPos;
            const SRes res = LzmaDec_DecodeToDic(&dec, dec.dicPos + space, m_in.data(), &inLen,
                                                 LZMA_FINISH_ANY, &status);
            m_in.consume(inLen);
            m_chunkPack -= inLen;
            const std::size_t produced = dec.dicPos - before;
            m_chunkUnpack -= produced;
            if (res != SZ_OK || status == LZMA_STATUS_FINISHED_WITH_MARK)
                return Error(ErrorKind::Malformed, position(), "LZMA2 chunk data");
            if (m_chunkUnpack == 0 && m_chunkPack != 0)
                return Error(ErrorKind::Malformed, position(), "LZMA2 chunk longer than declared");
            if (m_chunkUnpack != 0 && m_chunkPack == 0 && produced == 0)
                return Error(ErrorKind::Malformed, position(), "LZMA2 chunk shorter than declared");
        }
    }

private:
    std::uint64_t position() const { return m_offset + m_in.consumedTotal(); }

    Error need(std::size_t count)
    {
        while (m_in.available() < count) {
            bool more = false;
            Error error = m_in.refill(more);
            if (error.failed())
                return error;
            if (!more)
                return Error(ErrorKind::Truncated, position(), "LZMA2 chunk header");
        }
        return {};
    }

    Error readChunkHeader()
    {
        Error error = need(1);
        if (error.failed())
            return error;
        const std::uint8_t control = m_in.data()[0];
        CLzmaDec &dec = m_core.m_dec;
        if (control == 0)
            return Error(ErrorKind::Truncated, position(), "LZMA2 stream ends before its size");
        if (control == 1 || control == 2) {
            if ((error = need(3)).failed())
                return error;
            const std::uint8_t *p = m_in.data();
            const bool resetDictionary = control == 1;
            if (!resetDictionary && m_needDictionaryReset)
                return Error(ErrorKind::Malformed, position(), "LZMA2 dictionary not reset");
            if (resetDictionary)
                m_needProps = m_needStateReset = true;
            m_needDictionaryReset = false;
            LzmaDec_InitDicAndState(&dec, resetDictionary, False);
            m_chunkUnpack = ((static_cast<std::uint32_t>(p[1]) << 8) | p[2]) + 1u;
            m_lzmaChunk = false;
            m_in.consume(3);
        } else if (control >= 0x80) {
            const unsigned mode = (control >> 5) & 3;
            const std::size_t headerSize = mode >= 2 ? 6 : 5;
            if ((error = need(headerSize)).failed())
                return error;
            const std::uint8_t *p = m_in.data();
            const bool resetDictionary = mode == 3;
            const bool resetState = mode > 0;
            if ((!resetDictionary && m_needDictionaryReset) || (!resetState && m_needStateReset))
                return Error(ErrorKind::Malformed, position(), "LZMA2 chunk without reset");
            if (mode >= 2) {
                unsigned b = p[5];
                if (b >= 9 * 5 * 5)
                    return Error(ErrorKind::Malformed, position(), "LZMA2 properties");
                const unsigned lc = b % 9;
                b /= 9;
                const unsigned lp = b % 5;
                const unsigned pb = b / 5;
                if (lc + lp > 4)
                    return Error(ErrorKind::Malformed, position(), "LZMA2 properties");
                dec.prop.lc = static_cast<Byte>(lc);
                dec.prop.lp = static_cast<Byte>(lp);
                dec.prop.pb = static_cast<Byte>(pb);
                m_needProps = false;
            } else if (m_needProps) {
                return Error(ErrorKind::Malformed, position(), "LZMA2 chunk without properties");
            }
            m_needDictionaryReset = m_needStateReset = false;
            LzmaDec_InitDicAndState(&dec, resetDictionary, resetState);
            m_chunkUnpack = ((static_cast<std::uint32_t>(control & 0x1F) << 16) |
                             (static_cast<std::uint32_t>(p[1]) << 8) | p[2]) +
                            1u;
            m_chunkPack = ((static_cast<std::uint32_t>(p[3]) << 8) | p[4]) + 1u;
            m_lzmaChunk = true;
            m_in.consume(headerSize);
        } else {
            return Error(ErrorKind::Malformed, position(), "LZMA2 control byte");
        }
        if (m_chunkUnpack > m_left)
            return Error(ErrorKind::Malformed, position(), "LZMA2 data longer than its size");
        m_left -= m_chunkUnpack;
        return {};
    }

    BufferedSource m_in;
    LzmaCore m_core;
    std::uint64_t m_left; // not yet announced by a chunk header
    std::uint64_t m_offset;
    std::uint64_t m_chunkUnpack = 0;
    std::uint64_t m_chunkPack = 0;
    bool m_lzmaChunk = false;
    bool m_needDictionaryReset = true;
    bool m_needStateReset = true;
    bool m_needProps = true;
};

// LZMA2 blocks decoded side by side. A chunk that resets the dictionary
// (control 1, or 0xE0 and above) starts a block that depends on nothing
// before it, so a fresh decoder started there yields what the serial one
// would. The chunk headers are walked ahead of decoding to cut the stream
// into jobs of whole blocks; each job goes to a worker thread with a decoder
// of its own, and the output is handed on in stream order. Where the headers
// stop making sense the rest of the stream becomes one last job, decoded like
// any other, so a damaged stream fails with the error the serial decoder
// gives, after everything before the damage.
class ParallelLzma2Stream : public Stream
{
public:
    ParallelLzma2Stream(Input &input, std::uint64_t packOffset, std::uint64_t packSize,
                        std::uint8_t prop, std::uint64_t size, unsigned threads)
        : m_input(input), m_prop(prop), m_scanPos(packOffset), m_packEnd(packOffset + packSize),
          m_scanLeft(size), m_threads(threads)
    {
    }
    ~ParallelLzma2Stream() override
    {
        {
            Lock lock(m_mutex);
            m_stop = true;
            m_changed.notifyAll();
        }
        for (auto &worker : m_workers)
            worker->join();
        for (auto *piece : m_freePieces)
            delete[] piece;
        for (auto &job : m_jobs)
            for (auto &piece : job->ready)
                delete[] piece.data;
        delete[] m_current.data;
    }

    // Cuts the first job; false when it is the whole stream.
    bool severalJobs()
    {
        Lock lock(m_mutex);
        scanLocked();
        return !m_scanDone || m_jobs.size() > 1;
    }

    // False when not even one worker could be started.
    bool startWorkers()
    {
        for (unsigned i = 0; i < m_threads; ++i) {
            auto worker = std::make_unique<Thread>();
            if (!worker->start(&ParallelLzma2Stream::work, this))
                break;
            m_workers.push_back(std::move(worker));
        }
        return !m_workers.empty();
    }

    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        while (m_currentPos == m_current.size) {
            Lock lock(m_mutex);
            if (m_current.data) {
                m_freePieces.push_back(m_current.data);
                m_current = {};
                m_currentPos = 0;
            }
            for (;;) {
                if (m_jobs.empty()) {
                    if (m_scanDone)
                        return {};
                    scanLocked();
                    m_changed.notifyAll();
                    continue;
                }
                Job &job = *m_jobs.front();
                if (!job.ready.empty()) {
                    m_current = job.ready.front();
                    job.ready.pop_front();
                    m_changed.notifyAll();
                    break;
                }
                if (job.done) {
                    if (job.error.failed())
                        return job.error;
                    m_jobs.pop_front();
                    scanLocked();
                    m_changed.notifyAll();
                    continue;
                }
                m_changed.wait(lock);
            }
        }
        got = std::min(want, m_current.size - m_currentPos);
        std::memcpy(buffer, m_current.data + m_currentPos, got);
        m_currentPos += got;
        return {};
    }

private:
    // Output is handed on in pieces; each job may run this far ahead of the
    // reader, on top of its dictionary.
    static constexpr std::size_t kPieceSize = 1 << 20;
    static constexpr std::size_t kPiecesAhead = 7; // and one being filled
    // Consecutive blocks are joined into jobs of at least this much output.
    static constexpr std::uint64_t kMinJob = 2 << 20;

    struct Piece
    {
        std::uint8_t *data = nullptr;
        std::size_t size = 0;
    };
    struct Job
    {
        std::uint64_t packOffset = 0;
        std::uint64_t packSize = 0;
        std::uint64_t unpackSize = 0;
        bool taken = false;
        bool done = false;
        Error error;
        std::deque<Piece> ready;
    };

    // Cuts jobs while fewer than one per worker wait to be read.
    void scanLocked()
    {
        while (!m_scanDone && m_jobs.size() < m_threads)
            m_jobs.push_back(cutJob());
    }

    std::unique_ptr<Job> cutJob()
    {
        auto job = std::make_unique<Job>();
        job->packOffset = m_scanPos;
        std::uint64_t unpack = 0;
        for (;;) {
            if (m_scanLeft == 0) {
                m_scanDone = true;
                break;
            }
            std::uint8_t h[6] = {};
            const std::uint64_t room = m_packEnd - m_scanPos;
            const std::size_t headerRead =
                static_cast<std::size_t>(std::min<std::uint64_t>(6, room));
            if (headerRead == 0 || !m_input.readAt(m_scanPos, h, headerRead))
                return tail(std::move(job), unpack);
            const std::uint8_t control = h[0];
            std::uint64_t chunkUnpack = 0, extent = 0;
            bool reset = false;
            if (control == 1 || control == 2) {
                if (headerRead < 3)
                    return tail(std::move(job), unpack);
                chunkUnpack = ((static_cast<std::uint32_t>(h[1]) << 8) | h[2]) + 1u;
                extent = 3 + chunkUnpack;
                reset = control == 1;
            } else if (control >= 0x80) {
                const std::size_t headerSize = control >= 0xC0 ? 6 : 5;
                if (headerRead < headerSize)
                    return tail(std::move(job), unpack);
                chunkUnpack = ((static_cast<std::uint32_t>(control & 0x1F) << 16) |
                               (static_cast<std::uint32_t>(h[1]) << 8) | h[2]) +
                              1u;
                extent = headerSize + ((static_cast<std::uint32_t>(h[3]) << 8) | h[4]) + 1u;
                reset = control >= 0xE0;
            } else {
                return tail(std::move(job), unpack);
            }
            if (reset && unpack >= kMinJob)
                break; // the next job starts here
            if ((unpack == 0 && !reset) || chunkUnpack > m_scanLeft || extent > room)
                return tail(std::move(job), unpack);
            m_scanPos += extent;
            m_scanLeft -= chunkUnpack;
            unpack += chunkUnpack;
        }
        job->packSize = m_scanPos - job->packOffset;
        job->unpackSize = unpack;
        return job;
    }

    // The rest of the stream as one job.
    std::unique_ptr<Job> tail(std::unique_ptr<Job> job, std::uint64_t unpack)
    {
        job->packSize = m_packEnd - job->packOffset;
        job->unpackSize = unpack + m_scanLeft;
        m_scanPos = m_packEnd;
        m_scanLeft = 0;
        m_scanDone = true;
        return job;
    }

    static void work(void *self) { static_cast<ParallelLzma2Stream *>(self)->workLoop(); }

    void workLoop()
    {
        Lock lock(m_mutex);
        for (;;) {
            Job *job = nullptr;
            while (!m_stop) {
                for (auto &j : m_jobs)
                    if (!j->taken) {
                        job = j.get();
                        break;
                    }
                if (job)
                    break;
                m_changed.wait(lock);
            }
            if (m_stop)
                return;
            job->taken = true;
            m_mutex.unlock();
            Error error = decodeJob(*job);
            m_mutex.lock();
            job->done = true;
            job->error = error;
            m_changed.notifyAll();
        }
    }

    // Runs on a worker thread; takes the lock only to hand pieces over.
    Error decodeJob(Job &job)
    {
        auto stream = std::make_unique<Lzma2Stream>(
            makePackStream(m_input, job.packOffset, job.packSize), job.unpackSize, job.packOffset);
        Error error = stream->init({m_prop});
        if (error.failed())
            return error;
        std::uint64_t left = job.unpackSize;
        while (left) {
            Piece piece;
            {
                Lock lock(m_mutex);
                while (job.ready.size() >= kPiecesAhead && !m_stop)
                    m_changed.wait(lock);
                if (m_stop)
                    return {};
                if (!m_freePieces.empty()) {
                    piece.data = m_freePieces.back();
                    m_freePieces.pop_back();
                }
            }
            if (!piece.data)
                piece.data = new (std::nothrow) std::uint8_t[kPieceSize];
            if (!piece.data)
                return Error(ErrorKind::OutOfMemory, job.packOffset, "out of memory");
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, left));
            while (piece.size < want) {
                std::size_t got = 0;
                error = stream->read(piece.data + piece.size, want - piece.size, got);
                if (error.ok() && got == 0)
                    error = Error(ErrorKind::Truncated, job.packOffset, "LZMA2 data ends early");
                if (error.failed())
                    break;
                piece.size += got;
            }
            left -= piece.size;
            Lock lock(m_mutex);
            if (piece.size)
                job.ready.push_back(piece);
            else
                m_freePieces.push_back(piece.data);
            m_changed.notifyAll();
            if (error.failed())
                return error;
        }
        return {};
    }

    Input &m_input;
    const std::uint8_t m_prop;
    // Scanning, under m_mutex.
    std::uint64_t m_scanPos;
    const std::uint64_t m_packEnd;
    std::uint64_t m_scanLeft;
    bool m_scanDone = false;
    const unsigned m_threads;

    Mutex m_mutex;
    Condition m_changed;
    bool m_stop = false;
    std::deque<std::unique_ptr<Job>> m_jobs; // in stream order, not yet read to the end
    std::vector<std::uint8_t *> m_freePieces;
    std::vector<std::unique_ptr<Thread>> m_workers;
    // The reader's piece (reader thread only).
    Piece m_current;
    std::size_t m_currentPos = 0;
};

// Reads its source on a thread of its own, a few pieces ahead of the reader:
// the LZMA decoder under a branch filter runs beside the filter. What the
// source yields, an error included, reaches the reader in order.
class ReadAheadStream : public Stream
{
public:
    explicit ReadAheadStream(std::unique_ptr<Stream> source) : m_source(std::move(source)) {}
    // The source back, when start() failed.
    std::unique_ptr<Stream> release() { return std::move(m_source); }
    ~ReadAheadStream() override
    {
        {
            Lock lock(m_mutex);
            m_stop = true;
            m_changed.notifyAll();
        }
        m_thread.join();
    }

    bool start()
    {
        for (auto &piece : m_pieces) {
            piece.data.reset(new (std::nothrow) std::uint8_t[kPieceSize]);
            if (!piece.data)
                return false;
        }
        return m_thread.start(&ReadAheadStream::run, this);
    }

    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        Piece &piece = m_pieces[m_readIndex];
        if (m_readPos == 0) {
            Lock lock(m_mutex);
            while (!piece.full && !m_ended)
                m_changed.wait(lock);
            if (!piece.full)
                return m_error; // the end, or the source's error
        }
        got = std::min(want, piece.size - m_readPos);
        std::memcpy(buffer, piece.data.get() + m_readPos, got);
        m_readPos += got;
        if (m_readPos == piece.size) {
            m_readPos = 0;
            m_readIndex = (m_readIndex + 1) % kPieces;
            Lock lock(m_mutex);
            piece.full = false;
            m_changed.notifyAll();
        }
        return {};
    }

private:
    static constexpr std::size_t kPieces = 4;
    static constexpr std::size_t kPieceSize = 256 << 10;

    struct Piece
    {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size = 0;
        bool full = false; // written, not yet read to its end
    };

    static void run(void *self) { static_cast<ReadAheadStream *>(self)->fill(); }

    void fill()
    {
        for (std::size_t index = 0;; index = (index + 1) % kPieces) {
            Piece &piece = m_pieces[index];
            {
                Lock lock(m_mutex);
                while (piece.full && !m_stop)
                    m_changed.wait(lock);
                if (m_stop)
                    return;
            }
            std::size_t size = 0;
            Error error;
            while (size < kPieceSize) {
                std::size_t got = 0;
                error = m_source->read(piece.data.get() + size, kPieceSize - size, got);
                if (error.failed() || got == 0)
                    break;
                size += got;
            }
            Lock lock(m_mutex);
            piece.size = size;
            piece.full = size > 0;
            if (size < kPieceSize) {
                m_error = error;
                m_ended = true;
            }
            m_changed.notifyAll();
            if (m_ended)
                return;
        }
    }

    std::unique_ptr<Stream> m_source; // the filling thread's
    Piece m_pieces[kPieces];
    std::size_t m_readIndex = 0; // reader only
    std::size_t m_readPos = 0;
    Thread m_thread;
    Mutex m_mutex;
    Condition m_changed;
    bool m_stop = false;
    bool m_ended = false; // no piece after the full ones
    Error m_error;
};

constexpr std::size_t kFilterBufferSize = 1 << 16;

class FilterStream : public Stream
{
public:
    FilterStream(std::unique_ptr<Stream> source, std::unique_ptr<Filter> filter)
        : m_source(std::move(source)), m_filter(std::move(filter))
    {
    }
    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        while (m_readyBegin == m_readyEnd) {
            if (m_sourceEnd && m_readyEnd == m_filled)
                return {};
            std::memmove(m_buffer, m_buffer + m_readyEnd, m_filled - m_readyEnd);
            m_filled -= m_readyEnd;
            m_readyBegin = m_readyEnd = 0;
            while (!m_sourceEnd && m_filled < kFilterBufferSize) {
                std::size_t count = 0;
                Error error =
                    m_source->read(m_buffer + m_filled, kFilterBufferSize - m_filled, count);
                if (error.failed())
                    return error;
                if (count == 0)
                    m_sourceEnd = true;
                m_filled += count;
            }
            m_readyEnd = m_filter->decode(m_buffer, m_filled);
            if (m_sourceEnd)
                m_readyEnd = m_filled; // the undecodable tail passes unchanged
        }
        got = std::min(want, m_readyEnd - m_readyBegin);
        std::memcpy(buffer, m_buffer + m_readyBegin, got);
        m_readyBegin += got;
        return {};
    }

private:
    std::unique_ptr<Stream> m_source;
    std::unique_ptr<Filter> m_filter;
    std::uint8_t m_buffer[kFilterBufferSize];
    std::size_t m_readyBegin = 0;
    std::size_t m_readyEnd = 0;
    std::size_t m_filled = 0;
    bool m_sourceEnd = false;
};

// Byte-at-a-time access to a stream through a buffer.
class ByteSource
{
public:
    explicit ByteSource(std::unique_ptr<Stream> source) : m_source(std::move(source)) {}
    // False at the end of the stream (with `error` unset) or on an error.
    bool fill(Error &error)
    {
        if (m_pos < m_size)
            return true;
        m_pos = 0;
        m_size = 0;
        error = m_source->read(m_buffer, sizeof m_buffer, m_size);
        return error.ok() && m_size > 0;
    }
    const std::uint8_t *data() const { return m_buffer + m_pos; }
    std::size_t available() const { return m_size - m_pos; }
    void consume(std::size_t count) { m_pos += count; }
    bool get(std::uint8_t &out, Error &error)
    {
        if (!fill(error))
            return false;
        out = m_buffer[m_pos++];
        return true;
    }

private:
    std::unique_ptr<Stream> m_source;
    std::uint8_t m_buffer[1 << 15];
    std::size_t m_pos = 0;
    std::size_t m_size = 0;
};

class Bcj2Stream : public Stream
{
public:
    Bcj2Stream(std::unique_ptr<Stream> main, std::unique_ptr<Stream> call,
               std::unique_ptr<Stream> jump, std::unique_ptr<Stream> rc, std::uint64_t size,
               std::uint64_t offset)
        : m_main(std::move(main)), m_call(std::move(call)), m_jump(std::move(jump)),
          m_rc(std::move(rc)), m_size(size), m_offset(offset)
    {
        for (auto &p : m_probs)
            p = kBitModelTotal >> 1;
    }

    Error read(std::uint8_t *buffer, std::size_t want, std::size_t &got) override
    {
        got = 0;
        Error error;
        if (!m_started) {
            m_started = true;
            for (int i = 0; i < 5; ++i) {
                std::uint8_t b = 0;
                if (!m_rc.get(b, error))
                    return fail(error, "BCJ2 range coder stream");
                m_code = (m_code << 8) | b;
            }
        }
        want = static_cast<std::size_t>(std::min<std::uint64_t>(want, m_size - m_pos));
        while (got < want) {
            if (m_pendingCount) {
                buffer[got++] = m_pending[4 - m_pendingCount--];
                ++m_pos;
                continue;
            }
            if (!m_main.fill(error))
                return fail(error, "BCJ2 main stream");
            // Copy plain bytes up to and including the next jump opcode.
            const std::uint8_t *src = m_main.data();
            const std::size_t limit = std::min(m_main.available(), want - got);
            std::size_t i = 0;
            std::uint8_t prev = m_prevByte;
            bool jump = false;
            while (i < limit) {
                const std::uint8_t b = src[i];
                buffer[got + i] = b;
                ++i;
                if ((b & 0xFE) == 0xE8 || (prev == 0x0F && (b & 0xF0) == 0x80)) {
                    jump = true;
                    break;
                }
                prev = b;
            }
            m_main.consume(i);
            got += i;
            m_pos += i;
            if (!jump) {
                m_prevByte = prev;
                continue;
            }
            const std::uint8_t b = buffer[got - 1];
            if (m_pos == m_size) {
                m_prevByte = b;
                break;
            }
            std::uint16_t &prob =
                b == 0xE8 ? m_probs[prev] : (b == 0xE9 ? m_probs[256] : m_probs[257]);
            const std::uint32_t bound = (m_range >> kNumBitModelTotalBits) * prob;
            bool taken;
            if (m_code < bound) {
                m_range = bound;
                prob = static_cast<std::uint16_t>(prob + ((kBitModelTotal - prob) >> kNumMoveBits));
                taken = false;
            } else {
                m_range -= bound;
                m_code -= bound;
                prob = static_cast<std::uint16_t>(prob - (prob >> kNumMoveBits));
                taken = true;
            }
            if (m_range < (1u << 24)) {
                std::uint8_t next = 0;
                if (!m_rc.get(next, error))
                    return fail(error, "BCJ2 range coder stream");
                m_range <<= 8;
                m_code = (m_code << 8) | next;
            }
            if (!taken) {
                m_prevByte = b;
                continue;
            }
            ByteSource &source = b == 0xE8 ? m_call : m_jump;
            std::uint32_t value = 0;
            for (int k = 0; k < 4; ++k) {
                std::uint8_t v = 0;
                if (!source.get(v, error))
                    return fail(error, b == 0xE8 ? "BCJ2 call stream" : "BCJ2 jump stream");
                value = (value << 8) | v;
            }
            const std::uint32_t dest = value - static_cast<std::uint32_t>(m_pos + 4);
            for (int k = 0; k < 4; ++k)
                m_pending[k] = static_cast<std::uint8_t>(dest >> (8 * k));
            m_pendingCount = 4;
            m_prevByte = static_cast<std::uint8_t>(dest >> 24);
        }
        return {};
    }

private:
    static constexpr std::uint32_t kNumBitModelTotalBits = 11;
    static constexpr std::uint32_t kBitModelTotal = 1u << kNumBitModelTotalBits;
    static constexpr std::uint32_t kNumMoveBits = 5;

    Error fail(const Error &error, const char *what)
    {
        if (error.failed())
            return error;
        return Error(ErrorKind::Truncated, m_offset, std::string(what) + " ends early");
    }

    ByteSource m_main, m_call, m_jump, m_rc;
    std::uint64_t m_size;
    std::uint64_t m_offset;
    std::uint64_t m_pos = 0;
    std::uint16_t m_probs[258];
    std::uint32_t m_range = 0xFFFFFFFF;
    std::uint32_t m_code = 0;
    std::uint8_t m_prevByte = 0;
    std::uint8_t m_pending[4] = {};
    unsigned m_pendingCount = 0;
    bool m_started = false;
};

} // namespace

std::unique_ptr<Stream> makePackStream(Input &input, std::uint64_t offset, std::uint64_t size)
{
    return std::make_unique<PackStream>(input, offset, size);
}

std::unique_ptr<Stream> makeCopyStream(std::unique_ptr<Stream> source, std::uint64_t size)
{
    return std::make_unique<SizedStream>(std::move(source), size);
}

std::unique_ptr<Stream> makeLzmaStream(std::unique_ptr<Stream> source,
                                       const std::vector<std::uint8_t> &props, std::uint64_t size,
                                       std::uint64_t offset, Error &error)
{
    auto stream = std::make_unique<LzmaStream>(std::move(source), size, offset);
    error = stream->init(props);
    if (error.failed())
        return nullptr;
    return stream;
}

std::unique_ptr<Stream> makeLzma2Stream(std::unique_ptr<Stream> source,
                                        const std::vector<std::uint8_t> &props, std::uint64_t size,
                                        std::uint64_t offset, Error &error)
{
    auto stream = std::make_unique<Lzma2Stream>(std::move(source), size, offset);
    error = stream->init(props);
    if (error.failed())
        return nullptr;
    return stream;
}

std::unique_ptr<Stream> makePackedLzma2Stream(Input &input, std::uint64_t packOffset,
                                              std::uint64_t packSize,
                                              const std::vector<std::uint8_t> &props,
                                              std::uint64_t size, unsigned threads, Error &error)
{
    if (threads > 1 && props.size() == 1 && props[0] <= 40 && packOffset <= input.size() &&
        packSize <= input.size() - packOffset) {
        auto parallel = std::make_unique<ParallelLzma2Stream>(input, packOffset, packSize, props[0],
                                                              size, threads);
        if (parallel->severalJobs() && parallel->startWorkers()) {
            error = {};
            return parallel;
        }
    }
    return makeLzma2Stream(makePackStream(input, packOffset, packSize), props, size, packOffset,
                           error);
}

std::unique_ptr<Stream> makeReadAheadStream(std::unique_ptr<Stream> source)
{
    auto ahead = std::make_unique<ReadAheadStream>(std::move(source));
    if (!ahead->start())
        return ahead->release();
    return ahead;
}

std::unique_ptr<Stream> makeFilterStream(std::unique_ptr<Stream> source,
                                         std::unique_ptr<Filter> filter, std::uint64_t size)
{
    return std::make_unique<SizedStream>(
        std::make_unique<FilterStream>(std::move(source), std::move(filter)), size);
}

std::unique_ptr<Stream> makeBcj2Stream(std::unique_ptr<Stream> main, std::unique_ptr<Stream> call,
                                       std::unique_ptr<Stream> jump, std::unique_ptr<Stream> rc,
                                       std::uint64_t size, std::uint64_t offset)
{
    return std::make_unique<SizedStream>(
        std::make_unique<Bcj2Stream>(std::move(main), std::move(call), std::move(jump),
                                     std::move(rc), size, offset),
        size);
}

std::uint64_t lzmaDictionarySize(const std::vector<std::uint8_t> &props)
{
    if (props.size() != 5)
        return 0;
    return static_cast<std::uint64_t>(props[1]) | static_cast<std::uint64_t>(props[2]) << 8 |
           static_cast<std::uint64_t>(props[3]) << 16 | static_cast<std::uint64_t>(props[4]) << 24;
}

std::uint64_t lzma2DictionarySize(const std::vector<std::uint8_t> &props)
{
    if (props.size() != 1 || props[0] > 40)
        return 0;
    return lzma2Dictionary(props[0]);
}

} // namespace quillon::sevenzip::detail
