// varmio-log: the monitor without a window. Feeds bytes to the monitor core and writes the record
// log and the raw log as the window would save them, printing each record line as it is logged.
// The bytes come from a file (a replay), from a serial port, or from the built-in demo relay; a port
// is logged until Ctrl-C or SIGTERM, which close it and the files cleanly.

#include "ByteSource.h"
#include "LogSession.h"
#include "PortLogger.h"

#include "cport/NetPort.h"
#include "varmio/DemoRelay.h"

#include <CLI/CLI.hpp>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr const char* kProgram = "varmio-log";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& message, int code)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return code;
}

std::atomic<varmio::logger::PortLogger*> g_portLogger{nullptr};

extern "C" void OnStopSignal(int)
{
    if (varmio::logger::PortLogger* logger = g_portLogger.load()) logger->RequestStop();
}

// Ctrl-C and SIGTERM end the logging of a port cleanly, on whichever thread they land.
void HandleStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
}

void Report(const varmio::logger::LogSession& session)
{
    if (const std::size_t unmappable = session.Unmappable(); unmappable > 0) {
        std::fprintf(stderr, "%s: %zu characters that Windows-1250 cannot hold were written as \"?\"\n", kProgram,
                     unmappable);
    }
}

// Logs the port until a stop signal or a failure.
int LogPort(const std::string& portName, const varmio::LineSpeed& speed, const varmio::logger::LogOptions& options)
{
    using namespace varmio::logger;
    // The port first, so that one that does not open leaves existing output files alone.
    PortLogger logger(portName, speed);
    g_portLogger = &logger;
    struct Forget {
        ~Forget() { g_portLogger = nullptr; }
    } forget; // before the logger goes, however this ends
    HandleStopSignals();
    LogSession session(options, varmio::Regional::FromEnvironment(), stdout);
    try {
        logger.Run(session);
    } catch (...) {
        // The lines logged so far are kept: the files are closed complete before the error is told.
        try {
            session.Finish();
        } catch (...) {
        }
        throw;
    }
    session.Finish();
    Report(session);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace varmio::logger;

    CLI::App app("Logs OpenTherm relay traffic without a window: the record log (CSV) and the raw frame "
                 "log, as the monitor keeps them.",
                 kProgram);
    std::string replay;
    std::string port;
    bool demo = false;
    std::string baud;
    LogOptions options;
    std::string timestamp;
    auto* replayOption =
        app.add_option("--replay", replay, "Feed every byte of FILE to the monitor, in order (\"-\": standard input)")
            ->option_text("FILE");
    auto* portOption =
        app.add_option("--port", port,
                       "Log the serial port NAME (\"ttyUSB0\" under /dev, or a path; socket://HOST:PORT for a "
                       "raw TCP serial bridge, rfc2217://HOST:PORT for one that takes line settings) with the "
                       "monitor's line settings until Ctrl-C")
            ->option_text("NAME");
    auto* demoOption =
        app.add_flag("--demo", demo, "Log the built-in demo relay (a simulated thermostat and boiler) until Ctrl-C");
    app.add_option("--baud", baud, "Line speed of the port in bits per second (default 19200)")
        ->option_text("RATE")
        ->excludes(replayOption);
    replayOption->excludes(portOption)->excludes(demoOption);
    portOption->excludes(demoOption);
    app.add_option("--records", options.RecordsPath,
                   "Write the record log to FILE (Windows-1250, CR LF, header first), line by line")
        ->option_text("FILE");
    app.add_option("--raw", options.RawPath, "Write the raw frame log to FILE (Windows-1250, CR LF), line by line")
        ->option_text("FILE");
    app.add_flag("--all", options.All, "Log a record line for every frame, not only for changed records");
    app.add_option("--timestamp", timestamp, "Use TEXT as the date and time of every line instead of the clock")
        ->option_text("TEXT");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Fail(std::string(e.what()) + " (see --help)", kExitUsage);
    }
    if (app.count("--replay") + app.count("--port") + app.count("--demo") == 0)
        return Fail("one of --replay, --port and --demo is required (see --help)", kExitUsage);
    if (std::string problem; cport::IsNetPortName(port) && !cport::ParseNetPortName(port, &problem))
        return Fail("--port: " + problem, kExitUsage);
    if (app.count("--timestamp") > 0) options.Timestamp = timestamp;
    varmio::LineSpeed speed;
    if (!baud.empty()) {
        const std::optional<varmio::LineSpeed> parsed = varmio::ParseLineSpeed(baud);
        if (!parsed) return Fail("--baud: \"" + baud + "\" is not a line speed (see --help)", kExitUsage);
        speed = *parsed;
    }

    try {
        if (demo) {
            const varmio::DemoRelay relay;
            return LogPort(relay.PortName(), speed, options);
        }
        if (app.count("--port") > 0) return LogPort(port, speed, options);
        // The input first, so that an unreadable one leaves existing output files alone.
        std::unique_ptr<ByteSource> source = std::make_unique<FileSource>(replay);
        LogSession session(options, varmio::Regional::FromEnvironment(), stdout);
        std::array<std::uint8_t, 64 * 1024> buffer;
        while (const std::size_t got = source->Read(buffer)) session.Feed(std::span(buffer.data(), got));
        session.Finish();
        Report(session);
        return 0;
    } catch (const std::exception& e) {
        std::fflush(stdout);
        return Fail(e.what(), kExitFailure);
    }
}
