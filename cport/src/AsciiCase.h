// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Letter case of ASCII text, as names in ini files and registry keys are compared.

#include <algorithm>
#include <string_view>

namespace cport {

constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiUpper(x) == AsciiUpper(y); });
}

} // namespace cport
