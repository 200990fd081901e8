// Decoders of the branch-call-jump filters and Delta, working in place on a
// buffer. Each keeps its position and state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quillon::sevenzip {

enum class FilterKind
{
    X86,
    Arm,
    ArmThumb,
    Ppc,
    Sparc,
    Ia64,
    Arm64,
    RiscV,
    Delta
};

class Filter
{
public:
    virtual ~Filter() = default;
    // Decodes a prefix of data[0, size) in place and returns its length. The
    // rest (shorter than lookahead()) must be offered again with more data
    // behind it, or passed through unchanged at the end of the stream.
    virtual std::size_t decode(std::uint8_t *data, std::size_t size) = 0;
    // The most bytes decode() may leave undecoded.
    virtual std::size_t lookahead() const = 0;
};

// `deltaDistance` (1..256) is used by Delta only.
std::unique_ptr<Filter> makeFilter(FilterKind kind, unsigned deltaDistance = 1);

} // namespace quillon::sevenzip
