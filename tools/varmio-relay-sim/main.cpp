// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-relay-sim: a relay on a pseudo-terminal, or behind a raw TCP bridge on 127.0.0.1 (--tcp).
// Prints the device path (or the bridge's port name) as its first line, waits for a program to open
// the device (or connect), then sends the built-in thermostat/boiler conversation or replays a capture.
// Ctrl-C (or SIGTERM, SIGHUP, SIGPIPE) ends it cleanly, removing the link it made if it is still ours.

#include "varmio/relaysim/RelaySim.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <system_error>

namespace {

constexpr const char* kProgram = "varmio-relay-sim";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int Fail(const std::string& message, int code)
{
    std::cerr << kProgram << ": " << message << '\n';
    return code;
}

// A stop that comes before the simulator exists is kept for it. The handler only reads and writes
// lock-free atomics and RequestStop writes an eventfd: all async-signal-safe.
std::atomic<bool> g_stopRequested{false};
std::atomic<varmio::relaysim::RelaySimulator*> g_simulator{nullptr};

extern "C" void OnSignal(int)
{
    g_stopRequested = true;
    if (auto* simulator = g_simulator.load()) simulator->RequestStop();
}

// Installed before the link is made, so that no stop signal can end the program with the link left
// behind. SIGPIPE too: a reader of the device path that goes away ends the run the same way.
void HandleStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &action, nullptr);
}

int Run(int argc, char** argv)
{
    namespace rs = varmio::relaysim;

    CLI::App app{"Simulates an OpenTherm relay on a pseudo-terminal: prints the device path, waits until a\n"
                 "program opens it, then sends 7-byte relay packets (a thermostat/boiler conversation,\n"
                 "or a capture replayed).",
                 "varmio-relay-sim"};
    std::string replay;
    bool loop = false;
    double speed = 1.0;
    bool unpaced = false;
    std::string link;
    bool forceLink = false;
    std::uint16_t tcpPort = 0;
    std::uint64_t seed = std::random_device{}();
    auto* replayOption = app.add_option("--replay", replay, "Replay this capture of relay packets")->type_name("FILE");
    app.add_flag("--loop", loop, "Replay the capture over and over")->needs(replayOption);
    auto* speedOption =
        app.add_option("--speed", speed, "Pace at this many times the bus's pace (default 1)")
            ->type_name("FACTOR")
            ->check(CLI::Validator(
                [](std::string& text) -> std::string {
                    char* end = nullptr;
                    const double value = std::strtod(text.c_str(), &end);
                    const bool whole = end != text.c_str() && *end == '\0';
                    return whole && std::isfinite(value) && value > 0 ? "" : "must be a positive number";
                },
                "POSITIVE"));
    app.add_flag("--unpaced", unpaced, "Send as fast as the reader takes the bytes")->excludes(speedOption);
    auto* linkOption =
        app.add_option("--link", link, "Make a symbolic link to the device at PATH, which must not exist yet")
            ->type_name("PATH");
    app.add_flag("--force-link", forceLink,
                 "Replace a symbolic link already at the --link PATH (never a file or folder)")
        ->needs(linkOption);
    app.add_option("--tcp", tcpPort,
                   "Serve the stream as a raw TCP serial bridge on 127.0.0.1:PORT instead of a pseudo-terminal "
                   "(0: a free port; the first line then names it as socket://127.0.0.1:PORT)")
        ->type_name("PORT")
        ->excludes(linkOption);
    app.add_option("--seed", seed, "Seed of the conversation (default: random)")->excludes(replayOption);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        return Fail(std::string(e.what()) + " (see --help)", kExitUsage);
    }

    try {
        rs::RelayOptions options;
        if (replayOption->count() > 0) options.ReplayFile = replay;
        options.Loop = loop;
        options.Speed = unpaced ? rs::Pacer::kUnpaced : speed;
        options.LinkPath = link;
        options.ForceLink = forceLink;
        if (app.count("--tcp") > 0) options.TcpPort = tcpPort;
        options.Seed = seed;
        options.StartTimeOfDay = rs::LocalTimeOfDay();
        HandleStopSignals();
        rs::RelaySimulator simulator(options);
        g_simulator = &simulator;
        struct Unpublish {
            ~Unpublish() { g_simulator = nullptr; }
        } unpublish; // before the simulator goes, however Run() ends
        if (g_stopRequested) simulator.RequestStop();
        std::cout << simulator.DevicePath() << std::endl;
        simulator.Run();
        return 0; // a finished replay, or stopped by a signal
    } catch (const std::system_error& e) {
        if (!link.empty() && !forceLink && e.code() == std::errc::file_exists)
            return Fail(std::string(e.what()) + " (--force-link replaces a symbolic link there)", kExitFailure);
        return Fail(e.what(), kExitFailure);
    } catch (const std::exception& e) {
        return Fail(e.what(), kExitFailure);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Run catches what the simulator throws; what is left (no source of randomness for the seed, no
    // memory while the options are being set up) still ends the program with one line.
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        return Fail(e.what(), kExitFailure);
    } catch (...) {
        return Fail("unexpected failure", kExitFailure);
    }
}
