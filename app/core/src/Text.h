// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text helpers private to the core: plain decimal numbers and character-set conversion.

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varmio::detail {

// Plain decimal: digits, a minus sign for negatives, no grouping, no leading zeros.
template <typename Int>
void AppendDecimal(std::string& out, Int value)
{
    char digits[24];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec; // 24 characters hold any 64-bit integer
    out.append(digits, end);
}

// Appends the Windows-1250 form of `utf8` to `out`; a character Windows-1250 cannot hold and every
// malformed UTF-8 sequence become one "?" each. Returns how many. Uses a converter of the calling
// thread. Throws std::runtime_error when the system has no Windows-1250 converter.
std::size_t AppendWindows1250(std::string& out, std::string_view utf8);

// Text in the character set `codeset` (as the locale names it) to UTF-8; bytes that do not convert
// become U+FFFD. Returns the text unchanged for UTF-8 and ASCII, or when the system cannot convert.
std::string CodesetToUtf8(std::string_view text, const char* codeset);

} // namespace varmio::detail
