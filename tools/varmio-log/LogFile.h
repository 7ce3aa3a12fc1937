// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The logger's output files: the record log and the raw log, Windows-1250 text with CR LF line ends,
// each line handed to the system whole as it is logged. Standard output can stand in for one of them.
//
// Opening is careful with the user's files: every output is opened (new ones created) before any is
// truncated, so a run that cannot start leaves existing files as they were; an output that is the
// input, standard input or the other output is refused before anything is written. A write that fails
// (a full disk) cuts the file back to its last complete line, so a file never ends in half a line.
//
// Not synchronised: one thread per object.

#include "varmio/RecordLog.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace varmio::logger {

// A command line whose outputs would destroy the input or each other; what() is a one-line message.
// Nothing has been written when it is thrown.
class OutputClash : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LogFile {
public:
    // Takes `fd` (closed by Close or the destructor when `owned`). `name` names the file in messages;
    // `complete` is where its last complete line ends (its size, or where standard output stands);
    // `fresh`: the log starts here, not continued from an earlier run.
    LogFile(std::string name, int fd, bool owned, bool regular, std::size_t complete, bool fresh);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // One line, without its line end. Throws FileError "NAME: <the system's reason>", after cutting a
    // regular file back to its last complete line; a file that failed takes no more lines.
    void WriteLine(std::string_view utf8Line);
    // Closes the file; a failure that only the close shows is a FileError as above.
    void Close();

    // Whether the log starts here (a header belongs at its top) rather than continuing.
    bool Fresh() const { return m_fresh; }
    std::size_t Unmappable() const { return m_unmappable; }

private:
    [[noreturn]] void Fail(int error);

    std::string m_name;
    int m_fd;
    bool m_owned;
    bool m_regular;
    bool m_failed = false;
    bool m_fresh;
    std::size_t m_complete;
    std::size_t m_unmappable = 0;
    std::string m_buffer;
};

// What the command line asks for. A path "-" is standard output.
struct OutputRequest {
    std::string RecordsPath;   // empty: no record log file
    std::string RawPath;       // empty: no raw log file
    bool Append = false;       // continue existing files instead of replacing them
    bool EchoToStdout = false; // standard output shows the record lines as well
};

// A file the logger reads from: its name in messages and what fstat said of it.
struct InputFile {
    std::string Name;
    struct stat Info;
};

struct LogFiles {
    std::unique_ptr<LogFile> Records;
    std::unique_ptr<LogFile> Raw;
};

// Opens the outputs for writing: all of them, then compares them with each other, with `inputs` and
// (when echoing) with standard output, and only then truncates the existing ones (unless Append).
// Throws OutputClash, or FileError "Cannot create file "<full path>". <reason>" when one cannot be
// opened; either way files it created are removed and existing ones are left as they were.
LogFiles OpenLogFiles(const OutputRequest& request, const std::vector<InputFile>& inputs);

} // namespace varmio::logger
