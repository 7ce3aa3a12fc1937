// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/DeviceReader.h"
#include "support/TempDir.h"

#include "varmio/relaysim/CaptureReplay.h"
#include "varmio/relaysim/RelaySimulator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace varmio::relaysim {
namespace {

using namespace std::chrono_literals;
using test::ConversationBytes;
using test::DeviceReader;

constexpr auto kPatience = 20s; // deadline for things that take milliseconds

// 400 packets of the conversation, then every byte value (CR, XON, XOFF, 0xFF, NUL, ... must all pass).
std::vector<std::uint8_t> TestCapture()
{
    auto bytes = ConversationBytes(5, 400 * kPacketSize);
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<std::uint8_t>(b));
    return bytes;
}

RelayOptions WithSpeed(double speed)
{
    RelayOptions options;
    options.Speed = speed;
    return options;
}

std::unique_ptr<RelaySimulator> Replaying(const std::vector<std::uint8_t>& capture, bool loop, double speed)
{
    return std::make_unique<RelaySimulator>(std::make_unique<CaptureReplay>(capture, loop), WithSpeed(speed));
}

// A client connected to the bridge whose port name is `name` (socket://127.0.0.1:PORT).
int ConnectTo(const std::string& name)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(name.substr(name.rfind(':') + 1))));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << name;
    return fd;
}

std::unique_ptr<RelaySimulator> Conversing(std::uint64_t seed, double speed)
{
    RelayOptions options = WithSpeed(speed);
    options.Seed = seed;
    return std::make_unique<RelaySimulator>(options);
}

TEST(RelaySimulator, AReplayDeliversTheCaptureBytesExactly)
{
    for (const double speed : {Pacer::kUnpaced, 500.0}) {
        SCOPED_TRACE(testing::Message() << "speed " << speed);
        const auto capture = TestCapture();
        auto sim = Replaying(capture, false, speed);
        sim->Start();
        DeviceReader reader(sim->DevicePath());
        EXPECT_EQ(reader.Read(capture.size()), capture);
        EXPECT_TRUE(sim->WaitForState(RelayState::Finished, kPatience));
        EXPECT_EQ(sim->BytesSent(), capture.size());
    }
}

TEST(RelaySimulator, ARealCaptureArrivesWhole)
{
    const std::string file = VARMIO_SOURCE_DIR "/data/captures/relay7/tadox-viessmann_full_run_up_and_down.bin";
    ASSERT_TRUE(std::filesystem::exists(file)) << file << " is missing: the captures are part of the tree";
    RelayOptions options = WithSpeed(Pacer::kUnpaced);
    options.ReplayFile = file;
    RelaySimulator sim(options);
    sim.Start();
    const auto capture = LoadCapture(file);
    DeviceReader reader(sim.DevicePath());
    EXPECT_EQ(reader.Read(capture.size()), capture);
    EXPECT_TRUE(sim.WaitForState(RelayState::Finished, kPatience));
}

TEST(RelaySimulator, ATcpBridgeServesItsLatestClientAndPausesWithoutOne)
{
    const auto capture = TestCapture();
    RelayOptions options = WithSpeed(Pacer::kUnpaced);
    options.TcpPort = 0;
    RelaySimulator sim(std::make_unique<CaptureReplay>(capture, true), options);
    ASSERT_EQ(sim.DevicePath().rfind("socket://127.0.0.1:", 0), 0u) << sim.DevicePath();
    sim.Start();
    ASSERT_TRUE(sim.WaitForState(RelayState::WaitingForReader, kPatience));
    EXPECT_EQ(sim.BytesSent(), 0u);

    DeviceReader first(ConnectTo(sim.DevicePath()));
    EXPECT_EQ(first.Read(700), std::vector<std::uint8_t>(capture.begin(), capture.begin() + 700))
        << "the stream starts at its first byte, unchanged";
    DeviceReader second(ConnectTo(sim.DevicePath())); // takes over: the first is let go
    EXPECT_LT(first.Read(32u << 20).size(), 32u << 20) << "the first connection ends";
    EXPECT_EQ(second.Read(1000).size(), 1000u);
    second.Close();
    EXPECT_TRUE(sim.WaitForState(RelayState::Paused, kPatience));
    DeviceReader third(ConnectTo(sim.DevicePath()));
    EXPECT_EQ(third.Read(1000).size(), 1000u) << "the stream resumes";
}

TEST(RelaySimulator, NothingIsSentBeforeAProgramOpensTheDevice)
{
    const auto capture = TestCapture();
    auto sim = Replaying(capture, false, Pacer::kUnpaced);
    sim->Start();
    ASSERT_TRUE(sim->WaitForState(RelayState::WaitingForReader, kPatience));
    EXPECT_EQ(sim->BytesSent(), 0u);
    DeviceReader reader(sim->DevicePath());
    EXPECT_EQ(reader.Read(capture.size()), capture) << "the stream starts at its first byte";
}

TEST(RelaySimulator, ASingleReplayFinishesOnlyOnceItsLastByteIsRead)
{
    const auto capture = TestCapture(); // fits in the device's buffers: all of it is sent at once
    ASSERT_LT(capture.size(), 4000u);
    auto sim = Replaying(capture, false, Pacer::kUnpaced);
    std::atomic<DeviceReader*> reader{nullptr};
    std::atomic<int> waitingAtFinish{-1};
    sim->SetOnStateChange([&](RelaySimulator*, RelayState state) {
        if (state == RelayState::Finished) waitingAtFinish = reader.load()->Waiting();
    });
    sim->Start();
    DeviceReader device(sim->DevicePath());
    reader = &device;
    auto got = device.Read(700);
    ASSERT_TRUE(sim->WaitForState(RelayState::Draining, kPatience));
    EXPECT_EQ(sim->BytesSent(), capture.size());
    const auto rest = device.Read(capture.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, capture);
    ASSERT_TRUE(sim->WaitForState(RelayState::Finished, kPatience));
    EXPECT_EQ(waitingAtFinish, 0) << "finished while bytes were still waiting to be read";
}

TEST(RelaySimulator, SendingPausesWhileNoProgramHasTheDeviceAndCarriesOnAfter)
{
    auto sim = Conversing(9, 200.0);
    std::mutex mutex;
    std::vector<std::pair<RelayState, std::uint64_t>> changes;
    sim->SetOnStateChange([&](RelaySimulator* sender, RelayState state) {
        std::lock_guard lock(mutex);
        changes.emplace_back(state, sender->BytesSent());
    });
    sim->Start();
    std::vector<std::uint8_t> got;
    {
        DeviceReader first(sim->DevicePath());
        got = first.Read(10 * kPacketSize);
    }
    ASSERT_TRUE(sim->WaitForState(RelayState::Paused, kPatience));
    DeviceReader second(sim->DevicePath());
    const auto more = second.Read(30 * kPacketSize);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, ConversationBytes(9, got.size())) << "nothing lost or repeated across the pause";
    sim->Stop();

    std::lock_guard lock(mutex);
    const auto paused =
        std::find_if(changes.begin(), changes.end(), [](auto& c) { return c.first == RelayState::Paused; });
    ASSERT_NE(paused, changes.end());
    ASSERT_NE(paused + 1, changes.end());
    EXPECT_EQ(paused[1].first, RelayState::Sending);
    EXPECT_EQ(paused[1].second, paused[0].second) << "bytes were sent while nobody had the device";
}

TEST(RelaySimulator, TheLastCloseEndsAReadersExclusiveHold)
{
    auto sim = Conversing(2, 200.0);
    sim->Start();
    {
        DeviceReader reader(sim->DevicePath());
        ASSERT_EQ(::ioctl(reader.Fd(), TIOCEXCL), 0);
        EXPECT_EQ(reader.Read(kPacketSize).size(), kPacketSize);
    }
    ASSERT_TRUE(sim->WaitForState(RelayState::Paused, kPatience));
    DeviceReader next(sim->DevicePath()); // would fail with EBUSY for a user without privileges
    int exclusive = -1;
    ASSERT_EQ(::ioctl(next.Fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
}

TEST(RelaySimulator, StoppingIsPromptWhereverItWaits)
{
    auto waiting = Conversing(1, 1.0);
    waiting->Start();
    ASSERT_TRUE(waiting->WaitForState(RelayState::WaitingForReader, kPatience));
    waiting->Stop();
    EXPECT_EQ(waiting->State(), RelayState::Stopped);

    auto pacing = Conversing(1, 0.001); // the second packet is due in minutes
    pacing->Start();
    DeviceReader reader(pacing->DevicePath());
    EXPECT_EQ(reader.Read(kPacketSize).size(), kPacketSize);
    pacing->Stop();
    EXPECT_EQ(pacing->State(), RelayState::Stopped);
    EXPECT_EQ(pacing->Error(), nullptr);
}

TEST(RelaySimulator, AnUnpacedLoopKeepsUpWithASlowReaderByteForByte)
{
    std::vector<std::uint8_t> pattern(256);
    std::iota(pattern.begin(), pattern.end(), 0);
    auto sim = Replaying(pattern, true, Pacer::kUnpaced);
    sim->Start();
    DeviceReader reader(sim->DevicePath());
    constexpr std::size_t kTotal = 300 * 1024; // far beyond the device's buffers
    std::size_t got = 0;
    while (got < kTotal) {
        const auto chunk = reader.Read(1000);
        ASSERT_EQ(chunk.size(), 1000u) << "after " << got;
        for (std::size_t i = 0; i < chunk.size(); ++i)
            ASSERT_EQ(chunk[i], static_cast<std::uint8_t>((got + i) % 256)) << "byte " << got + i;
        got += chunk.size();
    }
}

TEST(RelaySimulator, TheLinkPointsToTheDeviceWhileItRuns)
{
    const varmio::test::TempDir dir;
    const auto link = dir.Path() / "relay";
    std::filesystem::create_symlink("/dev/pts/nonexistent", link); // left over from an earlier run
    RelayOptions options = WithSpeed(1.0);
    options.LinkPath = link.string();
    EXPECT_THROW(RelaySimulator{options}, std::system_error) << "replaced without being asked to";
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), "/dev/pts/nonexistent");
    options.ForceLink = true;
    {
        RelaySimulator sim(options);
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.DevicePath());
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "link left behind";

    std::ofstream(link) << "keep me";
    EXPECT_THROW(RelaySimulator{options}, std::system_error) << "a file is never replaced";
    std::string kept;
    std::getline(std::ifstream(link), kept);
    EXPECT_EQ(kept, "keep me");
}

} // namespace
} // namespace varmio::relaysim
