#pragma once
// The headless logger's side of the monitor: it stands in for the main window's slots, writes the
// record log and the raw log to files (Windows-1250, CR LF, each line handed to the system as it is
// logged) and the record log to an output stream (UTF-8), and keeps the date-time text as the
// window's clock would. Single-threaded: Feed, Finish and the accessors run on one thread.

#include "varmio/Display.h"
#include "varmio/Monitor.h"
#include "varmio/RecordLog.h"
#include "varmio/Regional.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace varmio::logger {

struct LogOptions {
    bool All = false;                     // the change-only box cleared: log every frame
    std::optional<std::string> Timestamp; // fixed date-time text in place of the clock's
    std::string RecordsPath;              // record log file; empty: none
    std::string RawPath;                  // raw log file; empty: none
};

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
};

class LogSession final : public IDisplay {
public:
    // Creates the log files (throws FileError) and writes the CSV header to the record log file
    // and to `out` (standard output; null for none).
    LogSession(const LogOptions& options, Regional regional, std::FILE* out, Clock clock = {});

    // Processes received bytes in order, after bringing the date-time text up to date; the record
    // lines logged reach `out` before it returns. Throws FileError when a file or `out` cannot be
    // written.
    void Feed(std::span<const std::uint8_t> bytes);
    // Closes the files and writes the summary line "Frames: N" to `out`. Throws FileError.
    void Finish();

    std::int64_t FrameCount() const { return m_monitor.FrameCount(); }
    // Characters written as "?" to the files, which cannot hold them.
    std::size_t Unmappable() const;

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
    void WriteOut(std::string_view line);
    void FlushOut();

    bool m_all;
    bool m_fixedTime;
    Regional m_regional;
    std::FILE* m_out;
    Clock m_clock;
    std::unique_ptr<LogFileWriter> m_records;
    std::unique_ptr<LogFileWriter> m_raw;
    std::string m_dateTimeText;
    std::chrono::steady_clock::time_point m_nextTick;
    std::array<std::array<bool, 8>, 2> m_checks{};
    Monitor m_monitor; // last: it refers to this display
};

} // namespace varmio::logger
