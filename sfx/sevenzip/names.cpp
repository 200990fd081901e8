#include "names.h"

#include <vector>

namespace quillon::sevenzip {
namespace {

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsNoCase(const std::string &text, std::size_t length, const char *word)
{
    std::size_t i = 0;
    for (; word[i]; ++i)
        if (i >= length || upper(text[i]) != word[i])
            return false;
    return i == length;
}

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, alone or before a '.'.
bool isReservedDeviceName(const std::string &name)
{
    std::size_t stem = name.find('.');
    if (stem == std::string::npos)
        stem = name.size();
    static const char *const words[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *word : words)
        if (equalsNoCase(name, stem, word))
            return true;
    if (stem == 4 && (equalsNoCase(name, 3, "COM") || equalsNoCase(name, 3, "LPT")) &&
        name[3] >= '1' && name[3] <= '9')
        return true;
    return false;
}

std::string mapWindowsComponent(std::string part)
{
    for (char &c : part) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || c == ':' || c == '*' || c == '?' || c == '<' || c == '>' || c == '|' ||
            c == '"' || c == '\\')
            c = '_';
    }
    for (std::size_t i = part.size(); i > 0 && (part[i - 1] == '.' || part[i - 1] == ' '); --i)
        part[i - 1] = '_';
    if (isReservedDeviceName(part))
        part.insert(part.begin(), '_');
    return part;
}

} // namespace

bool mapEntryName(const std::string &stored, NameMapping mapping, std::string &out)
{
    out.clear();
    if (stored.empty() || isSeparator(stored[0]))
        return false; // absolute, UNC, "\\?\" and "\\.\" all start here
    if (stored.size() >= 2 && stored[1] == ':' &&
        ((stored[0] >= 'A' && stored[0] <= 'Z') || (stored[0] >= 'a' && stored[0] <= 'z')))
        return false;
    if (stored.find('\0') != std::string::npos)
        return false;
    // Safety: pieces between either separator.
    std::size_t start = 0;
    for (std::size_t i = 0; i <= stored.size(); ++i) {
        if (i < stored.size() && !isSeparator(stored[i]))
            continue;
        if (stored.compare(start, i - start, "..") == 0 && i - start == 2)
            return false;
        start = i + 1;
    }
    // Components: between '/' only; "." and empty ones are dropped.
    start = 0;
    for (std::size_t i = 0; i <= stored.size(); ++i) {
        if (i < stored.size() && stored[i] != '/')
            continue;
        std::string part = stored.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == ".")
            continue;
        if (mapping == NameMapping::Windows)
            part = mapWindowsComponent(part);
        if (!out.empty())
            out += '/';
        out += part;
    }
    return !out.empty();
}

} // namespace quillon::sevenzip
