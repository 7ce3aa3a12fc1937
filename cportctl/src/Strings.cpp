// SPDX-License-Identifier: GPL-3.0-or-later
#include "cportctl/Strings.h"

namespace cportctl {

namespace {

constexpr char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

} // namespace

bool SameTextAscii(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

std::int32_t TStrings::IndexOfText(std::string_view text) const
{
    const std::int32_t count = Count();
    for (std::int32_t i = 0; i < count; ++i)
        if (SameTextAscii(Strings(i), text)) return i;
    return -1;
}

} // namespace cportctl
