// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/Regional.h"

#include "Text.h"

#include <clocale>
#include <cstdlib>
#include <cwchar>
#include <langinfo.h>
#include <locale.h>

namespace varmio {

namespace detail {
// An LC_TIME locale object, freed with the last Regional that refers to it.
struct TimeLocale {
    explicit TimeLocale(locale_t l) : Locale(l) {}
    ~TimeLocale() { freelocale(Locale); }
    TimeLocale(const TimeLocale&) = delete;
    TimeLocale& operator=(const TimeLocale&) = delete;
    locale_t Locale;
};
} // namespace detail

namespace {

// The locale name that a category takes from the environment: LC_ALL, else the category's own
// variable, else LANG, else the C locale.
const char* EnvironmentLocaleName(const char* categoryVariable)
{
    for (const char* variable : {"LC_ALL", categoryVariable, "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return value;
    }
    return "C";
}

// The category's locale object together with its character type data, which tells the character
// set of its texts; null when that locale is not installed.
locale_t OpenCategoryLocale(int categoryMask, const char* categoryVariable)
{
    return newlocale(LC_CTYPE_MASK | categoryMask, EnvironmentLocaleName(categoryVariable), locale_t{});
}

// The C locale, never freed: the formats of a Regional without a locale of its own are read in it,
// never in the process's global locale, which a toolkit may have changed.
locale_t CLocale()
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
    return c;
}

std::wstring Utf8ToWide(std::string_view text)
{
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80    ? 1
                             : lead >= 0xF8 ? 0
                             : lead >= 0xF0 ? 4
                             : lead >= 0xE0 ? 3
                             : lead >= 0xC0 ? 2
                                            : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += L'\uFFFD';
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(code);
        i += length;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

Regional Regional::FromEnvironment()
{
    Regional regional;
    if (locale_t numeric = OpenCategoryLocale(LC_NUMERIC_MASK, "LC_NUMERIC")) {
        const std::string separator =
            detail::CodesetToUtf8(nl_langinfo_l(RADIXCHAR, numeric), nl_langinfo_l(CODESET, numeric));
        if (!separator.empty()) regional.DecimalSeparator = separator;
        freelocale(numeric);
    }
    if (locale_t time = OpenCategoryLocale(LC_TIME_MASK, "LC_TIME")) {
        // Owned from here on, so that nothing below can leak it.
        regional.m_timeLocale = std::make_shared<const detail::TimeLocale>(time);
        const char* codeset = nl_langinfo_l(CODESET, time);
        const std::string date = detail::CodesetToUtf8(nl_langinfo_l(D_FMT, time), codeset);
        const std::string clock = detail::CodesetToUtf8(nl_langinfo_l(T_FMT, time), codeset);
        if (!date.empty()) regional.ShortDateFormat = date;
        if (!clock.empty()) regional.LongTimeFormat = clock;
    }
    return regional;
}

void Regional::AppendTenths(std::string& out, std::int32_t tenths) const
{
    // Built from the integer, never from a printed double: exact, and free of the global locale.
    std::int64_t magnitude = tenths;
    if (magnitude < 0) {
        out += '-';
        magnitude = -magnitude;
    }
    detail::AppendDecimal(out, magnitude / 10);
    if (magnitude % 10 != 0) {
        out += DecimalSeparator;
        out += static_cast<char>('0' + magnitude % 10);
    }
}

std::string Regional::FormatTenths(std::int32_t tenths) const
{
    std::string out;
    AppendTenths(out, tenths);
    return out;
}

std::string Regional::Format(const std::string& format, const std::tm& t) const
{
    if (format.empty()) return {};
    // The wide variant, so that names of months and AM/PM markers come out right whatever the
    // locale's own character set.
    const std::wstring wideFormat = Utf8ToWide(format);
    const locale_t locale = m_timeLocale ? m_timeLocale->Locale : CLocale();
    std::wstring buffer(128, L'\0');
    std::size_t length = 0;
    // A result of 0 means either an empty text or too small a buffer; a format that big is unheard of.
    while ((length = wcsftime_l(buffer.data(), buffer.size(), wideFormat.c_str(), &t, locale)) == 0 &&
           buffer.size() < 8192) {
        buffer.resize(buffer.size() * 2);
    }
    std::string out;
    for (std::size_t i = 0; i < length; ++i) AppendUtf8(out, static_cast<char32_t>(buffer[i]));
    return out;
}

std::string Regional::FormatShortDate(const std::tm& t) const { return Format(ShortDateFormat, t); }

std::string Regional::FormatLongTime(const std::tm& t) const { return Format(LongTimeFormat, t); }

std::string Regional::DateTimeText(const std::tm& t) const { return FormatShortDate(t) + "; " + FormatLongTime(t); }

} // namespace varmio
