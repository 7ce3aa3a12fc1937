// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log run as a program: its files and output checked byte for byte against the independent
// model in ReferenceLog, on the examples, on every real capture and on random streams full of
// broken and overlapping packets; its errors; and that a killed logger has lost nothing.

#include "LoggerProcess.h"
#include "ReferenceLog.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varmio {
namespace {

using test::LoggerProcess;
using test::ReadFile;
using test::Result;
using test::TempDir;

using test::kStamp;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A byte stream that tries the decoder hard: whole packets of the decoded IDs, status frames, runs
// of sync bytes, packets cut short, sync bytes inside fields, and noise.
std::vector<std::uint8_t> RandomStream(unsigned seed, std::size_t pieces)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const int ids[] = {0, 0, 1, 16, 17, 24, 25, 26, 27, 27, 56, 3, 0x35, 255};
    const int types[] = {0, 1, 4, 4, 0x35, 6, 7, 5};
    std::vector<std::uint8_t> out;
    auto field = [&](int usual) {
        return static_cast<std::uint8_t>(pick(5) == 0 ? 0x35 : pick(4) == 0 ? pick(256) : usual);
    };
    for (std::size_t i = 0; i < pieces; ++i) {
        switch (pick(6)) {
        case 0: // noise
            for (int n = pick(5); n >= 0; --n) out.push_back(static_cast<std::uint8_t>(pick(256)));
            break;
        case 1: // a run of sync bytes
            for (int n = pick(7); n >= 0; --n) out.push_back(0x35);
            break;
        case 2: { // a packet cut short
            for (int n = 0; n < 3; ++n) out.push_back(0x35);
            for (int n = pick(4); n > 0; --n) out.push_back(field(pick(256)));
            break;
        }
        default: { // a whole packet, its fields often sync bytes themselves
            for (int n = 0; n < 3; ++n) out.push_back(0x35);
            out.push_back(field(types[pick(8)]));
            out.push_back(field(ids[pick(14)]));
            out.push_back(field(pick(3) == 0 ? 0xFF : pick(256)));
            out.push_back(field(pick(256)));
        }
        }
    }
    return out;
}

class LoggerEndToEndTest : public ::testing::Test {
protected:
    // Runs the logger on `input` and checks both files and the output against the model.
    void ExpectSameAsReference(const std::vector<std::uint8_t>& input, bool all, const std::string& what)
    {
        WriteBytes(dir / "input.bin", input);
        std::vector<std::string> args = {"--replay",  dir / "input.bin",   "--timestamp", kStamp,
                                         "--records", dir / "records.csv", "--raw",       dir / "raw.log"};
        if (all) args.push_back("--all");
        const Result r = LoggerProcess(dir, args).Wait();
        const reference::Logs expected = reference::Replay(input, kStamp, all);
        ASSERT_EQ(r.exitCode, 0) << what << ": " << r.err;
        EXPECT_EQ(r.err, "") << what;
        EXPECT_TRUE(ReadFile(dir / "records.csv") == expected.Records) << what << ": record log differs";
        EXPECT_TRUE(ReadFile(dir / "raw.log") == expected.Raw) << what << ": raw log differs";
        EXPECT_TRUE(r.out == expected.Stdout) << what << ": standard output differs";
    }

    TempDir dir;
};

TEST_F(LoggerEndToEndTest, MatchesTheModelOnTheExamples)
{
    const std::vector<std::uint8_t> examples = {
        0x35, 0x35, 0x35, 0x35, 0x00, 0x01, 0x02,                   // sync byte as message type
        0x35, 0x35, 0x41, 0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80, // a broken sync
        0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80,                   // a repeat
        0x35, 0x35, 0x35, 0x00, 0x00, 0x03, 0x00,                   // master status
        0x35, 0x35, 0x35, 0x04, 0x00, 0x00, 0x0A,                   // slave status
        0x35, 0x35, 0x35, 0x04, 0x1B, 0xFF, 0xF3,                   // outside -0.1
        0x35, 0x35, 0x35, 0x04, 0x1B, 0xFF, 0xF4,                   // outside 0
        0x35, 0x35, 0x35, 0x04, 0x11, 0x00, 0x40,                   // modulation half toward zero
        0x35, 0x35, 0x35, 0x04, 0x19, 0xFF, 0xFF,                   // 256
        0x35, 0x35, 0x35, 0x00, 0x03, 0x00, 0x00,                   // undecoded
    };
    ExpectSameAsReference(examples, false, "examples");
    ExpectSameAsReference(examples, true, "examples --all");
    // The first example's lines, spelt out, so that the model itself is pinned down.
    const reference::Logs logs = reference::Replay(Bytes("\x35\x35\x35\x04\x19\x2D\x80"), kStamp, false);
    EXPECT_EQ(logs.Raw, "7.12.2026; 13:05:20  [Type: 4]  [25] :11648\r\n");
    EXPECT_EQ(logs.Records.substr(157),
              "7.12.2026; 13:05:20; 0; 0; 0; 45.5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0\r\n");
}

TEST_F(LoggerEndToEndTest, MatchesTheModelOnEveryCapture)
{
    const std::filesystem::path captures = std::filesystem::path(VARMIO_SOURCE_DIR) / "data/captures/relay7";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(captures)) {
        const std::string content = ReadFile(entry.path().string());
        ASSERT_FALSE(content.empty()) << entry.path();
        ExpectSameAsReference(Bytes(content), false, entry.path().filename().string());
        ExpectSameAsReference(Bytes(content), true, entry.path().filename().string() + " --all");
        ++files;
    }
    EXPECT_EQ(files, 9);
}

TEST_F(LoggerEndToEndTest, MatchesTheModelOnRandomStreams)
{
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const std::vector<std::uint8_t> stream = RandomStream(seed, 4000);
        ExpectSameAsReference(stream, seed % 2 == 0, "seed " + std::to_string(seed));
    }
}

TEST_F(LoggerEndToEndTest, DashReadsStandardInput)
{
    const std::vector<std::uint8_t> stream = RandomStream(42, 500);
    WriteBytes(dir / "input.bin", stream);
    const Result r =
        LoggerProcess(dir, {"--replay", "-", "--timestamp", kStamp, "--records", dir / "r.csv"}, dir / "input.bin")
            .Wait();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const reference::Logs expected = reference::Replay(stream, kStamp, false);
    EXPECT_TRUE(ReadFile(dir / "r.csv") == expected.Records);
    EXPECT_TRUE(r.out == expected.Stdout);
}

TEST_F(LoggerEndToEndTest, WithoutTimestampLinesCarryTheClockInTheCLocaleFormats)
{
    WriteBytes(dir / "input.bin", Bytes("\x35\x35\x35\x04\x19\x2D\x80"));
    const Result r = LoggerProcess(dir, {"--replay", dir / "input.bin", "--raw", dir / "raw.log"}).Wait();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string raw = ReadFile(dir / "raw.log");
    // MM/DD/YY; HH:MM:SS
    ASSERT_GE(raw.size(), 18u);
    const std::string stamp = raw.substr(0, 18);
    for (std::size_t i : {0u, 1u, 3u, 4u, 6u, 7u, 10u, 11u, 13u, 14u, 16u, 17u}) {
        EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << stamp;
    }
    EXPECT_EQ(stamp.substr(2, 1) + stamp.substr(5, 1) + stamp.substr(8, 2) + stamp.substr(12, 1) + stamp.substr(15, 1),
              "//; ::");
    EXPECT_EQ(raw.substr(18), "  [Type: 4]  [25] :11648\r\n");
}

TEST_F(LoggerEndToEndTest, CharactersOutsideWindows1250AreQuestionMarksInFilesAndKeptOnOutput)
{
    WriteBytes(dir / "input.bin", Bytes("\x35\x35\x35\x04\x19\x2D\x80"));
    const Result r = LoggerProcess(dir, {"--replay", dir / "input.bin", "--timestamp", "Út; 日", "--records",
                                         dir / "r.csv", "--raw", dir / "w.log"})
                         .Wait();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "w.log"), "\xDAt; ?  [Type: 4]  [25] :11648\r\n");
    EXPECT_NE(r.out.find("\nÚt; 日; 0; 0; 0; 45.5;"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "varmio-log: 2 characters that Windows-1250 cannot hold were written as \"?\"\n");
}

TEST_F(LoggerEndToEndTest, KilledLoggerHasLostNothingAlreadyLogged)
{
    // The logger reads a pipe that stays open, so it is still running when it is killed.
    const std::string fifo = dir / "input.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    LoggerProcess run(
        dir, {"--replay", fifo, "--all", "--timestamp", "D; T", "--records", dir / "r.csv", "--raw", dir / "w.log"});
    const int writer = open(fifo.c_str(), O_WRONLY); // blocks until the logger has opened its end
    ASSERT_GE(writer, 0);
    const std::string packets = "\x35\x35\x35\x04\x19\x2D\x80\x35\x35\x35\x01\x18\x15\x80";
    ASSERT_EQ(write(writer, packets.data(), packets.size()), static_cast<ssize_t>(packets.size()));

    const std::string expectedRaw = "D; T  [Type: 4]  [25] :11648\r\nD; T  [Type: 1]  [24] :5504\r\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ReadFile(dir / "w.log") != expectedRaw || ReadFile(dir / "r.csv").size() < 157 + 2 * 60) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "lines never reached the files";
        std::this_thread::yield();
    }
    kill(run.Pid(), SIGKILL);
    const Result r = run.Wait();
    close(writer);
    EXPECT_EQ(r.exitCode, 128 + SIGKILL);
    const reference::Logs expected = reference::Replay(Bytes(packets), "D; T", true);
    EXPECT_EQ(ReadFile(dir / "w.log"), expected.Raw);
    EXPECT_EQ(ReadFile(dir / "r.csv"), expected.Records);
}

TEST_F(LoggerEndToEndTest, UnreadableInputFailsWithOneLineAndCreatesNoOutput)
{
    const Result r = LoggerProcess(dir, {"--replay", dir / "missing.bin", "--records", dir / "r.csv"}).Wait();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err, "varmio-log: cannot open \"" + (dir / "missing.bin") + "\": No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "r.csv"));

    const Result folder = LoggerProcess(dir, {"--replay", dir.Path().string()}).Wait();
    EXPECT_NE(folder.exitCode, 0);
    EXPECT_EQ(folder.err, "varmio-log: cannot read \"" + dir.Path().string() + "\": Is a directory\n");
}

TEST_F(LoggerEndToEndTest, UncreatableOrFullOutputFailsWithOneLine)
{
    WriteBytes(dir / "input.bin", Bytes("\x35\x35\x35\x04\x19\x2D\x80"));
    const Result missing = LoggerProcess(dir, {"--replay", dir / "input.bin", "--raw", dir / "no/such/raw.log"}).Wait();
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_EQ(missing.err,
              "varmio-log: Cannot create file \"" + (dir / "no/such/raw.log") + "\". No such file or directory\n");

    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    const Result full = LoggerProcess(dir, {"--replay", dir / "input.bin", "--records", "/dev/full"}).Wait();
    EXPECT_NE(full.exitCode, 0);
    EXPECT_EQ(full.err, "varmio-log: /dev/full: No space left on device\n");
}

TEST_F(LoggerEndToEndTest, BadCommandLineFailsWithOneLine)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--replay", "x", "--bogus"}, {}, {"--replay"}, {"--replay", "x", "extra"}}) {
        const Result r = LoggerProcess(dir, args).Wait();
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_EQ(r.err.rfind("varmio-log: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const Result help = LoggerProcess(dir, {"--help"}).Wait();
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--replay"), std::string::npos);
}

} // namespace
} // namespace varmio
