#include "payload.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace quillon::sevenzip {
namespace {

constexpr std::size_t kMaxConfigSize = 64 * 1024;
constexpr std::size_t kSearchChunk = 1 << 16;

// The marker lines, stored XOR-ed with a key read through a volatile so the
// compiler cannot fold them back into literals: a module must not contain
// its own first line.
volatile unsigned char g_markerKey = 0x5A;

std::string unmask(const unsigned char *masked, std::size_t size)
{
    const unsigned char key = g_markerKey;
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(masked[i] ^ key);
    return text;
}

std::string firstLine()
{
    // ";!@Install@!UTF-8!\n" ^ 0x5A
    static const unsigned char masked[] = {0x61, 0x7B, 0x1A, 0x13, 0x34, 0x29, 0x2E,
                                           0x3B, 0x36, 0x36, 0x1A, 0x7B, 0x0F, 0x0E,
                                           0x1C, 0x77, 0x62, 0x7B, 0x50};
    return unmask(masked, sizeof masked);
}

std::string lastLine()
{
    // ";!@InstallEnd@!\n" ^ 0x5A
    static const unsigned char masked[] = {0x61, 0x7B, 0x1A, 0x13, 0x34, 0x29, 0x2E, 0x3B,
                                           0x36, 0x36, 0x1F, 0x34, 0x3E, 0x1A, 0x7B, 0x50};
    return unmask(masked, sizeof masked);
}

} // namespace

bool parseSfxConfig(const std::string &text, SfxConfig &out)
{
    SfxConfig config;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        // Key="value": the value runs to the last quote, so it may hold quotes.
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0 || line[eq + 1] != '"' || line.back() != '"' ||
            line.size() < eq + 3)
            return false;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 2, line.size() - eq - 3);
        if (key == "Title")
            config.title = value;
        else if (key == "Progress")
            config.progress = value;
        else if (key == "ExecuteFile")
            config.executeFile = value;
    }
    out = config;
    return true;
}

namespace {

Error locate(Input &input, std::uint64_t searchFrom, Payload &out)
{
    const std::string first = firstLine();
    const std::string last = lastLine();
    const std::uint64_t size = input.size();
    std::vector<char> buffer(kSearchChunk + first.size());
    std::uint64_t found = UINT64_MAX;
    for (std::uint64_t pos = searchFrom; pos < size;) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - pos));
        if (!input.readAt(pos, buffer.data(), count))
            return Error(ErrorKind::Io, pos, "cannot read the file");
        const auto endIt = buffer.begin() + static_cast<std::ptrdiff_t>(count);
        const auto hit = std::search(buffer.begin(), endIt, first.begin(), first.end());
        if (hit != endIt) {
            found = pos + static_cast<std::uint64_t>(hit - buffer.begin());
            break;
        }
        if (count < buffer.size())
            break;
        pos += kSearchChunk; // chunks overlap by the marker's length
    }
    if (found == UINT64_MAX)
        return Error(ErrorKind::Malformed, searchFrom, "no configuration block found");
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(kMaxConfigSize, size - found));
    std::string text(count, '\0');
    if (!input.readAt(found, text.data(), count))
        return Error(ErrorKind::Io, found, "cannot read the configuration block");
    const std::size_t end = text.find(last, first.size());
    if (end == std::string::npos)
        return Error(count == kMaxConfigSize ? ErrorKind::LimitExceeded : ErrorKind::Truncated,
                     found, "configuration block without its last line");
    Payload payload;
    payload.configOffset = found;
    payload.configSize = end + last.size();
    payload.archiveOffset = found + payload.configSize;
    if (!parseSfxConfig(text.substr(first.size(), end - first.size()), payload.config))
        return Error(ErrorKind::Malformed, found, "configuration block");
    out = payload;
    return {};
}

} // namespace

Error locatePayload(Input &input, std::uint64_t searchFrom, Payload &out)
{
    try {
        return locate(input, searchFrom, out);
    } catch (const std::bad_alloc &) {
        return Error(ErrorKind::OutOfMemory, searchFrom, "out of memory");
    }
}

Error locateModulePayload(Input &input, Payload &out)
{
    return locatePayload(input, imageEnd(input), out);
}

} // namespace quillon::sevenzip
