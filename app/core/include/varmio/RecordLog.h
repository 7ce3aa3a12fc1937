#pragma once
// Record-log files: Windows-1250 text, every line ended by CR LF.

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varmio {

// A failure writing a log file; what() is the message shown to the user.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// UTF-8 to Windows-1250; a character that Windows-1250 cannot hold becomes "?" and is counted.
std::string ToWindows1250(std::string_view utf8, std::size_t* unmappable = nullptr);

// Writes `text` (the record log's whole text, lines separated by LF or CR LF) to `path`, creating or
// replacing the file. Throws FileError: "Cannot create file "<full path>". <system error text>" when the
// file cannot be created, "Stream write error" when fewer bytes are stored than given.
// Returns the number of characters written as "?".
std::size_t WriteRecordLog(const std::string& path, std::string_view text);

// A log file written line by line and flushed after each line, so a killed writer loses nothing
// already written. Same encoding, line ends and errors as WriteRecordLog.
class LogFileWriter {
public:
    explicit LogFileWriter(const std::string& path);
    ~LogFileWriter();
    LogFileWriter(const LogFileWriter&) = delete;
    LogFileWriter& operator=(const LogFileWriter&) = delete;

    void WriteLine(std::string_view utf8Line);
    std::size_t Unmappable() const { return m_unmappable; }

private:
    std::FILE* m_file = nullptr;
    std::string m_buffer;
    std::size_t m_unmappable = 0;
};

} // namespace varmio
