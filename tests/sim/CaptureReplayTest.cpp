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

std::vector<std::uint8_t> Replayed(CaptureReplay& replay, std::size_t maxRuns, std::vector<std::chrono::microseconds>* times = nullptr)
{
    std::vector<std::uint8_t> bytes;
    TimedBytes run;
    for (std::size_t i = 0; i < maxRuns && replay.Next(run); ++i) {
        bytes.insert(bytes.end(), run.Bytes.begin(), run.Bytes.end());
        if (times)
            times->push_back(run.At);
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
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(times[i], i * 500ms);
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
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), capture.begin(), capture.end());
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(times.back(), 2500ms);
    EXPECT_TRUE(replay.Endless());
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
