// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log on a serial port: a relay simulator's pseudo-terminal logged through the port
// component gives the logs a replay of the same bytes gives; stop signals close the port and leave
// complete files; a port that does not open, or that goes away, ends the logger with one line.

#include "LoggerProcess.h"
#include "LoggerReplay.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "varmio/relaysim/RelaySim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varmio {
namespace {

using test::Capture;
using test::Eventually;
using test::ExpectSameLogsAsReplay;
using test::kStamp;
using test::Lines;
using test::LoggerProcess;
using test::ReadFile;
using test::Result;
using test::TempDir;

// varmio-relay-sim as a child process; its first output line is the device to open.
class RelayProcess : public test::ChildProcess {
public:
    explicit RelayProcess(std::vector<std::string> args)
        : ChildProcess(VARMIO_RELAY_SIM, std::move(args), {"/dev/null", "", "-", false})
    {
    }
    // The device path it prints first; empty when it ends without one.
    std::string DevicePath() { return ReadLine(); }
};

class LoggerPortTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(LoggerPortTest, UnpacedCaptureThroughAPortLogsWhatItsReplayLogs)
{
    for (const char* name : {"atagone_cvlog.bin", "otgwfw_malformed_packets.bin"}) {
        SCOPED_TRACE(name);
        ExpectSameLogsAsReplay(Capture(name), relaysim::RelayOptions{},
                               [](const relaysim::RelaySimulator& relay) { return relay.DevicePath(); });
    }
}

TEST_F(LoggerPortTest, PortThatGoesAwayEndsTheLoggerWithOneLineAndKeepsWhatWasLogged)
{
    auto relay = std::make_unique<RelayProcess>(std::vector<std::string>{"--seed", "3", "--speed", "20"});
    const std::string device = relay->DevicePath();
    ASSERT_FALSE(device.empty());
    LoggerProcess logger(dir, {"--port", device, "--all", "--records", dir / "r.csv", "--raw", dir / "w.log"});
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "w.log")) >= 10; }));
    relay.reset(); // the device goes away under the logger

    const Result r = logger.Wait();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("varmio-log: lost port \"" + device + "\": ", 0), 0u) << r.err;
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    const std::string raw = ReadFile(dir / "w.log");
    const std::string records = ReadFile(dir / "r.csv");
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
    EXPECT_EQ(Lines(records), Lines(raw) + 1);
    EXPECT_EQ(r.out.substr(r.out.rfind("Frames: ")), "Frames: " + std::to_string(Lines(raw)) + "\n");
}

TEST_F(LoggerPortTest, StopSignalsCloseThePortAndLeaveCompleteLogs)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir round; // fresh files: a check must never see the last round's
        // A fast endless conversation, so that the signal lands while bytes are flowing.
        RelayProcess relay({"--seed", "7", "--speed", "40"});
        const std::string device = relay.DevicePath();
        ASSERT_FALSE(device.empty());
        LoggerProcess logger(round,
                             {"--port", device, "--all", "--records", round / "r.csv", "--raw", round / "w.log"});
        ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(round / "w.log")) >= 20; })) << "no frames logged";
        ::kill(logger.Pid(), signal);
        const Result r = logger.Wait();

        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string raw = ReadFile(round / "w.log");
        const std::string records = ReadFile(round / "r.csv");
        // Every line whole, one record per frame (--all), and the summary counts them all.
        EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
        EXPECT_EQ(records.substr(records.size() - 2), "\r\n");
        EXPECT_EQ(Lines(records), Lines(raw) + 1);
        EXPECT_EQ(r.out.substr(r.out.rfind("Frames: ")), "Frames: " + std::to_string(Lines(raw)) + "\n");
        EXPECT_EQ(Lines(r.out), Lines(records) + 1);

        // The port was closed, not left taken: another program opens it at once.
        LoggerProcess again(round, {"--port", device, "--raw", round / "again.log"});
        ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(round / "again.log")) >= 1; }));
        ::kill(again.Pid(), SIGTERM);
        EXPECT_EQ(again.Wait().exitCode, 0);
    }
}

TEST_F(LoggerPortTest, StopSignalsAtRandomMomentsOfAnUnpacedStreamEndTheLoggerWithWholeLines)
{
    // The stream: a capture sent as fast as the logger takes it. What the files must
    // be a prefix of: the logger's replay of the same bytes.
    const std::string capture = ReadFile(Capture("atagone_cvlog.bin"));
    ASSERT_TRUE(test::WriteFile(dir / "stream.bin", capture));
    const std::vector<std::string> logs = {"--all", "--timestamp", kStamp, "--quiet"};
    auto with = [&](std::vector<std::string> args, const TempDir& where) {
        args.insert(args.end(), logs.begin(), logs.end());
        for (const std::string& a : {std::string("--records"), where / "r.csv", std::string("--raw"), where / "w.log"})
            args.push_back(a);
        return args;
    };
    ASSERT_EQ(LoggerProcess(dir, with({"--replay", dir / "stream.bin"}, dir)).Wait().exitCode, 0);
    const std::string wholeRaw = ReadFile(dir / "w.log");
    const std::string wholeRecords = ReadFile(dir / "r.csv");

    std::mt19937 rng(20261208);
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    std::chrono::steady_clock::duration slowest{};
#if defined(__SANITIZE_THREAD__)
    const int rounds = 50; // a logger takes a second to start under ThreadSanitizer; its races show in fewer
#else
    const int rounds = 200;
#endif
    for (int round = 0; round < rounds && !HasFailure(); ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const TempDir files;
        relaysim::RelayOptions options;
        options.ReplayFile = dir / "stream.bin";
        options.Speed = relaysim::Pacer::kUnpaced;
        relaysim::RelaySimulator relay(options);
        relay.Start();
        LoggerProcess logger(files, with({"--port", relay.DevicePath()}, files));
        // A random moment while the stream flows: once the raw log has grown to a random size.
        const auto grown = static_cast<std::uintmax_t>(1 + rng() % 20000);
        ASSERT_TRUE(Eventually([&] {
            std::error_code ec;
            return std::filesystem::file_size(files / "w.log", ec) >= grown && !ec;
        })) << ReadFile(files / "w.log").size()
            << " of " << grown << " bytes; relay state " << static_cast<int>(relay.State()) << ", sent "
            << relay.BytesSent() << "; logger: " << logger.ChildProcess::Wait(std::chrono::milliseconds(0)) << " "
            << ReadFile(files / "stderr");
        const auto signalled = std::chrono::steady_clock::now();
        logger.Signal(signals[rng() % 3]);
        const int exitCode = logger.ChildProcess::Wait(std::chrono::seconds(10)); // one that hangs fails here
        slowest = std::max(slowest, std::chrono::steady_clock::now() - signalled);
        relay.Stop();

        ASSERT_EQ(exitCode, 0) << ReadFile(files / "stderr");
        const std::string raw = ReadFile(files / "w.log");
        const std::string records = ReadFile(files / "r.csv");
        EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
        EXPECT_TRUE(wholeRaw.compare(0, raw.size(), raw) == 0) << "the raw log is not a prefix of the replay's";
        EXPECT_TRUE(wholeRecords.compare(0, records.size(), records) == 0) << "nor is the record log";
        EXPECT_EQ(Lines(records), Lines(raw) + 1) << "the two files end at different frames";
    }
    RecordProperty("slowest_stop_ms",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()));
}

TEST_F(LoggerPortTest, DemoLogsTheBuiltInConversationUntilStopped)
{
    LoggerProcess logger(dir, {"--demo", "--raw", dir / "w.log"});
    // The conversation at the bus's pace: a request and its answer each second.
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "w.log")) >= 2; }));
    ::kill(logger.Pid(), SIGINT);
    const Result r = logger.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string raw = ReadFile(dir / "w.log");
    EXPECT_NE(raw.find("]  [0] :"), std::string::npos) << "the conversation begins with a status exchange: " << raw;
    EXPECT_EQ(r.out.substr(r.out.rfind("Frames: ")), "Frames: " + std::to_string(Lines(raw)) + "\n");
}

TEST_F(LoggerPortTest, PortThatDoesNotOpenFailsWithOneLineAndCreatesNoOutput)
{
    const Result missing = LoggerProcess(dir, {"--port", "no-such-tty", "--records", dir / "r.csv"}).Wait();
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "varmio-log: cannot open port \"no-such-tty\": Unable to open com port (Error: 2): No such "
                           "file or directory\n");
    EXPECT_EQ(missing.out, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "r.csv"));

    // A taken port: the relay's device opened by a first logger refuses a second one.
    RelayProcess relay({"--seed", "1"});
    const std::string device = relay.DevicePath();
    LoggerProcess first(dir, {"--port", device, "--raw", dir / "first.log"});
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "first.log")) >= 1; }));
    const Result second = LoggerProcess(dir, {"--port", device}).Wait();
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.err.rfind("varmio-log: cannot open port \"" + device + "\": Unable to open com port (Error: ", 0),
              0u)
        << second.err;
    EXPECT_EQ(Lines(second.err), 1u);
}

TEST_F(LoggerPortTest, LineSpeedOptionTakesRatesAndRefusesOtherText)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--port", "x", "--baud", "fast"},
                                               {"--port", "x", "--baud", "-9600"},
                                               {"--replay", "-", "--baud", "9600"},
                                               {"--port", "x", "--demo"}}) {
        const Result r = LoggerProcess(dir, args).Wait();
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
    }
    // A listed rate and a custom one both get as far as opening the port.
    for (const char* rate : {"9600", "31250"}) {
        const Result r = LoggerProcess(dir, {"--port", "no-such-tty", "--baud", rate}).Wait();
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("cannot open port"), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace varmio
