// SPDX-License-Identifier: GPL-3.0-or-later
// The text forms of stored Boolean and character settings, and the integer reading that
// character texts and ini files share.

#include <limits>

#include "AsciiCase.h"
#include "cport/Persistence.h"

namespace cport {

namespace {

int DigitValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

} // namespace

std::string BoolToText(bool value) { return value ? "Yes" : "No"; }

bool TextToBool(std::string_view text) { return EqualIgnoringAsciiCase(text, "YES"); }

std::string CharToText(char value)
{
    const auto code = static_cast<unsigned char>(value);
    if (code >= 33 && code <= 127) return std::string(1, value);
    // Appended rather than "#" + to_string(code), which GCC 12 at -O3 wrongly flags as an overlapping copy.
    std::string text = "#";
    text += std::to_string(code);
    return text;
}

char TextToChar(std::string_view text)
{
    if (text.empty()) return '\0';
    if (text.size() >= 2 && text.front() == '#') {
        const std::optional<std::int32_t> code = TextToInteger(text.substr(1));
        return code ? static_cast<char>(static_cast<unsigned char>(static_cast<std::uint32_t>(*code) & 0xFFu)) : '\0';
    }
    return text.front();
}

std::optional<std::int32_t> TextToInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    unsigned base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;

    // Decimal numbers must fit the signed range; hexadecimal ones spell a 32-bit pattern.
    const std::uint64_t limit = base == 16 ? std::numeric_limits<std::uint32_t>::max()
                                : negative ? std::uint64_t{1} << 31
                                           : (std::uint64_t{1} << 31) - 1;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i]);
        if (digit >= static_cast<int>(base)) return std::nullopt;
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit) return std::nullopt;
    }
    const auto pattern = static_cast<std::uint32_t>(negative ? 0u - magnitude : magnitude);
    return static_cast<std::int32_t>(pattern);
}

} // namespace cport
