#include "filters.h"

#include <cstring>

namespace quillon::sevenzip {
namespace {

std::uint32_t le32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t be32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

void putLe32(std::uint8_t *p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint8_t byteOf(std::uint32_t v, unsigned shift)
{
    return static_cast<std::uint8_t>(v >> shift);
}

// x86 CALL/JMP (E8/E9) with the position mask that skips bytes which
// cannot start an instruction.
class X86Filter : public Filter
{
public:
    std::size_t lookahead() const override { return 4; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        static const bool allowed[8] = {true, true, true, false, true, false, false, false};
        static const unsigned bitNumber[8] = {0, 1, 2, 2, 3, 3, 3, 3};
        if (size < 5)
            return 0;
        const std::uint32_t ip = m_pos + 5;
        std::size_t pos = 0;
        std::size_t prevPos = ~static_cast<std::size_t>(0);
        std::uint32_t mask = m_state & 7;
        const std::size_t limit = size - 4;
        for (;;) {
            while (pos < limit && (data[pos] & 0xFE) != 0xE8)
                ++pos;
            if (pos >= limit)
                break;
            std::uint8_t *p = data + pos;
            const std::size_t distance = pos - prevPos;
            if (distance > 3) {
                mask = 0;
            } else {
                mask = (mask << (distance - 1)) & 7;
                if (mask != 0) {
                    const std::uint8_t b = p[4 - bitNumber[mask]];
                    if (!allowed[mask] || b == 0 || b == 0xFF) {
                        prevPos = pos;
                        mask = ((mask << 1) & 7) | 1;
                        ++pos;
                        continue;
                    }
                }
            }
            prevPos = pos;
            if (p[4] == 0 || p[4] == 0xFF) {
                std::uint32_t src = le32(p + 1);
                std::uint32_t dest;
                for (;;) {
                    dest = src - (ip + static_cast<std::uint32_t>(pos));
                    if (mask == 0)
                        break;
                    const unsigned index = bitNumber[mask] * 8;
                    const std::uint8_t b = byteOf(dest, 24 - index);
                    if (b != 0 && b != 0xFF)
                        break;
                    src = dest ^ ((1u << (32 - index)) - 1);
                }
                dest &= 0x01FFFFFF;
                if (dest & 0x01000000)
                    dest |= 0xFF000000;
                putLe32(p + 1, dest);
                pos += 5;
            } else {
                mask = ((mask << 1) & 7) | 1;
                ++pos;
            }
        }
        const std::size_t distance = pos - prevPos;
        m_state = distance > 3 ? 0 : ((mask << (distance - 1)) & 7);
        m_pos += static_cast<std::uint32_t>(pos);
        return pos;
    }

private:
    std::uint32_t m_pos = 0;
    std::uint32_t m_state = 0;
};

class ArmFilter : public Filter
{
public:
    std::size_t lookahead() const override { return 3; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        std::size_t i = 0;
        for (; i + 4 <= size; i += 4) {
            if (data[i + 3] != 0xEB)
                continue;
            std::uint32_t src = (le32(data + i) & 0x00FFFFFF) << 2;
            const std::uint32_t dest = (src - (m_pos + static_cast<std::uint32_t>(i) + 8)) >> 2;
            data[i + 0] = byteOf(dest, 0);
            data[i + 1] = byteOf(dest, 8);
            data[i + 2] = byteOf(dest, 16);
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

class ArmThumbFilter : public Filter
{
public:
    std::size_t lookahead() const override { return 3; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        std::size_t i = 0;
        for (; i + 4 <= size; i += 2) {
            if ((data[i + 1] & 0xF8) != 0xF0 || (data[i + 3] & 0xF8) != 0xF8)
                continue;
            std::uint32_t src = (static_cast<std::uint32_t>(data[i + 1]) & 7) << 19 |
                                static_cast<std::uint32_t>(data[i + 0]) << 11 |
                                (static_cast<std::uint32_t>(data[i + 3]) & 7) << 8 |
                                static_cast<std::uint32_t>(data[i + 2]);
            src <<= 1;
            const std::uint32_t dest = (src - (m_pos + static_cast<std::uint32_t>(i) + 4)) >> 1;
            data[i + 1] = static_cast<std::uint8_t>(0xF0 | ((dest >> 19) & 7));
            data[i + 0] = byteOf(dest, 11);
            data[i + 3] = static_cast<std::uint8_t>(0xF8 | ((dest >> 8) & 7));
            data[i + 2] = byteOf(dest, 0);
            i += 2;
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

class PpcFilter : public Filter
{
public:
    std::size_t lookahead() const override { return 3; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        std::size_t i = 0;
        for (; i + 4 <= size; i += 4) {
            if ((data[i] >> 2) != 0x12 || (data[i + 3] & 3) != 1)
                continue;
            const std::uint32_t src = be32(data + i) & 0x03FFFFFC;
            const std::uint32_t dest = src - (m_pos + static_cast<std::uint32_t>(i));
            data[i + 0] = static_cast<std::uint8_t>(0x48 | ((dest >> 24) & 3));
            data[i + 1] = byteOf(dest, 16);
            data[i + 2] = byteOf(dest, 8);
            data[i + 3] = static_cast<std::uint8_t>((data[i + 3] & 3) | (dest & 0xFC));
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

class SparcFilter : public Filter
{
public:
    std::size_t lookahead() const override { return 3; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        std::size_t i = 0;
        for (; i + 4 <= size; i += 4) {
            if (!((data[i] == 0x40 && (data[i + 1] & 0xC0) == 0x00) ||
                  (data[i] == 0x7F && (data[i + 1] & 0xC0) == 0xC0)))
                continue;
            const std::uint32_t src = be32(data + i) << 2;
            std::uint32_t dest = (src - (m_pos + static_cast<std::uint32_t>(i))) >> 2;
            dest =
                (((0u - ((dest >> 22) & 1)) << 22) & 0x3FFFFFFF) | (dest & 0x3FFFFF) | 0x40000000;
            data[i + 0] = byteOf(dest, 24);
            data[i + 1] = byteOf(dest, 16);
            data[i + 2] = byteOf(dest, 8);
            data[i + 3] = byteOf(dest, 0);
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

class Ia64Filter : public Filter
{
public:
    std::size_t lookahead() const override { return 15; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        static const std::uint8_t branchTable[32] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 4, 4, 6, 6, 0, 0,
                                                     7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
        std::size_t i = 0;
        for (; i + 16 <= size; i += 16) {
            const unsigned mask = branchTable[data[i] & 0x1F];
            unsigned bitPos = 5;
            for (unsigned slot = 0; slot < 3; ++slot, bitPos += 41) {
                if (((mask >> slot) & 1) == 0)
                    continue;
                const std::size_t bytePos = bitPos >> 3;
                const unsigned bitRes = bitPos & 7;
                std::uint64_t instruction = 0;
                for (unsigned j = 0; j < 6; ++j)
                    instruction |= static_cast<std::uint64_t>(data[i + j + bytePos]) << (8 * j);
                std::uint64_t norm = instruction >> bitRes;
                if (((norm >> 37) & 0xF) != 0x5 || ((norm >> 9) & 0x7) != 0)
                    continue;
                std::uint32_t src = static_cast<std::uint32_t>((norm >> 13) & 0xFFFFF);
                src |= (static_cast<std::uint32_t>(norm >> 36) & 1) << 20;
                src <<= 4;
                std::uint32_t dest = src - (m_pos + static_cast<std::uint32_t>(i));
                dest >>= 4;
                norm &= ~(static_cast<std::uint64_t>(0x8FFFFF) << 13);
                norm |= static_cast<std::uint64_t>(dest & 0xFFFFF) << 13;
                norm |= static_cast<std::uint64_t>(dest & 0x100000) << (36 - 20);
                instruction &= (static_cast<std::uint64_t>(1) << bitRes) - 1;
                instruction |= norm << bitRes;
                for (unsigned j = 0; j < 6; ++j)
                    data[i + j + bytePos] = static_cast<std::uint8_t>(instruction >> (8 * j));
            }
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

class Arm64Filter : public Filter
{
public:
    std::size_t lookahead() const override { return 3; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        std::size_t i = 0;
        for (; i + 4 <= size; i += 4) {
            const std::uint32_t pc = m_pos + static_cast<std::uint32_t>(i);
            std::uint32_t instr = le32(data + i);
            if ((instr >> 26) == 0x25) { // BL
                instr = 0x94000000 | ((instr - (pc >> 2)) & 0x03FFFFFF);
                putLe32(data + i, instr);
            } else if ((instr & 0x9F000000) == 0x90000000) { // ADRP
                const std::uint32_t src = ((instr >> 29) & 3) | ((instr >> 3) & 0x001FFFFC);
                if ((src + 0x00020000) & 0x001C0000)
                    continue;
                const std::uint32_t dest = src - (pc >> 12);
                instr &= 0x9000001F;
                instr |= (dest & 3) << 29;
                instr |= (dest & 0x0003FFFC) << 3;
                instr |= (0u - (dest & 0x00020000)) & 0x00E00000;
                putLe32(data + i, instr);
            }
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

// RISC-V JAL and AUIPC+inst2 pairs.
class RiscVFilter : public Filter
{
public:
    std::size_t lookahead() const override { return 7; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        if (size < 8)
            return 0;
        const std::size_t last = size - 8;
        std::size_t i = 0;
        for (; i <= last; i += 2) {
            std::uint32_t inst = data[i];
            if (inst == 0xEF) { // JAL
                const std::uint32_t b1 = data[i + 1];
                if ((b1 & 0x0D) != 0)
                    continue;
                const std::uint32_t b2 = data[i + 2];
                const std::uint32_t b3 = data[i + 3];
                const std::uint32_t pc = m_pos + static_cast<std::uint32_t>(i);
                std::uint32_t addr = ((b1 & 0xF0) << 13) | (b2 << 9) | (b3 << 1);
                addr -= pc;
                data[i + 1] = static_cast<std::uint8_t>((b1 & 0x0F) | ((addr >> 8) & 0xF0));
                data[i + 2] = static_cast<std::uint8_t>(
                    ((addr >> 16) & 0x0F) | ((addr >> 7) & 0x10) | ((addr << 4) & 0xE0));
                data[i + 3] =
                    static_cast<std::uint8_t>(((addr >> 4) & 0x7F) | ((addr >> 13) & 0x80));
                i += 4 - 2;
            } else if ((inst & 0x7F) == 0x17) { // AUIPC
                inst = le32(data + i);
                std::uint32_t inst2;
                if (inst & 0xE80) {
                    inst2 = le32(data + i + 4);
                    if (((inst << 8) ^ (inst2 - 3)) & 0xF8003) {
                        i += 6 - 2;
                        continue;
                    }
                    std::uint32_t addr = inst & 0xFFFFF000;
                    addr += inst2 >> 20;
                    inst = 0x17 | (2 << 7) | (inst2 << 12);
                    inst2 = addr;
                } else {
                    const std::uint32_t inst2Rs1 = inst >> 27;
                    if (((inst - 0x3117) << 18) >= (inst2Rs1 & 0x1D)) {
                        i += 4 - 2;
                        continue;
                    }
                    std::uint32_t addr = be32(data + i + 4);
                    addr -= m_pos + static_cast<std::uint32_t>(i);
                    inst2 = (inst >> 12) | (addr << 20);
                    inst = 0x17 | (inst2Rs1 << 7) | ((addr + 0x800) & 0xFFFFF000);
                }
                putLe32(data + i, inst);
                putLe32(data + i + 4, inst2);
                i += 8 - 2;
            }
        }
        m_pos += static_cast<std::uint32_t>(i);
        return i;
    }

private:
    std::uint32_t m_pos = 0;
};

class DeltaFilter : public Filter
{
public:
    explicit DeltaFilter(unsigned distance) : m_distance(distance)
    {
        std::memset(m_history, 0, sizeof m_history);
    }
    std::size_t lookahead() const override { return 0; }
    std::size_t decode(std::uint8_t *data, std::size_t size) override
    {
        // m_history holds the last m_distance output bytes (ring of 256).
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint8_t value = static_cast<std::uint8_t>(
                data[i] + m_history[static_cast<std::uint8_t>(m_index - m_distance)]);
            data[i] = value;
            m_history[m_index++] = value;
        }
        return size;
    }

private:
    unsigned m_distance;
    std::uint8_t m_history[256];
    std::uint8_t m_index = 0;
};

} // namespace

std::unique_ptr<Filter> makeFilter(FilterKind kind, unsigned deltaDistance)
{
    switch (kind) {
    case FilterKind::X86:
        return std::make_unique<X86Filter>();
    case FilterKind::Arm:
        return std::make_unique<ArmFilter>();
    case FilterKind::ArmThumb:
        return std::make_unique<ArmThumbFilter>();
    case FilterKind::Ppc:
        return std::make_unique<PpcFilter>();
    case FilterKind::Sparc:
        return std::make_unique<SparcFilter>();
    case FilterKind::Ia64:
        return std::make_unique<Ia64Filter>();
    case FilterKind::Arm64:
        return std::make_unique<Arm64Filter>();
    case FilterKind::RiscV:
        return std::make_unique<RiscVFilter>();
    case FilterKind::Delta:
        return std::make_unique<DeltaFilter>(deltaDistance);
    }
    return nullptr;
}

} // namespace quillon::sevenzip
