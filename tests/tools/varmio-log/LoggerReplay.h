// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// varmio-log run on a port fed by the relay simulator, compared with its --replay of the same capture.

#include "LoggerProcess.h"
#include "support/Eventually.h"
#include "support/TempDir.h"
#include "varmio/relaysim/RelaySim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

namespace varmio::test {

// `args` with --timestamp kStamp, --all and both logs into `where`.
inline std::vector<std::string> WithOutputs(std::vector<std::string> args, const TempDir& where)
{
    for (const std::string& a :
         {std::string("--timestamp"), std::string(kStamp), std::string("--all"), std::string("--records"),
          where / "records.csv", std::string("--raw"), where / "raw.log"})
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
    EXPECT_TRUE(relay.WaitForState(relaysim::RelayState::Finished, std::chrono::seconds(60)));
    ::kill(logger.Pid(), SIGTERM);
    const Result logged = logger.Wait();

    EXPECT_EQ(logged.exitCode, 0) << logged.err;
    EXPECT_EQ(logged.err, "");
    EXPECT_TRUE(ReadFile(portRun / "raw.log") == expectedRaw) << "raw logs differ";
    EXPECT_TRUE(ReadFile(portRun / "records.csv") == ReadFile(replayRun / "records.csv")) << "record logs differ";
    EXPECT_TRUE(logged.out == replay.out) << "standard outputs differ";
}

} // namespace varmio::test
