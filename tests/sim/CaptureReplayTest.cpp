// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/CaptureReplay.h"
#include "varmio/relaysim/Packet.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>

#include <unistd.h>

namespace varmio::relaysim {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> Replayed(IByteSource& replay, std::size_t maxRuns,
                                   std::vector<std::chrono::microseconds>* times = nullptr)
{
    std::vector<std::uint8_t> bytes;
    TimedBytes run;
    for (std::size_t i = 0; i < maxRuns && replay.Next(run); ++i) {
        bytes.insert(bytes.end(), run.Bytes.begin(), run.Bytes.end());
        if (times) times->push_back(run.At);
    }
    return bytes;
}

std::vector<std::uint8_t> AllByteValues()
{
    std::vector<std::uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    return bytes;
}

TEST(CaptureReplay, ASingleReplayGivesTheFileBytesInPacketRunsHalfASecondApart)
{
    const auto capture = AllByteValues(); // 36 whole packets and 4 bytes over
    CaptureReplay replay(capture, false);
    std::vector<std::chrono::microseconds> times;
    EXPECT_EQ(Replayed(replay, 1000, &times), capture);
    ASSERT_EQ(times.size(), 37u);
    for (std::size_t i = 0; i < times.size(); ++i) EXPECT_EQ(times[i], i * 500ms);
    TimedBytes run;
    EXPECT_FALSE(replay.Next(run)) << "a single replay ends";
    EXPECT_FALSE(replay.Endless());
}

TEST(CaptureReplay, ALoopStartsOverWithTimeRunningOn)
{
    const std::vector<std::uint8_t> capture{0x35, 0x35, 0x35, 4, 25, 0x2D, 0x80, 0x35, 0x35};
    CaptureReplay replay(capture, true);
    std::vector<std::chrono::microseconds> times;
    const auto bytes = Replayed(replay, 6, &times);
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), capture.begin(), capture.end());
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(times.back(), 2500ms);
    EXPECT_TRUE(replay.Endless());
}

TEST(CaptureReplay, AFileIsStreamedInChunksAsTheSameRuns)
{
    // Longer than a chunk and not a whole number of packets, so runs straddle the chunks' edges.
    std::vector<std::uint8_t> capture;
    while (capture.size() < CaptureFileReplay::kChunkBytes * 2 + 3)
        capture.insert(capture.end(), {0x35, 0x35, 0x35, 4, 25, static_cast<std::uint8_t>(capture.size()), 0x80});
    capture.resize(CaptureFileReplay::kChunkBytes * 2 + 3);
    const varmio::test::TempDir temp;
    const std::string file = temp / "capture.bin";
    ASSERT_TRUE(varmio::test::WriteFile(file, std::string(capture.begin(), capture.end())));

    for (const bool loop : {false, true}) {
        CaptureReplay inMemory(capture, loop);
        CaptureFileReplay streamed(file, loop);
        std::vector<std::chrono::microseconds> memoryTimes, streamedTimes;
        const std::size_t runs = 3 * capture.size() / kPacketSize;
        EXPECT_EQ(Replayed(streamed, runs, &streamedTimes), Replayed(inMemory, runs, &memoryTimes)) << loop;
        EXPECT_EQ(streamedTimes, memoryTimes);
        EXPECT_EQ(streamed.Endless(), loop);
    }
    // An endless device: runs keep coming, never more than a chunk held.
    CaptureFileReplay zeros("/dev/zero", true);
    EXPECT_EQ(Replayed(zeros, 100000), std::vector<std::uint8_t>(100000 * kPacketSize, 0));
}

TEST(CaptureReplay, UnusableCapturesAreRefusedWithTheReason)
{
    EXPECT_THROW(CaptureReplay({}, true), CaptureError);
    const varmio::test::TempDir temp;
    const auto& dir = temp.Path();
    const auto expectMessage = [](const std::filesystem::path& path, const std::string& reason) {
        try {
            LoadCapture(path.string());
            ADD_FAILURE() << path << " was accepted";
        } catch (const CaptureError& e) {
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    };
    expectMessage(dir / "missing.bin", "No such file");
    expectMessage(dir, "Is a directory");
    std::ofstream(dir / "empty.bin").close();
    expectMessage(dir / "empty.bin", "empty");
    // The same reasons from the streamed replay, and a pipe that cannot be looped.
    for (const auto& [path, reason] : std::vector<std::pair<std::filesystem::path, std::string>>{
             {dir / "missing.bin", "No such file"}, {dir, "Is a directory"}, {dir / "empty.bin", "empty"}}) {
        try {
            CaptureFileReplay replay(path.string(), false);
            ADD_FAILURE() << path << " was accepted";
        } catch (const CaptureError& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
        }
    }
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "\x35", 1), 1);
    const std::string pipePath = "/proc/self/fd/" + std::to_string(ends[0]);
    EXPECT_THROW(CaptureFileReplay(pipePath, true), CaptureError);
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(CaptureReplay, LoadsARealCaptureWhole)
{
    const std::filesystem::path file = VARMIO_SOURCE_DIR "/data/captures/relay7/atagone_cvlog1.bin";
    ASSERT_TRUE(std::filesystem::exists(file)) << file << " is missing: the captures are part of the tree";
    const auto bytes = LoadCapture(file.string());
    EXPECT_EQ(bytes.size(), std::filesystem::file_size(file));
    EXPECT_EQ(bytes.size() % kPacketSize, 0u);
    EXPECT_EQ(bytes[0], kSyncByte);
}

} // namespace
} // namespace varmio::relaysim
