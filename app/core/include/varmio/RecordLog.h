// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Log files: Windows-1250 text, every line ended by CR LF. Used for File > Save and by the headless
// logger. Not synchronised: one thread per object.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varmio {

// A failure writing a log file; what() is the message shown to the user.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 to Windows-1250. A character that Windows-1250 cannot hold, and every malformed UTF-8
// sequence, becomes one "?" and is counted in *unmappable when given. Throws std::runtime_error
// only when the system has no Windows-1250 converter at all.
std::string ToWindows1250(std::string_view utf8, std::size_t* unmappable = nullptr);

// Writes `text` (the record log's whole text) to `path`, creating or replacing the file. Lines are
// separated in `text` by LF, CR LF or a lone CR; each is written followed by CR LF, and a break at
// the very end of `text` does not start another line (so "" writes nothing, and "a\n" and "a" both
// write "a" CR LF). Throws FileError: "Cannot create file "<full path>". <system error text>" when the
// file cannot be created, "Stream write error" when the system stores fewer bytes than given or
// reports an error on closing. Returns the number of characters written as "?".
std::size_t WriteRecordLog(const std::string& path, std::string_view text);

// The file name File > Save offers for a day's record log: the day's short date with every character
// that a file name cannot hold on the usual file systems (path separators, control characters and
// : * ? " < > |) replaced by "-", then " Zelb.csv". "12/08/26" gives "12-08-26 Zelb.csv" and
// "8.12.2026" gives "8.12.2026 Zelb.csv", whose extension is the right one.
std::string OfferedRecordLogName(std::string_view shortDate);

// A log file written line by line: each line goes to the system before WriteLine returns, so a
// killed writer loses nothing already written. Same encoding, line ends and errors as
// WriteRecordLog (the file is created or replaced by the constructor).
class LogFileWriter {
public:
    explicit LogFileWriter(const std::string& path);
    ~LogFileWriter();
    LogFileWriter(const LogFileWriter&) = delete;
    LogFileWriter& operator=(const LogFileWriter&) = delete;

    // One line, without its line end. Throws FileError("Stream write error").
    void WriteLine(std::string_view utf8Line);
    // Closes the file, reporting a failure that only the close shows (FileError "Stream write
    // error"). The destructor closes silently when Close was not called.
    void Close();
    std::size_t Unmappable() const { return m_unmappable; }

private:
    int m_fd = -1;
    std::string m_buffer;
    std::size_t m_unmappable = 0;
};

} // namespace varmio
