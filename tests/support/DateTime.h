// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Calendar times for the clocks the tests hand the code.

#include <ctime>

namespace varmio::test {

// Local time at the given date and time (month 1..12), the day of the week and of the year filled in.
inline std::tm LocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    std::mktime(&t); // fills in the day of the week and daylight saving time
    return t;
}

} // namespace varmio::test
