// Bounds-checked little-endian reads over a byte span, and the error value
// every binary parser in this project returns. Plain C++, header only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace quillon {

enum class ErrorKind
{
    None,
    Truncated,     // the data ends before a structure it announces
    Malformed,     // the data contradicts itself
    Unsupported,   // valid, but a feature this reader does not implement
    LimitExceeded, // a count, size or depth above what we accept
    CrcMismatch,   // checksum does not match
    Io,            // reading or writing a file failed
    OutOfMemory,   // an allocation failed
};

inline const char *errorKindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::None:
        return "ok";
    case ErrorKind::Truncated:
        return "truncated";
    case ErrorKind::Malformed:
        return "malformed";
    case ErrorKind::Unsupported:
        return "unsupported";
    case ErrorKind::LimitExceeded:
        return "limit exceeded";
    case ErrorKind::CrcMismatch:
        return "CRC mismatch";
    case ErrorKind::Io:
        return "I/O error";
    case ErrorKind::OutOfMemory:
        return "allocation failed";
    }
    return "error";
}

// An error with its kind, the offset in the input where it was found and a
// short context ("section table", "LZMA2 chunk", ...). Default-constructed
// means success.
struct Error
{
    ErrorKind kind = ErrorKind::None;
    std::uint64_t offset = 0;
    std::string context;

    Error() = default;
    Error(ErrorKind k, std::uint64_t off, std::string ctx)
        : kind(k), offset(off), context(std::move(ctx))
    {
    }

    bool ok() const { return kind == ErrorKind::None; }
    bool failed() const { return kind != ErrorKind::None; }

    std::string message() const
    {
        if (ok())
            return "ok";
        std::string text = errorKindName(kind);
        if (!context.empty())
            text += ": " + context;
        text += " (offset " + std::to_string(offset) + ")";
        return text;
    }
};

// True when [offset, offset + length) lies inside [0, size), without overflow.
inline bool rangeInside(std::uint64_t offset, std::uint64_t length, std::uint64_t size)
{
    return offset <= size && length <= size - offset;
}

// Sequential reader over [data, data + size). A read that would pass the end
// returns false, reads nothing and marks the reader failed; later reads fail
// too, so a sequence of reads can be checked once at the end with ok().
// `base` is the absolute offset of data[0] in the whole input, used for
// error reports.
class ByteReader
{
public:
    ByteReader() = default;
    ByteReader(const std::uint8_t *data, std::uint64_t size, std::uint64_t base = 0)
        : m_data(data), m_size(data ? size : 0), m_base(base)
    {
    }

    const std::uint8_t *data() const { return m_data; }
    std::uint64_t size() const { return m_size; }
    std::uint64_t pos() const { return m_pos; }
    std::uint64_t remaining() const { return m_size - m_pos; }
    std::uint64_t base() const { return m_base; }
    std::uint64_t absolutePos() const { return m_base + m_pos; }
    bool ok() const { return !m_failed; }
    bool atEnd() const { return m_pos == m_size; }

    bool seek(std::uint64_t pos)
    {
        if (m_failed || pos > m_size)
            return fail();
        m_pos = pos;
        return true;
    }

    bool skip(std::uint64_t count)
    {
        if (m_failed || count > remaining())
            return fail();
        m_pos += count;
        return true;
    }

    bool bytes(void *out, std::uint64_t count)
    {
        if (m_failed || count > remaining())
            return fail();
        if (count)
            std::memcpy(out, m_data + m_pos, static_cast<std::size_t>(count));
        m_pos += count;
        return true;
    }

    bool u8(std::uint8_t &out) { return readLe(out); }
    bool u16le(std::uint16_t &out) { return readLe(out); }
    bool u32le(std::uint32_t &out) { return readLe(out); }
    bool u64le(std::uint64_t &out) { return readLe(out); }

    // Random access without moving the position; does not mark the reader failed.
    template <typename T> bool peekAt(std::uint64_t offset, T &out) const
    {
        if (!rangeInside(offset, sizeof(T), m_size))
            return false;
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<std::uint64_t>(m_data[offset + i]) << (8 * i);
        out = static_cast<T>(value);
        return true;
    }

    // The sub-range [offset, offset + length) as a reader of its own, or an
    // empty failed reader when the range is not inside this one.
    ByteReader sub(std::uint64_t offset, std::uint64_t length) const
    {
        if (!rangeInside(offset, length, m_size)) {
            ByteReader bad;
            bad.m_failed = true;
            bad.m_base = m_base + (offset <= m_size ? offset : m_size);
            return bad;
        }
        return ByteReader(m_data + offset, length, m_base + offset);
    }

    // Pointer to `count` bytes at the current position, advancing past them;
    // nullptr (and failed) when fewer remain.
    const std::uint8_t *take(std::uint64_t count)
    {
        if (m_failed || count > remaining()) {
            fail();
            return nullptr;
        }
        const std::uint8_t *p = m_data + m_pos;
        m_pos += count;
        return p;
    }

private:
    template <typename T> bool readLe(T &out)
    {
        if (m_failed || sizeof(T) > remaining())
            return fail();
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<std::uint64_t>(m_data[m_pos + i]) << (8 * i);
        out = static_cast<T>(value);
        m_pos += sizeof(T);
        return true;
    }

    bool fail()
    {
        m_failed = true;
        return false;
    }

    const std::uint8_t *m_data = nullptr;
    std::uint64_t m_size = 0;
    std::uint64_t m_pos = 0;
    std::uint64_t m_base = 0;
    bool m_failed = false;
};

} // namespace quillon
