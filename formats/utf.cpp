#include "utf.h"

#include <cstdint>

namespace quillon {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

void appendUtf8(std::string &out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(std::uint32_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(std::uint32_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Units of 16 bits are UTF-16 (surrogate pairs joined), wider ones UTF-32.
template <typename Unit> std::string toUtf8(std::basic_string_view<Unit> text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<std::uint32_t>(text[i]);
        if (sizeof(Unit) == 2 && isHighSurrogate(c) && i + 1 < text.size() &&
            isLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            c = kReplacement;
        }
        appendUtf8(out, c);
    }
    return out;
}

template <typename Unit> std::basic_string<Unit> fromUtf8(std::string_view utf8)
{
    std::basic_string<Unit> out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = kReplacement;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c <= 0xF4) {
            len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            std::uint32_t value = c & (0x3Fu >> (len - 1));
            bool good = i + len <= n;
            for (std::size_t k = 1; good && k < len; ++k) {
                const auto cc = static_cast<unsigned char>(utf8[i + k]);
                good = (cc & 0xC0) == 0x80;
                value = value << 6 | (cc & 0x3Fu);
            }
            const bool overlong = (len == 3 && value < 0x800) || (len == 4 && value < 0x10000);
            if (good && !overlong && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF))
                cp = value;
            else
                len = 1;
        }
        i += len;
        if (sizeof(Unit) == 2 && cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<Unit>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<Unit>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<Unit>(cp));
        }
    }
    return out;
}

} // namespace

std::string utf16ToUtf8(std::u16string_view text)
{
    return toUtf8(text);
}

std::string wideToUtf8(std::wstring_view text)
{
    return toUtf8(text);
}

std::wstring utf8ToWide(std::string_view text)
{
    return fromUtf8<wchar_t>(text);
}

} // namespace quillon
