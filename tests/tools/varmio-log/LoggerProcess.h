// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// varmio-log run as a child process with LC_ALL=C, its output and errors caught in files.

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace varmio::test {

using Result = ChildResult;

// The date-time text the tests hand the logger with --timestamp.
inline constexpr const char* kStamp = "7.12.2026; 13:05:20";

// The path of a committed relay capture.
inline std::string Capture(const std::string& name)
{
    return (std::filesystem::path(VARMIO_SOURCE_DIR) / "data/captures/relay7" / name).string();
}

// The number of complete lines in `text`.
inline std::size_t Lines(const std::string& text)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Starts the logger with LC_ALL=C, standard input from `input` (a path), output and errors to files
// in `dir`.
class LoggerProcess : public ChildProcess {
public:
    LoggerProcess(const TempDir& dir, std::vector<std::string> args, const std::string& input = "/dev/null")
        : ChildProcess(VARMIO_LOG_PROGRAM, std::move(args), {input, dir / "stdout", dir / "stderr", true})
    {
    }
    // Waits for the logger to end; its exit code and what it wrote.
    Result Wait() { return Finish(); }
};

} // namespace varmio::test
