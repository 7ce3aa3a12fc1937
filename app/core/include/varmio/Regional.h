// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's regional settings: decimal separator, short date format and long time format, taken
// from the POSIX locale (LC_NUMERIC, LC_TIME, with LC_ALL and LANG as usual). The same settings serve
// the value boxes, the record log and the date-time box.
//
// A plain value, cheap to copy; a const Regional may be used from several threads at once.
// Texts going in and out are UTF-8, whatever the locale's own character set.

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace varmio {

namespace detail {
struct TimeLocale;
}

struct Regional {
    // What the C/POSIX locale gives; also what a category falls back to when its locale is missing.
    std::string DecimalSeparator = ".";
    // strftime formats of the short date and the long time (hours, minutes, seconds).
    std::string ShortDateFormat = "%m/%d/%y";
    std::string LongTimeFormat = "%H:%M:%S";

    // Reads the settings of the user's locale from the environment. A locale that is named but not
    // installed counts as the C locale, as it does for every other program. Does not throw.
    static Regional FromEnvironment();

    // k / 10 in the general number format: "45", "45.5", "-0.2", "0", with DecimalSeparator.
    std::string FormatTenths(std::int32_t tenths) const;
    void AppendTenths(std::string& out, std::int32_t tenths) const;

    // The date or time of `t` in the formats above, with the month and day names and the AM/PM
    // markers of the LC_TIME locale the formats came from (the C locale's for hand-set formats).
    std::string FormatShortDate(const std::tm& t) const;
    std::string FormatLongTime(const std::tm& t) const;
    // The date-time box text: short date + "; " + long time, both of the same clock reading.
    std::string DateTimeText(const std::tm& t) const;

private:
    std::string Format(const std::string& format, const std::tm& t) const;

    // The LC_TIME locale of FromEnvironment; null means the C locale.
    std::shared_ptr<const detail::TimeLocale> m_timeLocale;
};

} // namespace varmio
