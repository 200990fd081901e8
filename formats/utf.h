// UTF-8 <-> UTF-16 (and wchar_t, which is UTF-16 on Windows and UTF-32
// elsewhere). Invalid input never fails: lone surrogates, bytes that are no
// UTF-8, overlong forms and code points above U+10FFFF become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace quillon {

std::string utf16ToUtf8(std::u16string_view text);
std::string wideToUtf8(std::wstring_view text);
std::wstring utf8ToWide(std::string_view text);

} // namespace quillon
