// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log on network ports: a capture replayed by the relay simulator behind its own raw TCP bridge
// (socket://) and behind the real ser2net (socket:// and rfc2217://) gives the logs a replay of the
// capture gives; a bridge killed mid-stream ends the logger with one line and keeps what was logged,
// or, with --reconnect, is waited for and logged on in the same files.

#include "LoggerProcess.h"
#include "LoggerReplay.h"
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
using test::ExpectSameLogsAsReplay;
using test::Lines;

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
        return std::string(rfc2217 ? "rfc2217" : "socket") +
               "://127.0.0.1:" + std::to_string(rfc2217 ? bridge->Rfc2217Port() : bridge->RawPort());
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

TEST_F(LoggerSer2netTest, WithReconnectABridgeKilledAndRestartedIsLoggedOnInTheSameFiles)
{
    TempDir dir;
    relaysim::RelayOptions options;
    options.Seed = 5;
    options.Speed = 20;
    relaysim::RelaySimulator relay(options);
    const std::string port = Bridge(relay, true);
    ASSERT_FALSE(port.empty()) << "ser2net did not start";
    relay.Start();
    LoggerProcess logger(dir,
                         {"--port", port, "--reconnect", "--all", "--records", dir / "r.csv", "--raw", dir / "w.log"});
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "w.log")) >= 10; }));
    bridge->Stop(true);
    ASSERT_TRUE(Eventually([&] { return ReadFile(dir / "stderr").find("trying again") != std::string::npos; }));
    const std::size_t beforeGap = Lines(ReadFile(dir / "w.log"));
    ASSERT_TRUE(bridge->Restart());
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "w.log")) >= beforeGap + 10; }))
        << "logging did not resume";
    logger.Signal(SIGTERM);

    const Result r = logger.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The loss once, with its reason, and the return once.
    EXPECT_EQ(r.err.rfind("varmio-log: lost port \"" + port + "\": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("Connection reset by peer; trying again\nvarmio-log: port \"" + port + "\" is back\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Lines(r.err), 2u) << r.err;
    const std::string raw = ReadFile(dir / "w.log");
    EXPECT_EQ(Lines(ReadFile(dir / "r.csv")), Lines(raw) + 1) << "one header, then a record per frame, gap or not";
    EXPECT_EQ(r.out.substr(r.out.rfind("Frames: ")), "Frames: " + std::to_string(Lines(raw)) + "\n");
}

TEST(LoggerNetTest, WithReconnectAPortThatDoesNotOpenYetIsTriedAgainUntilItDoes)
{
    TempDir dir;
    const std::uint16_t tcpPort = test::FreeLoopbackPort();
    const std::string port = "socket://127.0.0.1:" + std::to_string(tcpPort);
    LoggerProcess logger(dir, {"--port", port, "--reconnect", "--all", "--raw", dir / "w.log"});
    ASSERT_TRUE(Eventually([&] { return ReadFile(dir / "stderr").find("trying again") != std::string::npos; }));
    EXPECT_TRUE(std::filesystem::exists(dir / "w.log")) << "the files are open from the start";
    relaysim::RelayOptions options;
    options.TcpPort = tcpPort;
    options.Speed = 20;
    relaysim::RelaySimulator relay(options);
    relay.Start();
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "w.log")) >= 5; }));
    logger.Signal(SIGINT);
    const Result r = logger.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "varmio-log: cannot open port \"" + port +
                         "\": Unable to open com port (Error: 111): Connection "
                         "refused; trying again\nvarmio-log: port \"" +
                         port + "\" is back\n");
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
