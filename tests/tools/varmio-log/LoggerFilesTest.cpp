// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log and the user's files: outputs that would destroy the input or each other are refused
// touching nothing, a run that cannot start leaves existing files as they were, --append continues
// logs, a stalled standard output holds up no line, a failing write names the file and leaves no
// half line, and the options that would spoil the lines are refused.

#include "LoggerProcess.h"
#include "ReferenceLog.h"
#include "support/Eventually.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace varmio {
namespace {

using test::Capture;
using test::ChildProcess;
using test::Eventually;
using test::kStamp;
using test::Lines;
using test::LoggerProcess;
using test::ReadFile;
using test::Result;
using test::TempDir;
using test::WriteFile;

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// The capture over and over: `times` copies.
std::string Repeated(const std::string& capture, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) out += capture;
    return out;
}

class LoggerFilesTest : public ::testing::Test {
protected:
    // Runs the logger, expecting a refusal with one line (exit `code`) and nothing on standard output.
    void ExpectRefused(std::vector<std::string> args, int code, const std::string& input = "/dev/null")
    {
        const Result r = LoggerProcess(dir, args, input).Wait();
        EXPECT_EQ(r.exitCode, code) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("varmio-log: ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }

    TempDir dir;
    const std::string capture = ReadFile(Capture("atagone_cvlog.bin"));
};

TEST_F(LoggerFilesTest, OutputsThatWouldOverwriteTheInputOrEachOtherAreRefusedTouchingNothing)
{
    const std::string input = dir / "x.bin", kept = dir / "kept.csv", fresh = dir / "fresh.csv";
    ASSERT_TRUE(WriteFile(input, capture));
    ASSERT_TRUE(WriteFile(kept, "mine\r\n"));
    std::filesystem::create_symlink(kept, dir / "to-kept");
    std::filesystem::create_symlink(fresh, dir / "to-fresh"); // to a file not there yet
    ::link(kept.c_str(), (dir / "hard-kept").c_str());

    ExpectRefused({"--replay", input, "--records", input}, 2);
    ExpectRefused({"--replay", "-", "--records", input}, 2, input);
    ExpectRefused({"--replay", input, "--records", kept, "--raw", kept}, 2);
    ExpectRefused({"--replay", input, "--records", kept, "--raw", dir / "to-kept"}, 2);
    ExpectRefused({"--replay", input, "--records", kept, "--raw", dir / "hard-kept"}, 2);
    ExpectRefused({"--replay", input, "--records", fresh, "--raw", dir / "to-fresh"}, 2);
    ExpectRefused({"--replay", dir / "to-kept", "--raw", kept}, 2);
    EXPECT_EQ(ReadFile(input), capture);
    EXPECT_EQ(ReadFile(kept), "mine\r\n");
    EXPECT_FALSE(std::filesystem::exists(fresh));

    // Standard output showing the record lines into the record log would splice them too.
    const Result echo =
        ChildProcess(VARMIO_LOG_PROGRAM, {"--replay", input, "--records", kept}, {"/dev/null", kept, dir / "err", true})
            .Finish();
    EXPECT_EQ(echo.exitCode, 2);
    EXPECT_NE(echo.err.find("standard output"), std::string::npos) << echo.err;
    EXPECT_EQ(ReadFile(kept), ""); // the shell's > emptied it, we wrote nothing
    const Result reread = ChildProcess(VARMIO_LOG_PROGRAM, {"--replay", input}, {"/dev/null", input, dir / "err", true})
                              .Finish(); // standard output appended to the input: it is emptied first here
    EXPECT_EQ(reread.exitCode, 2);
    // With the echo off it is an ordinary record log.
    EXPECT_EQ(LoggerProcess(dir, {"--replay", input, "--records", kept, "--quiet"}).Wait().exitCode, 0);
}

// --chart draws the run into a PNG picture at its end, without a display; it never takes the place
// of the input or a log, and a picture that cannot be written costs the logs nothing.
TEST_F(LoggerFilesTest, ChartIsAPictureBesideTheLogsNeverInTheirPlace)
{
#ifndef VARMIO_LOG_CHART
    GTEST_SKIP() << "built without the window's libraries";
#else
    const std::string input = dir / "x.bin", kept = dir / "kept.csv", chart = dir / "run.png";
    ASSERT_TRUE(WriteFile(input, capture));
    ASSERT_TRUE(WriteFile(kept, "mine\r\n"));
    ExpectRefused({"--replay", input, "--records", kept, "--chart", kept}, 2);
    ExpectRefused({"--replay", input, "--raw", kept, "--chart", dir / "./kept.csv"}, 2);
    ExpectRefused({"--replay", input, "--chart", input}, 2);
    ExpectRefused({"--replay", input, "--chart", "-"}, 2);
    EXPECT_EQ(ReadFile(kept), "mine\r\n");
    EXPECT_EQ(ReadFile(input), capture);

    const std::string records = dir / "records.csv";
    ::unsetenv("DISPLAY"); // the child inherits no display
    const Result drawn = LoggerProcess(dir, {"--replay", input, "--records", records, "--timestamp", kStamp, "--quiet",
                                             "--chart", chart})
                             .Wait();
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err;
    const std::string png = ReadFile(chart);
    ASSERT_GE(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(png.substr(12, 12), std::string("IHDR\0\0\x04\xb0\0\0\x02\x58", 12)) << "1200 x 600";

    const Result unwritable = LoggerProcess(dir, {"--replay", input, "--records", kept, "--timestamp", kStamp,
                                                  "--quiet", "--chart", dir / "none/c.png"})
                                  .Wait();
    EXPECT_EQ(unwritable.exitCode, 1);
    EXPECT_NE(unwritable.err.find("--chart"), std::string::npos) << unwritable.err;
    EXPECT_EQ(ReadFile(kept), ReadFile(records)) << "the record log is whole";
#endif
}

TEST_F(LoggerFilesTest, ARunThatCannotStartLeavesExistingFilesAlone)
{
    const std::string input = dir / "x.bin", records = dir / "r.csv";
    ASSERT_TRUE(WriteFile(input, capture));
    ASSERT_TRUE(WriteFile(records, "mine\r\n"));

    ExpectRefused({"--replay", input, "--records", records, "--raw", dir / "no/such/raw.log"}, 1);
    ExpectRefused({"--replay", dir.Path().string(), "--records", records}, 1);
    ExpectRefused({"--replay", dir / "missing.bin", "--records", records}, 1);
    ASSERT_EQ(::mkfifo((dir / "nobody.fifo").c_str(), 0600), 0); // no reader: refused, not waited for
    ExpectRefused({"--replay", input, "--records", records, "--raw", dir / "nobody.fifo"}, 1);
    // Standard input closed, as a service manager may start it.
    const Result closed = ChildProcess("/bin/sh", {"-c", "exec \"$0\" \"$@\" <&-", VARMIO_LOG_PROGRAM, "--replay", "-",
                                                   "--records", records})
                              .Finish();
    EXPECT_EQ(closed.exitCode, 1);
    EXPECT_EQ(closed.err, "varmio-log: cannot read standard input: Bad file descriptor\n");
    EXPECT_EQ(ReadFile(records), "mine\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}

TEST_F(LoggerFilesTest, AppendContinuesExistingLogsWithTheHeaderOnlyInANewOrEmptyFile)
{
    const std::string input = dir / "x.bin";
    ASSERT_TRUE(WriteFile(input, capture));
    ASSERT_TRUE(WriteFile(dir / "empty.csv", ""));
    const reference::Logs once = reference::Replay(Bytes(capture), kStamp, true);
    for (int run = 0; run < 2; ++run) {
        const Result r = LoggerProcess(dir, {"--replay", input, "--all", "--timestamp", kStamp, "--append", "--quiet",
                                             "--records", dir / "r.csv", "--raw", dir / "w.log"})
                             .Wait();
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(ReadFile(dir / "w.log") == once.Raw + once.Raw);
    const std::string lines = once.Records.substr(once.Records.find("\r\n") + 2);
    EXPECT_TRUE(ReadFile(dir / "r.csv") == once.Records + lines) << "one header, then both runs' lines";
    ASSERT_EQ(LoggerProcess(
                  dir, {"--replay", input, "--all", "--timestamp", kStamp, "--append", "--records", dir / "empty.csv"})
                  .Wait()
                  .exitCode,
              0);
    EXPECT_TRUE(ReadFile(dir / "empty.csv") == once.Records);
}

TEST_F(LoggerFilesTest, AStalledReaderOfStandardOutputHoldsUpNoLineAndSighupEndsCleanly)
{
    // More lines than the pipe and the echo's queue hold, from a pipe that stays open.
    const std::string stream = Repeated(capture, 12);
    const reference::Logs expected = reference::Replay(Bytes(stream), kStamp, true);
    ASSERT_GT(expected.Stdout.size(), 2u * 1024 * 1024);
    const std::string fifo = dir / "input.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess logger(
        VARMIO_LOG_PROGRAM,
        {"--replay", fifo, "--all", "--timestamp", kStamp, "--records", dir / "r.csv", "--raw", dir / "w.log"},
        {"/dev/null", "", dir / "err", true}); // standard output: a pipe nobody reads yet
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, stream.data(), stream.size()), static_cast<ssize_t>(stream.size()));

    EXPECT_TRUE(Eventually([&] { return ReadFile(dir / "w.log").size() >= expected.Raw.size(); }))
        << "the files waited for standard output";
    EXPECT_TRUE(ReadFile(dir / "w.log") == expected.Raw);
    EXPECT_TRUE(ReadFile(dir / "r.csv") == expected.Records);
    logger.Signal(SIGHUP); // lands while the echo is blocked writing
    const std::string out = logger.ReadOut();
    EXPECT_EQ(logger.Wait(), 0);
    ::close(writer);

    const std::string err = ReadFile(dir / "err");
    const std::string frames = "Frames: " + std::to_string(expected.Frames) + "\n";
    ASSERT_GE(out.size(), frames.size());
    EXPECT_EQ(out.substr(out.size() - frames.size()), frames);
    unsigned long long dropped = 0;
    ASSERT_EQ(std::sscanf(err.c_str(), "varmio-log: %llu lines were not shown", &dropped), 1) << err;
    EXPECT_EQ(Lines(err), 1u) << err;
    EXPECT_EQ(Lines(out) + dropped, Lines(expected.Stdout));
}

TEST_F(LoggerFilesTest, AFailingWriteNamesTheFileAndLeavesNoHalfLine)
{
    // The input waits on a pipe until the file size limit is set: then every write beyond it fails.
    const std::string fifo = dir / "input.fifo", records = dir / "r.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    LoggerProcess logger(dir, {"--replay", fifo, "--all", "--timestamp", kStamp, "--records", records});
    const rlimit limit{2000, 2000};
    ASSERT_EQ(::prlimit(logger.Pid(), RLIMIT_FSIZE, &limit, nullptr), 0);
    const int writer = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    ::signal(SIGPIPE, SIG_IGN); // the logger may end before the last byte is written
    [[maybe_unused]] const ssize_t n = ::write(writer, capture.data(), capture.size());
    ::close(writer);
    const Result r = logger.Wait();

    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "varmio-log: " + records + ": File too large\n");
    const std::string written = ReadFile(records);
    const std::string all = reference::Replay(Bytes(capture), kStamp, true).Records;
    ASSERT_GT(written.size(), 157u);
    EXPECT_LE(written.size(), 2000u);
    EXPECT_EQ(written.substr(written.size() - 2), "\r\n");
    EXPECT_TRUE(all.compare(0, written.size(), written) == 0) << "not a prefix of the whole log";
    EXPECT_NE(r.out.find("\nFrames: "), std::string::npos) << "the summary still comes";
}

TEST_F(LoggerFilesTest, TimestampsThatWouldSpoilTheColumnsAndTwoLogsOnStandardOutputAreRefused)
{
    ASSERT_TRUE(WriteFile(dir / "x.bin", capture));
    for (const char* bad :
         {"7.12.2026\n13:05:20", "7.12.2026; 13:05\r", "7.12.2026;13:05", "a; b; c", "a; b;", "13:05:20", "\t; x"}) {
        SCOPED_TRACE(bad);
        ExpectRefused({"--replay", dir / "x.bin", "--timestamp", bad, "--records", dir / "r.csv"}, 2);
    }
    ExpectRefused({"--replay", dir / "x.bin", "--records", "-", "--raw", "-"}, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "r.csv"));

    // "-" is standard output, which then carries that log alone.
    const reference::Logs expected = reference::Replay(Bytes(capture), kStamp, false);
    for (const char* option : {"--records", "--raw"}) {
        const Result r = LoggerProcess(dir, {"--replay", dir / "x.bin", "--timestamp", kStamp, option, "-"}).Wait();
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out == (option == std::string("--raw") ? expected.Raw : expected.Records)) << option;
        EXPECT_FALSE(std::filesystem::exists(dir / "-"));
    }
}

} // namespace
} // namespace varmio
