// Payload locator used only while the 7z reader's own (sevenzip/) is absent;
// the build picks this file when no reader source defines locatePayload.
#include "payload.h"

#include <algorithm>
#include <vector>

namespace quillon::sevenzip {
namespace {

// Built at run time so the module never holds the marker as one literal.
std::string markerLine(const char *a, const char *b)
{
    return std::string(a) + b;
}

} // namespace

bool parseSfxConfig(const std::string &text, SfxConfig &out)
{
    SfxConfig config;
    std::size_t pos = 0;
    bool any = false;
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
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq + 2 > line.size() || line[eq + 1] != '"' ||
            line.back() != '"' || line.size() < eq + 3)
            return false;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 2, line.size() - eq - 3);
        if (key == "Title")
            config.title = value;
        else if (key == "Progress")
            config.progress = value;
        else if (key == "ExecuteFile")
            config.executeFile = value;
        any = true;
    }
    if (!any)
        return false;
    out = config;
    return true;
}

Error locatePayload(Input &input, std::uint64_t searchFrom, Payload &out)
{
    const std::string first = markerLine(";!@Inst", "all@!UTF-8!\n");
    const std::string last = markerLine(";!@Inst", "allEnd@!\n");
    const std::uint64_t size = input.size();
    constexpr std::size_t kChunk = 1 << 16;
    std::vector<char> buffer(kChunk + first.size());
    std::uint64_t pos = searchFrom;
    std::uint64_t found = UINT64_MAX;
    while (pos < size && found == UINT64_MAX) {
        const auto count =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - pos));
        if (!input.readAt(pos, buffer.data(), count))
            return Error(ErrorKind::Io, pos, "reading the file");
        const auto hit =
            std::search(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count),
                        first.begin(), first.end());
        if (hit != buffer.begin() + static_cast<std::ptrdiff_t>(count))
            found = pos + static_cast<std::uint64_t>(hit - buffer.begin());
        else if (count < buffer.size())
            break;
        else
            pos += kChunk;
    }
    if (found == UINT64_MAX)
        return Error(ErrorKind::Malformed, searchFrom, "no configuration block");
    constexpr std::size_t kMaxConfig = 64 * 1024;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kMaxConfig, size - found));
    std::string text(count, '\0');
    if (!input.readAt(found, text.data(), count))
        return Error(ErrorKind::Io, found, "reading the configuration block");
    const std::size_t end = text.find(last);
    if (end == std::string::npos)
        return Error(ErrorKind::Truncated, found, "configuration block without its last line");
    Payload payload;
    payload.configOffset = found;
    payload.configSize = end + last.size();
    payload.archiveOffset = found + payload.configSize;
    if (!parseSfxConfig(text.substr(first.size(), end - first.size()), payload.config))
        return Error(ErrorKind::Malformed, found, "configuration block");
    out = payload;
    return {};
}

} // namespace quillon::sevenzip
