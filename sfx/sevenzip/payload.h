// Finds the configuration block and the 7z archive appended to a
// self-extractor module. Plain C++.
#pragma once

#include "imageend.h"
#include "sevenzip.h"

#include <cstdint>
#include <string>

namespace quillon::sevenzip {

struct SfxConfig
{
    std::string title;       // UTF-8
    std::string progress;    // "no" in every output Quillon writes
    std::string executeFile; // UTF-8, relative to the extraction root
};

struct Payload
{
    std::uint64_t configOffset = 0; // first byte of ";!@Install@!UTF-8!"
    std::uint64_t configSize = 0;   // through the LF after ";!@InstallEnd@!"
    std::uint64_t archiveOffset = 0;
    SfxConfig config;
};

// Searches `input` from `searchFrom` for the first configuration block (first
// line ";!@Install@!UTF-8!", last line ";!@InstallEnd@!"), parses it, and
// places the archive right after the block. The module that calls this must
// not hold the first line as one contiguous literal, or it would find itself.
Error locatePayload(Input &input, std::uint64_t searchFrom, Payload &out);

// The payload a self-extractor module runs: the first configuration block
// after the module's own image. Everything that reads a module's payload
// (the module itself, quillon-unpack, the fuzzer) goes through this, so none
// of them can be shown a decoy hidden inside the image.
Error locateModulePayload(Input &input, Payload &out);

// Parses the lines between the first and the last line: Key="value" pairs;
// unknown keys are ignored. False when the text is not a configuration block.
bool parseSfxConfig(const std::string &text, SfxConfig &out);

} // namespace quillon::sevenzip
