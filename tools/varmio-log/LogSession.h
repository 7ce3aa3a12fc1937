// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The headless logger's side of the monitor: it stands in for the main window's slots, writes the
// record log and the raw log to their files (each line handed to the system as it is logged), shows
// the record lines on a line sink (standard output, UTF-8), and keeps the date-time text as the
// window's clock would. Single-threaded: Feed, Finish and the accessors run on one thread.

#include "DecodedOutput.h"
#include "Echo.h"
#include "LogFile.h"

#include "varmio/Display.h"
#include "varmio/Monitor.h"
#include "varmio/RecordLog.h"
#include "varmio/Regional.h"
#include "varmio/TrendStore.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

namespace varmio::logger {

struct LogOptions {
    bool All = false;                     // the change-only box cleared: log every frame
    std::optional<std::string> Timestamp; // fixed date-time text in place of the clock's
    // What the echo shows: the record log, or every frame decoded (a readable line or JSON). The
    // decoded lines replace the header, the record lines and, for JSON, the summary.
    OutputFormat Output = OutputFormat::Records;
    // The decoded lines are never dropped (a replay, whose feeder waits for room); otherwise they
    // are dropped like record lines when standard output does not keep up.
    bool KeepDecodedLines = false;
    // Keep the values over time in a trend store (for a chart of the run), stamped with the wall
    // clock as each batch of bytes arrives.
    bool KeepTrends = false;
};

// Why `text` cannot stand in for the clock's date and time, empty when it can. It fills the record
// log's Date and Time columns, so it is a date and a time separated by "; " as the clock's text is,
// with no other ";" and no control character (a line break would split the line).
std::string TimestampProblem(std::string_view text);

// The clock the date-time text comes from; the tests put in their own.
struct Clock {
    std::function<std::chrono::steady_clock::time_point()> Steady = [] { return std::chrono::steady_clock::now(); };
    // One reading of the local date and time.
    std::function<std::tm()> Local = [] {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        return t;
    };
    // The moment bytes arrive, for the trend store.
    std::function<std::chrono::system_clock::time_point()> Wall = [] { return std::chrono::system_clock::now(); };
};

class LogSession final : public IDisplay {
public:
    // Writes the CSV header to the record log file (unless it continues an earlier log) and to `echo`
    // (null for none). Throws FileError.
    LogSession(const LogOptions& options, Regional regional, LogFiles files, LineSink* echo, Clock clock = {});

    // Processes received bytes in order, after bringing the date-time text up to date; the lines
    // logged are in the files, and given to `echo`, before it returns. Throws FileError when a file
    // cannot be written.
    void Feed(std::span<const std::uint8_t> bytes);
    // Closes the files and gives the summary line "Frames: N" to `echo`, except with JSON output,
    // whose lines are objects only (the caller tells the summary elsewhere). Throws FileError.
    void Finish();

    std::int64_t FrameCount() const { return m_monitor.FrameCount(); }
    // Called with every frame after the monitor's own work on it and after its decoded line (see
    // Monitor::SetOnFrame); must not feed bytes back.
    void SetOnFrame(Monitor::FrameEvent handler) { m_onFrame = std::move(handler); }
    // Characters written as "?" to the files, which cannot hold them.
    std::size_t Unmappable() const;
    // The values over time, when kept (LogOptions::KeepTrends); null otherwise.
    const TrendStore* Trends() const { return m_trends.get(); }

    // IDisplay. There are no boxes to show, so box texts go nowhere.
    void SetBoxText(Box, std::string_view) override {}
    bool IsChecked(StatusList list, int item) const override;
    void SetChecked(StatusList list, int item, bool checked) override;
    void AppendRawLog(std::string_view line) override;
    void AppendRecordLog(std::string_view line) override;
    bool ChangesOnly() const override { return !m_all; }
    std::string_view DateTimeText() const override { return m_dateTimeText; }

private:
    void Tick();
    void EchoDecoded(const Frame& frame);
    void OnFrame(const Frame& frame);

    bool m_all;
    bool m_fixedTime;
    Regional m_regional;
    Clock m_clock;
    std::unique_ptr<LogFile> m_records;
    std::unique_ptr<LogFile> m_raw;
    LineSink* m_echo;
    OutputFormat m_output;
    bool m_keepDecoded;
    bool m_echoDecoded = false;
    Monitor::FrameEvent m_onFrame;
    std::unique_ptr<TrendStore> m_trends;
    TrendTime m_receiveTime{};
    std::string m_dateTimeText;
    std::chrono::steady_clock::time_point m_nextTick;
    std::array<std::array<bool, 8>, 2> m_checks{};
    Monitor m_monitor; // last: it refers to this display
};

} // namespace varmio::logger
