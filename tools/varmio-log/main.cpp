// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log: the monitor without a window. Feeds bytes to the monitor core and writes the record
// log and the raw log as the window would save them, showing each record line on standard output.
// The bytes come from a file (a replay), from a serial port, or from the built-in demo relay; SIGINT
// (Ctrl-C), SIGTERM and SIGHUP end the logging cleanly, with complete files and the summary.
//
// The files are the record and the user's files are not ours: outputs that would overwrite the input
// or each other are refused before anything is opened for writing, a run that cannot start leaves
// existing files as they were, and standard output never holds up the files.

#include "ByteSource.h"
#ifdef VARMIO_LOG_CHART
#include "ChartOutput.h"
#endif
#include "Echo.h"
#include "LogFile.h"
#include "LogSession.h"
#include "MqttOptions.h"
#include "PortLogger.h"
#include "StopSignals.h"

#include "cport/NetPort.h"
#include "varmio/DemoRelay.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace varmio::logger;

constexpr const char* kProgram = "varmio-log";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& message, int code)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return code;
}

// What the command line asks for.
struct Settings {
    std::string Replay;
    std::string Port;
    bool Demo = false;
    varmio::LineSpeed Speed;
    LogOptions Log;
    OutputRequest Outputs;
    bool Quiet = false;
    bool Reconnect = false;
    std::optional<varmio::mqtt::PublisherOptions> Publishing; // --mqtt
    std::string ChartPath;                                    // --chart: empty for none
};

// Why the chart cannot go to the path --chart gives, empty when it can: it must not take the place
// of the input or of a log.
std::string ChartPathProblem(const Settings& settings)
{
    const std::string& chart = settings.ChartPath;
    if (chart.empty() || chart == "-") return "the picture needs a file name";
    const auto same = [&chart](const std::string& other) {
        if (other.empty() || other == "-") return false;
        std::error_code ignored;
        return std::filesystem::weakly_canonical(chart, ignored) == std::filesystem::weakly_canonical(other, ignored) ||
               std::filesystem::equivalent(chart, other, ignored);
    };
    if (same(settings.Replay)) return "\"" + chart + "\" is the input";
    if (same(settings.Outputs.RecordsPath)) return "\"" + chart + "\" is the record log";
    if (same(settings.Outputs.RawPath)) return "\"" + chart + "\" is the raw log";
    return {};
}

// Standard descriptors that are closed are taken by /dev/null, so that no file opened later becomes
// "standard output" by accident. Returns whether standard input was closed.
bool OccupyStandardDescriptors()
{
    bool inputClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == 0) inputClosed = true;
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return inputClosed;
}

// Logs from `feed` into the files and the echo (null when standard output shows nothing), then
// closes everything and reports. What `feed` throws is thrown on after the files are closed complete
// and the echo has written what it holds.
int Log(const Settings& settings, const std::vector<InputFile>& inputs, StopSignals& signals,
        const std::function<void(LogSession&, StdoutEcho*)>& feed)
{
    LogFiles files = OpenLogFiles(settings.Outputs, inputs);
    std::unique_ptr<StdoutEcho> echo;
    if (settings.Outputs.EchoToStdout) echo = std::make_unique<StdoutEcho>(STDOUT_FILENO);
    // Started once the files are open: the broker never decides whether a run can start.
    std::optional<varmio::mqtt::Publisher> publisher;
    if (settings.Publishing) publisher.emplace(*settings.Publishing);
    const varmio::Regional regional = varmio::Regional::FromEnvironment();
    LogSession session(settings.Log, regional, std::move(files), echo.get());
    if (publisher) session.SetOnFrame([&](const varmio::Frame& frame) { publisher->Post(frame); });

    std::exception_ptr failure;
    try {
        feed(session, echo.get());
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        session.Finish();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (publisher) publisher->Finish(); // what it holds, then "offline"; bounded when the broker is slow
    int code = 0;
    if (echo) {
        // A reader that stalls for good is given up on at a further stop signal.
        echo->Drain(signals.Fd());
        if (const std::uint64_t dropped = echo->Dropped(); dropped > 0) {
            std::fprintf(stderr,
                         "%s: %llu lines were not shown on standard output, which did not keep up (the files "
                         "have them all)\n",
                         kProgram, static_cast<unsigned long long>(dropped));
        }
        if (const int error = echo->Error(); error != 0) {
            code = Fail(std::string("standard output: ") + std::strerror(error), kExitFailure);
        }
        // JSON Lines hold objects only: the summary goes beside them.
        if (settings.Log.Output == OutputFormat::Json)
            std::fprintf(stderr, "Frames: %lld\n", static_cast<long long>(session.FrameCount()));
    }
    if (const std::size_t unmappable = session.Unmappable(); unmappable > 0) {
        std::fprintf(stderr, "%s: %zu characters that Windows-1250 cannot hold were written as \"?\"\n", kProgram,
                     unmappable);
    }
#ifdef VARMIO_LOG_CHART
    // The chart of whatever was logged, a run that failed included.
    if (const varmio::TrendStore* trends = session.Trends(); trends != nullptr) {
        try {
            WriteChartPng(*trends, regional, settings.ChartPath);
        } catch (const std::exception& e) {
            code = Fail(std::string("--chart: ") + e.what(), kExitFailure);
        }
    }
#endif
    if (failure) std::rethrow_exception(failure);
    return code;
}

// Replays the file until its end or a stop signal.
int LogReplay(const Settings& settings, StopSignals& signals)
{
    // The input first, so that an unreadable one leaves existing output files alone.
    FileSource source(settings.Replay);
    return Log(settings, {{"the input (" + source.Name() + ")", source.Info()}}, signals,
               [&](LogSession& session, StdoutEcho* echo) {
                   std::array<std::uint8_t, 64 * 1024> buffer;
                   pollfd waits[2] = {{source.Fd(), POLLIN, 0}, {signals.Fd(), POLLIN, 0}};
                   for (;;) {
                       // Decoded lines are never dropped: the replay keeps the pace of standard output's reader.
                       if (echo != nullptr && settings.Log.KeepDecodedLines) echo->WaitForRoom(signals.Fd());
                       if (::poll(waits, 2, -1) < 0 && errno != EINTR) throw SourceError(std::strerror(errno));
                       if ((waits[1].revents & POLLIN) != 0 && signals.Take() != 0) return;
                       if (waits[0].revents == 0) continue;
                       const std::size_t got = source.Read(buffer);
                       if (got == 0) return;
                       session.Feed(std::span(buffer.data(), got));
                   }
               });
}

// Waits `delay` for a stop signal; false when one came.
bool WaitOutStop(StopSignals& signals, std::chrono::milliseconds delay)
{
    const auto deadline = std::chrono::steady_clock::now() + delay;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait{signals.Fd(), POLLIN, 0};
        const int n = ::poll(&wait, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
        if (n > 0 && signals.Take() != 0) return false;
        if (n == 0) return true;
    }
}

// Logs the port until a stop signal or a failure. With --reconnect, a port that goes away or does not
// open is tried again after a pause that starts at 1 s and doubles up to 30 s; each loss and each
// return is told on standard error, the files stay open, and the records go on after the gap.
int LogPort(const std::string& portName, const Settings& settings, StopSignals& signals)
{
    if (!settings.Reconnect) {
        // The port first, so that one that does not open leaves existing output files alone.
        PortLogger logger(portName, settings.Speed);
        return Log(settings, {}, signals, [&](LogSession& session, StdoutEcho*) {
            const StopSignalWatch watch(signals, [&] { logger.RequestStop(); });
            logger.Run(session);
        });
    }
    constexpr std::chrono::milliseconds kFirstPause{1000};
    constexpr std::chrono::milliseconds kLongestPause{30'000};
    return Log(settings, {}, signals, [&](LogSession& session, StdoutEcho*) {
        std::chrono::milliseconds pause = kFirstPause;
        bool away = false; // a loss has been told, and no return since
        for (;;) {
            std::string why;
            try {
                PortLogger logger(portName, settings.Speed);
                if (away) std::fprintf(stderr, "%s: port \"%s\" is back\n", kProgram, portName.c_str());
                away = false;
                pause = kFirstPause;
                std::atomic<bool> stopped{false};
                try {
                    const StopSignalWatch watch(signals, [&] {
                        stopped = true;
                        logger.RequestStop();
                    });
                    logger.Run(session);
                    return; // stopped
                } catch (const SourceError& e) {
                    if (stopped) return; // the stop came first: no reason to try again
                    why = e.what();
                }
            } catch (const SourceError& e) {
                if (why.empty()) why = e.what(); // the port did not open
            }
            if (!away) std::fprintf(stderr, "%s: %s; trying again\n", kProgram, why.c_str());
            away = true;
            if (!WaitOutStop(signals, pause)) return;
            pause = std::min(pause * 2, kLongestPause);
        }
    });
}

} // namespace

int main(int argc, char** argv)
{
    const bool inputClosed = OccupyStandardDescriptors();
    // Before any thread starts: stop signals become events to wait on.
    std::optional<StopSignals> signals;
    try {
        signals.emplace();
    } catch (const std::exception& e) {
        return Fail(e.what(), kExitFailure);
    }
    // A reader of standard output that goes away, or a file size limit, is an error to report, not
    // the end of the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);

    CLI::App app("Logs OpenTherm relay traffic without a window: the record log (CSV) and the raw frame "
                 "log, as the monitor keeps them.",
                 kProgram);
    Settings settings;
    std::string baud;
    std::string timestamp;

    // Where the bytes come from.
    auto* replayOption = app.add_option("--replay", settings.Replay,
                                        "Feed every byte of FILE to the monitor, in order (\"-\": standard input)")
                             ->option_text("FILE");
    auto* portOption =
        app.add_option("--port", settings.Port,
                       "Log the serial port NAME (\"ttyUSB0\" under /dev, or a path; socket://HOST:PORT for a "
                       "raw TCP serial bridge, rfc2217://HOST:PORT for one that takes line settings) with the "
                       "monitor's line settings until Ctrl-C")
            ->option_text("NAME");
    auto* demoOption = app.add_flag("--demo", settings.Demo,
                                    "Log the built-in demo relay (a simulated thermostat and boiler) until Ctrl-C");
    app.add_option("--baud", baud, "Line speed of the port in bits per second (default 19200)")
        ->option_text("RATE")
        ->excludes(replayOption);
    replayOption->excludes(portOption)->excludes(demoOption);
    portOption->excludes(demoOption);
    app.add_flag("--reconnect", settings.Reconnect,
                 "Keep logging through a port that goes away or does not open: try it again after 1 s, then "
                 "after twice as long each time up to 30 s, telling each loss and return on standard error")
        ->excludes(replayOption);

    // Where the lines go.
    app.add_option("--records", settings.Outputs.RecordsPath,
                   "Write the record log to FILE (Windows-1250, CR LF, header first), line by line "
                   "(\"-\": standard output)")
        ->option_text("FILE");
    app.add_option("--raw", settings.Outputs.RawPath,
                   "Write the raw frame log to FILE (Windows-1250, CR LF), line by line (\"-\": standard output)")
        ->option_text("FILE");
    app.add_flag("--append", settings.Outputs.Append,
                 "Continue existing log files instead of replacing them (the header only in a new or empty one)");
    auto* quietOption =
        app.add_flag("--quiet", settings.Quiet, "Do not show the record lines and the summary on standard output");
    bool decode = false;
    bool json = false;
    auto* decodeOption = app.add_flag("--decode", decode,
                                      "Show every frame decoded, one readable line each, instead of the record lines");
    auto* jsonOption = app.add_flag("--json", json,
                                    "Show every frame decoded as one JSON object per line (JSON Lines) instead of "
                                    "the record lines; the summary goes to standard error");
    decodeOption->excludes(jsonOption)->excludes(quietOption);
    jsonOption->excludes(quietOption);
    CLI::Option* chartOption = nullptr;
#ifdef VARMIO_LOG_CHART
    chartOption =
        app.add_option("--chart", settings.ChartPath,
                       "When the logging ends, draw the chart of the values over the run into the PNG picture FILE "
                       "(no display needed)")
            ->option_text("FILE");
#endif

    // What the lines say.
    app.add_flag("--all", settings.Log.All, "Log a record line for every frame, not only for changed records");
    app.add_option("--timestamp", timestamp,
                   "Use TEXT (\"DATE; TIME\") as the date and time of every line instead of the clock")
        ->option_text("TEXT");

    // Where the values are published.
    MqttSettings mqtt;
    AddMqttOptions(app, mqtt);

    app.set_config("--config", "",
                   "Read options from the ini FILE: NAME = VALUE lines, NAME a long option without its dashes "
                   "(\"mqtt = broker.lan\", \"all = true\"); options on the command line win")
        ->option_text("FILE");
    app.config_formatter(std::make_shared<CLI::ConfigINI>());

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Fail(std::string(e.what()) + " (see --help)", kExitUsage);
    }
    if (app.count("--replay") + app.count("--port") + app.count("--demo") == 0)
        return Fail("one of --replay, --port and --demo is required (see --help)", kExitUsage);
    if (std::string problem; cport::IsNetPortName(settings.Port) && !cport::ParseNetPortName(settings.Port, &problem))
        return Fail("--port: " + problem, kExitUsage);
    if (app.count("--timestamp") > 0) {
        if (const std::string problem = varmio::logger::TimestampProblem(timestamp); !problem.empty())
            return Fail("--timestamp: the text " + problem + " (see --help)", kExitUsage);
        settings.Log.Timestamp = timestamp;
    }
    if (!baud.empty()) {
        const std::optional<varmio::LineSpeed> parsed = varmio::ParseLineSpeed(baud);
        if (!parsed) return Fail("--baud: \"" + baud + "\" is not a line speed (see --help)", kExitUsage);
        settings.Speed = *parsed;
    }
    const bool recordsToStdout = settings.Outputs.RecordsPath == "-";
    const bool rawToStdout = settings.Outputs.RawPath == "-";
    if (recordsToStdout && rawToStdout)
        return Fail("--records and --raw cannot both be standard output (see --help)", kExitUsage);
    if ((decode || json) && (recordsToStdout || rawToStdout))
        return Fail(std::string(decode ? "--decode" : "--json") +
                        " shows on standard output, which a log given as \"-\" already takes (see --help)",
                    kExitUsage);
    if (chartOption != nullptr && chartOption->count() > 0) {
        if (const std::string problem = ChartPathProblem(settings); !problem.empty())
            return Fail("--chart: " + problem + " (see --help)", kExitUsage);
        settings.Log.KeepTrends = true;
    }
    settings.Log.Output = json ? OutputFormat::Json : decode ? OutputFormat::Decoded : OutputFormat::Records;
    settings.Log.KeepDecodedLines = app.count("--replay") > 0;
    // Standard output carrying a log shows nothing else.
    settings.Outputs.EchoToStdout = !settings.Quiet && !recordsToStdout && !rawToStdout;
    try {
        settings.Publishing = PublisherOptionsOf(mqtt, kProgram);
    } catch (const MqttUsageError& e) {
        return Fail(std::string(e.what()) + " (see --help)", kExitUsage);
    }

    try {
        if (settings.Demo) {
            const varmio::DemoRelay relay;
            return LogPort(relay.PortName(), settings, *signals);
        }
        if (app.count("--port") > 0) return LogPort(settings.Port, settings, *signals);
        if (settings.Replay == "-" && inputClosed)
            return Fail(std::string("cannot read standard input: ") + std::strerror(EBADF), kExitFailure);
        return LogReplay(settings, *signals);
    } catch (const OutputClash& e) {
        return Fail(e.what(), kExitUsage);
    } catch (const std::exception& e) {
        return Fail(e.what(), kExitFailure);
    }
}
