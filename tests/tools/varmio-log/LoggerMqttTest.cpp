// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log --mqtt against a real mosquitto broker per fixture: a replay leaves every quantity's
// last value retained with its discovery config (options read from --config, the command line
// winning), and the same values over TLS; a killed logger leaves "offline"; a broker away during a
// paced stream costs the files nothing and gets the latest values when it is back; a broker that
// cannot be used is one line each while the files are written as without it.

#include "LoggerProcess.h"
#include "support/Eventually.h"
#include "support/Mosquitto.h"
#include "support/RecordingDisplay.h"
#include "varmio/Monitor.h"
#include "varmio/mqtt/Quantities.h"
#include "varmio/relaysim/RelaySim.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

namespace varmio {
namespace {

using namespace std::chrono_literals;
using test::Capture;
using test::Eventually;
using test::EventuallyRetained;
using test::kStamp;
using test::Lines;
using test::LoggerProcess;
using test::ReadFile;
using test::Result;
using test::RetainedMessages;
using test::TempDir;

// What the broker should hold after `capture`: each quantity's value in the last frame that carries
// its data ID's present value, under PREFIX/<object>.
std::map<std::string, std::string> LastValues(const std::string& capture, const std::string& prefix)
{
    test::RecordingDisplay display(false);
    Monitor monitor(display, Regional::FromEnvironment());
    std::map<std::uint8_t, Frame> last;
    monitor.SetOnFrame([&](const Frame& frame) {
        if (mqtt::CarriesPresentValue(frame.MsgType)) last[frame.DataId] = frame;
    });
    for (const char byte : ReadFile(capture)) monitor.ProcessFrameByte(static_cast<std::uint8_t>(byte));
    std::map<std::string, std::string> values;
    for (const auto& [id, frame] : last) {
        for (const mqtt::Quantity& q : mqtt::QuantitiesOf(id))
            mqtt::QuantityValue(q, DecodeFrame(frame), values[prefix + "/" + q.Object]);
    }
    return values;
}

// The retained state topics under `prefix`, without availability.
std::map<std::string, std::string> States(int port, const std::string& prefix)
{
    std::map<std::string, std::string> held = RetainedMessages(port, prefix + "/#");
    held.erase(prefix + "/status");
    return held;
}

class LoggerMqttTest : public ::testing::Test {
protected:
    test::MosquittoBroker broker;
    TempDir dir;
};

TEST_F(LoggerMqttTest, AReplayLeavesEveryQuantitysLastValueRetainedWithItsConfig)
{
    const std::string capture = Capture("otgwfw_logfile.bin");
    ASSERT_TRUE(test::WriteFile(dir / "varmio-log.ini",
                                "; unattended logging\nmqtt = " + broker.Address() +
                                    "\nmqtt-prefix = fromfile\nrecords = " + dir / "records.csv" + "\n"));
    const Result r = LoggerProcess(dir, {"--config", dir / "varmio-log.ini", "--mqtt-prefix", "house/boiler",
                                         "--replay", capture, "--timestamp", kStamp, "--decode"})
                         .Wait();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_GT(Lines(ReadFile(dir / "records.csv")), 1u) << "the config file's --records was not used";
    EXPECT_NE(ReadFile(dir / "stdout").find(" Tboiler: "), std::string::npos) << "no decoded lines beside publishing";

    // "offline" comes last: once the broker has it, it has everything.
    ASSERT_TRUE(EventuallyRetained(broker.Port(), "house/boiler/status",
                                   [](auto held) { return held["house/boiler/status"] == "offline"; }));
    const auto expected = LastValues(capture, "house/boiler");
    ASSERT_GT(expected.size(), 40u);
    EXPECT_EQ(States(broker.Port(), "house/boiler"), expected);
    EXPECT_TRUE(RetainedMessages(broker.Port(), "fromfile/#").empty()) << "the command line did not win";

    const auto configs = RetainedMessages(broker.Port(), "homeassistant/#");
    EXPECT_EQ(configs.size(), expected.size());
    for (const auto& [topic, payload] : configs) {
        SCOPED_TRACE(topic);
        const auto config = nlohmann::json::parse(payload, nullptr, false);
        ASSERT_TRUE(config.is_object());
        for (const char* key : {"name", "unique_id", "state_topic", "availability_topic", "device"})
            EXPECT_TRUE(config.contains(key)) << key;
        EXPECT_TRUE(expected.contains(config.value("state_topic", ""))) << payload;
        EXPECT_EQ(config.value("availability_topic", ""), "house/boiler/status");
        EXPECT_EQ(config["device"]["identifiers"], nlohmann::json::array({"house_boiler"}));
    }
}

TEST_F(LoggerMqttTest, OverTlsAReplayLeavesTheSameRetainedValues)
{
    const test::MosquittoBroker secure({"", "", true});
    const std::string capture = Capture("atagone_cvlog5.bin");
    const Result r = LoggerProcess(dir, {"--replay", capture, "--mqtt", secure.TlsAddress(), "--mqtt-tls",
                                         "--mqtt-cafile", secure.CaFile()})
                         .Wait();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(EventuallyRetained(secure.Port(), "varmio/status", [](auto held) {
        return held["varmio/status"] == "offline";
    })) << secure.Log();
    EXPECT_EQ(States(secure.Port(), "varmio"), LastValues(capture, "varmio")) << secure.Log();
}

TEST_F(LoggerMqttTest, AKilledLoggerLeavesOffline)
{
    LoggerProcess logger(dir, {"--demo", "--mqtt", broker.Address()});
    ASSERT_TRUE(EventuallyRetained(broker.Port(), "varmio/#", [](auto held) {
        return held["varmio/status"] == "online" && held.contains("varmio/tboiler");
    }));
    logger.Signal(SIGKILL);
    EXPECT_TRUE(
        EventuallyRetained(broker.Port(), "varmio/#", [](auto held) { return held["varmio/status"] == "offline"; }));
}

TEST_F(LoggerMqttTest, ABrokerAwayDuringAPacedStreamCostsTheFilesNothingAndGetsTheLatestValuesBack)
{
    const std::string capture = Capture("otgwfw_logfile.bin");
    auto logs = [&](const TempDir& where) {
        return std::vector<std::string>{"--all", "--timestamp",    kStamp, "--records", where / "records.csv",
                                        "--raw", where / "raw.log"};
    };
    const TempDir replayRun;
    std::vector<std::string> replayArgs = logs(replayRun);
    replayArgs.insert(replayArgs.end(), {"--replay", capture});
    ASSERT_EQ(LoggerProcess(replayRun, replayArgs).Wait().exitCode, 0);
    const std::size_t frames = Lines(ReadFile(replayRun / "raw.log"));

    relaysim::RelayOptions options;
    options.ReplayFile = capture;
    options.Speed = 100;
    relaysim::RelaySimulator relay(options);
    std::vector<std::string> args = logs(dir);
    args.insert(args.end(), {"--port", relay.DevicePath(), "--mqtt", broker.Address()});
    relay.Start();
    LoggerProcess logger(dir, args);
    ASSERT_TRUE(
        EventuallyRetained(broker.Port(), "varmio/#", [](auto held) { return held.contains("varmio/tboiler"); }));
    broker.Stop();
    const std::size_t before = Lines(ReadFile(dir / "raw.log"));
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "raw.log")) >= before + frames / 4; }))
        << "the stream stalled while the broker was away";
    broker.Start();
    ASSERT_TRUE(relay.WaitForState(relaysim::RelayState::Finished, 120s));
    ASSERT_TRUE(Eventually([&] { return Lines(ReadFile(dir / "raw.log")) == frames; }));
    const auto expected = LastValues(capture, "varmio");
    EXPECT_TRUE(EventuallyRetained(broker.Port(), "varmio/#", [&](auto held) {
        held.erase("varmio/status");
        return held == expected;
    })) << "not the latest values";
    EXPECT_EQ(RetainedMessages(broker.Port(), "homeassistant/#").size(), expected.size()) << "configs not sent again";
    logger.Signal(SIGTERM);
    const Result r = logger.Wait();

    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(ReadFile(dir / "raw.log") == ReadFile(replayRun / "raw.log")) << "raw logs differ";
    EXPECT_TRUE(ReadFile(dir / "records.csv") == ReadFile(replayRun / "records.csv")) << "record logs differ";
    EXPECT_NE(r.err.find("MQTT broker " + broker.Address() + ": connection lost"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("MQTT broker " + broker.Address() + ": connected"), std::string::npos) << r.err;
}

TEST_F(LoggerMqttTest, ABrokerThatCannotBeUsedIsOneLineAndTheFilesAreWrittenAsWithoutIt)
{
    const test::MosquittoBroker guarded({"varmio", "right"});
    ASSERT_TRUE(test::WriteFile(dir / "wrong", "wrong\n"));
    const std::string capture = Capture("atagone_cvlog5.bin");
    const std::string plain = [&] {
        const TempDir run;
        LoggerProcess(run, {"--replay", capture, "--timestamp", kStamp, "--records", run / "records.csv"}).Wait();
        return ReadFile(run / "records.csv");
    }();
    const std::string nobody = "127.0.0.1:" + std::to_string(broker.Port());
    broker.Stop(); // nothing listens there now
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"--mqtt", nobody}, "MQTT broker " + nobody + ": Connection refused"},
        {{"--mqtt", guarded.Address(), "--mqtt-user", "varmio", "--mqtt-password-file", dir / "wrong"},
         "MQTT broker " + guarded.Address() + ": the broker refused the user name or password"},
        {{"--mqtt", guarded.Address(), "--mqtt-tls"},
         "MQTT broker " + guarded.Address() + ": the TLS handshake failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> args{"--replay", capture, "--timestamp", kStamp, "--records", dir / "records.csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = LoggerProcess(dir, args).Wait();
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.err.rfind("varmio-log: " + c.says, 0), 0u) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_TRUE(ReadFile(dir / "records.csv") == plain);
    }
    // A password is only ever read from a file.
    const Result r = LoggerProcess(dir, {"--replay", capture, "--mqtt", guarded.Address(), "--mqtt-user", "varmio",
                                         "--mqtt-password-file", dir / "missing"})
                         .Wait();
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(dir / "missing"), std::string::npos) << r.err;
}

} // namespace
} // namespace varmio
