// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading a saved record log back (File > Save, or varmio-log --records) into a trend store: the
// Windows-1250 text with CR LF (or LF) line ends, the header, and the data lines "date; time; "
// followed by the 20 record fields joined by "; ". The date and time are read in the reader's own
// short date and long time formats, the C locale's, or the Czech ones (whichever reads them back
// exactly as written), and the values with a point or a comma as the decimal separator.
//
// The file is only read. Pure functions of their arguments; callable from any thread with a store
// of its own.

#include "varmio/Regional.h"
#include "varmio/TrendStore.h"

#include <cstddef>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varmio {

// A file that cannot be read, or is not a record log; what() is the message for the user (Czech),
// naming the line that could not be read.
class RecordLogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What reading a log found besides the records it stored.
struct RecordLogReport {
    std::size_t Records = 0;      // data lines read into the store
    std::size_t Skipped = 0;      // non-empty lines that were neither the header nor a record
    std::size_t FirstSkipped = 0; // the first of those (line number from 1); 0 when none
    std::string FirstSkippedText; // its text (UTF-8, cut to 80 characters)
};

// Reads the log at `path` into `store` (best made with Options::GapAfter 0: a missing line means
// that nothing changed): each record at its time stamp, the eight values and the flame, heating
// and hot-water fields. Lines the user typed into the log are skipped and reported; a line without
// a time stamp (logged before the clock's first tick) takes the time of the next line that has one
// (or of the last, at the end).
// Throws RecordLogError when the file cannot be read, is empty, or when the first line that is not
// the header is not a record either (then the file is not a record log).
RecordLogReport ReadRecordLog(const std::string& path, TrendStore& store, const Regional& regional);

// The local time of a log line's date and time texts in `regional`'s formats, or nullopt when
// they are not exactly what those formats write.
std::optional<std::tm> ParseLogDateTime(std::string_view date, std::string_view time, const Regional& regional);

} // namespace varmio
