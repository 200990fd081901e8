// Random-access input that the readers pull bytes from: a file (fileinput.h)
// or bytes already in memory. Plain C++, header only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillon {

class Input
{
public:
    virtual ~Input() = default;
    virtual std::uint64_t size() const = 0;
    // Reads exactly `count` bytes at `offset`; false on a short read or an I/O error.
    virtual bool readAt(std::uint64_t offset, void *buffer, std::size_t count) = 0;
};

// Bytes already in memory; they must outlive the input.
class SpanInput : public Input
{
public:
    SpanInput(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool readAt(std::uint64_t offset, void *buffer, std::size_t count) override
    {
        if (offset > m_size || count > m_size - offset)
            return false;
        if (count)
            std::memcpy(buffer, m_data + offset, count);
        return true;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
};

} // namespace quillon
