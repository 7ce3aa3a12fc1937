#pragma once
// The user's regional settings: decimal separator, short date format and long time format, taken
// from the POSIX locale (LC_NUMERIC, LC_TIME). The same settings serve the value boxes, the record
// log and the date-time box.

#include <cstdint>
#include <ctime>
#include <string>

namespace varmio {

struct Regional {
    std::string DecimalSeparator = ".";
    // strftime formats of the short date and the long time (hours, minutes, seconds).
    std::string ShortDateFormat = "%m/%d/%y";
    std::string LongTimeFormat = "%H:%M:%S";

    // Reads the settings of the user's locale (LC_NUMERIC, LC_TIME from the environment).
    static Regional FromEnvironment();

    // k / 10 in the general number format: "45", "45.5", "-0.2", "0", with DecimalSeparator.
    std::string FormatTenths(std::int32_t tenths) const;
    void AppendTenths(std::string& out, std::int32_t tenths) const;

    std::string FormatShortDate(const std::tm& t) const;
    std::string FormatLongTime(const std::tm& t) const;
    // The date-time box text: short date + "; " + long time, both of one clock reading.
    std::string DateTimeText(const std::tm& t) const;
};

} // namespace varmio
