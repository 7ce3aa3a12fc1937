// varmio-log on network ports: a capture replayed by the relay simulator behind its own raw TCP bridge
// (socket://) and behind the real ser2net (socket:// and rfc2217://) gives the logs a replay of the
// capture gives; a bridge killed mid-stream ends the logger with one line and keeps what was logged.

#include "LoggerProcess.h"
#include "support/NetTestSupport.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "varmio/relaysim/RelaySim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

namespace varmio {
namespace {

using test::LoggerProcess;
using test::ReadFile;
using test::Result;
using test::Ser2net;
using test::TempDir;

using test::Capture;
using test::Eventually;
using test::kStamp;
using test::Lines;

constexpr auto kPatience = std::chrono::seconds(60);

std::vector<std::string> WithOutputs(std::vector<std::string> args, const TempDir& where)
{
    for (const std::string& a : {std::string("--timestamp"), std::string(kStamp), std::string("--all"),
                                 std::string("--records"), where / "records.csv", std::string("--raw"), where / "raw.log"})
        args.push_back(a);
    return args;
}

// Logs the unpaced replay of `capture` through the port name `portOf(relay)` and compares every output
// with the logger's --replay of the same capture.
template <class PortOf>
void ExpectSameLogsAsReplay(const std::string& capture, relaysim::RelayOptions options, PortOf portOf)
{
    const TempDir portRun, replayRun;
    const Result replay = LoggerProcess(replayRun, WithOutputs({"--replay", capture}, replayRun)).Wait();
    ASSERT_EQ(replay.exitCode, 0) << replay.err;
    const std::string expectedRaw = ReadFile(replayRun / "raw.log");
    ASSERT_GT(Lines(expectedRaw), 30u);

    options.ReplayFile = capture;
    options.Speed = relaysim::Pacer::kUnpaced;
    relaysim::RelaySimulator relay(options);
    const std::string port = portOf(relay);
    ASSERT_FALSE(port.empty());
    relay.Start();
    // The relay (and its bridge) stays up until the logger is stopped, so nothing is left to a hang-up.
    LoggerProcess logger(portRun, WithOutputs({"--port", port}, portRun));
    EXPECT_TRUE(Eventually([&] { return ReadFile(portRun / "raw.log").size() >= expectedRaw.size(); }))
        << "the logger fell behind for good";
    EXPECT_TRUE(relay.WaitForState(relaysim::RelayState::Finished, kPatience));
    ::kill(logger.Pid(), SIGTERM);
    const Result logged = logger.Wait();

    EXPECT_EQ(logged.exitCode, 0) << logged.err;
    EXPECT_EQ(logged.err, "");
    EXPECT_TRUE(ReadFile(portRun / "raw.log") == expectedRaw) << "raw logs differ";
    EXPECT_TRUE(ReadFile(portRun / "records.csv") == ReadFile(replayRun / "records.csv")) << "record logs differ";
    EXPECT_TRUE(logged.out == replay.out) << "standard outputs differ";
}

TEST(LoggerNetTest, CaptureThroughTheSimulatorsTcpBridgeLogsWhatItsReplayLogs)
{
    relaysim::RelayOptions options;
    options.TcpPort = 0;
    ExpectSameLogsAsReplay(Capture("atagone_cvlog.bin"), options,
                           [](const relaysim::RelaySimulator& relay) { return relay.DevicePath(); });
}

class LoggerSer2netTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh)";
    }
    // Starts ser2net in front of the relay's pseudo-terminal; the port name of the kind asked for.
    std::string Bridge(const relaysim::RelaySimulator& relay, bool rfc2217)
    {
        bridge = std::make_unique<Ser2net>(relay.DevicePath(), "19200n81");
        if (!bridge->Running()) return {};
        return std::string(rfc2217 ? "rfc2217" : "socket") + "://127.0.0.1:" +
               std::to_string(rfc2217 ? bridge->Rfc2217Port() : bridge->RawPort());
    }
    std::unique_ptr<Ser2net> bridge;
};

TEST_F(LoggerSer2netTest, CaptureThroughSer2netLogsWhatItsReplayLogs)
{
    for (const bool rfc2217 : {true, false}) {
        SCOPED_TRACE(rfc2217 ? "rfc2217" : "raw");
        ExpectSameLogsAsReplay(Capture("otgwfw_malformed_packets.bin"), {},
                               [&](const relaysim::RelaySimulator& relay) { return Bridge(relay, rfc2217); });
        bridge.reset();
    }
}

TEST_F(LoggerSer2netTest, KillingTheBridgeMidStreamEndsTheLoggerWithOneLineAndKeepsWhatWasLogged)
{
    TempDir dir;
    relaysim::RelayOptions options;
    options.Seed = 5;
    options.Speed = 20;
    relaysim::RelaySimulator relay(options);
    const std::string port = Bridge(relay, true);
    ASSERT_FALSE(port.empty()) << "ser2net did not start";
    relay.Start();
    LoggerProcess logger(dir, {"--port", port, "--all", "--records", dir / "r.csv", "--raw", dir / "w.log"});
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "w.log")) >= 10; }));
    bridge->Stop(true);

    const Result r = logger.Wait();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("varmio-log: lost port \"" + port + "\": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Connection reset by peer"), std::string::npos) << r.err;
    EXPECT_EQ(Lines(r.err), 1u) << r.err;
    const std::string raw = ReadFile(dir / "w.log");
    const std::string records = ReadFile(dir / "r.csv");
    EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
    EXPECT_EQ(Lines(records), Lines(raw) + 1);
    EXPECT_EQ(r.out.substr(r.out.rfind("Frames: ")), "Frames: " + std::to_string(Lines(raw)) + "\n");
}

TEST(LoggerNetTest, NetworkPortsThatCannotOpenEndTheLoggerWithOneClearLine)
{
    TempDir dir;
    const std::uint16_t closed = test::FreeLoopbackPort();
    const struct {
        std::string port;
        const char* says;
    } cases[] = {
        {"socket://127.0.0.1:" + std::to_string(closed), "Unable to open com port (Error: 111): Connection refused"},
        {"rfc2217://127.0.0.1", "the TCP port number is missing"},
        {"telnet://127.0.0.1:23", "unknown kind of network port \"telnet\""},
    };
    for (const auto& c : cases) {
        const Result r = LoggerProcess(dir, {"--port", c.port, "--raw", dir / "raw.log"}).Wait();
        EXPECT_NE(r.exitCode, 0) << c.port;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "raw.log")) << c.port;
    }
}

} // namespace
} // namespace varmio
