// Where a program's own image ends in its file: the PE or ELF headers and
// what they map. What a self-extractor carries behind its image starts at or
// after this offset.
#pragma once

#include "input.h"

#include <cstdint>

namespace quillon {

// The first byte after the PE image (headers and every section's raw data), or
// after the ELF image (program segments and section table); 0 for anything else
// or anything malformed, and for header tables above 16 MiB.
std::uint64_t imageEnd(Input &input);

} // namespace quillon
