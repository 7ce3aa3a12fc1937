// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ChildProcess.h"
#include "support/DeviceReader.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <csignal>

namespace varmio::relaysim {
namespace {

using namespace std::chrono_literals;
using test::ConversationBytes;
using test::DeviceReader;

constexpr auto kPatience = 20s;

// varmio-relay-sim run as a child process, its standard output and error on pipes.
class Program : public varmio::test::ChildProcess {
public:
    explicit Program(std::vector<std::string> args) : ChildProcess(VARMIO_RELAY_SIM, std::move(args)) {}
};

class RelaySimProgram : public ::testing::Test {
protected:
    varmio::test::TempDir m_dir;
};

TEST_F(RelaySimProgram, ReplaysACaptureIntoItsDeviceAndExitsOnceItIsRead)
{
    const auto capture = ConversationBytes(11, 3000 * kPacketSize); // more than the device buffers hold
    const auto file = m_dir.Path() / "capture.bin";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(capture.data()), static_cast<std::streamsize>(capture.size()));
    const auto link = m_dir.Path() / "relay";

    Program sim({"--replay", file.string(), "--unpaced", "--link", link.string()});
    const std::string device = sim.ReadLine(kPatience);
    EXPECT_TRUE(device.starts_with("/dev/pts/")) << device;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), device);
    DeviceReader reader(link.string());
    EXPECT_EQ(reader.Read(capture.size()), capture);
    EXPECT_EQ(sim.Wait(kPatience), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(RelaySimProgram, EndsCleanlyOnSigterm)
{
    const auto link = m_dir.Path() / "relay";
    Program sim({"--seed", "3", "--speed", "50", "--link", link.string()});
    DeviceReader reader(sim.ReadLine(kPatience));
    EXPECT_EQ(reader.Read(4 * kPacketSize), ConversationBytes(3, 4 * kPacketSize));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(kPatience), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(RelaySimProgram, RefusesBadOptionsWithOneLineAndStatusTwo)
{
    const std::vector<std::vector<std::string>> bad{
        {"--speed", "0"}, {"--speed", "-2"}, {"--speed", "fast"}, {"--speed", "2", "--unpaced"},
        {"--loop"},       {"--bogus"},       {"--replay"},        {"--force-link"},
    };
    for (const auto& args : bad) {
        Program sim(args);
        EXPECT_EQ(sim.Wait(kPatience), 2) << args[0];
        EXPECT_EQ(sim.ReadOut(kPatience), "") << "no device path for " << args[0];
        const std::string errors = sim.ReadErr(kPatience);
        EXPECT_TRUE(errors.starts_with("varmio-relay-sim: ")) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    }
}

TEST_F(RelaySimProgram, TheLinkNeverTakesWhatIsNotItsOwn)
{
    const auto link = m_dir.Path() / "relay";
    const auto file = m_dir.Path() / "mine.txt";
    ASSERT_TRUE(varmio::test::WriteFile(file, "mine"));
    std::filesystem::create_symlink(file, link); // the user's own link
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--link", link.string()}, {"--link", file.string()}, {"--link", file.string(), "--force-link"}}) {
        Program refused(args);
        EXPECT_EQ(refused.Wait(kPatience), 1) << args[1];
        EXPECT_NE(refused.ReadErr(kPatience).find("File exists"), std::string::npos);
    }
    EXPECT_EQ(std::filesystem::read_symlink(link), file);
    EXPECT_EQ(varmio::test::ReadFile(file), "mine");

    // Asked to, a second simulator takes the link over; the first then leaves it alone at its end, and
    // the second removes it at its own, on SIGHUP as on SIGPIPE.
    std::filesystem::remove(link);
    Program first({"--seed", "1", "--link", link.string()});
    const std::string firstDevice = first.ReadLine(kPatience);
    ASSERT_EQ(std::filesystem::read_symlink(link).string(), firstDevice);
    Program second({"--seed", "1", "--link", link.string(), "--force-link"});
    const std::string secondDevice = second.ReadLine(kPatience);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), secondDevice);
    first.Signal(SIGHUP);
    EXPECT_EQ(first.Wait(kPatience), 0);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), secondDevice);
    second.Signal(SIGPIPE);
    EXPECT_EQ(second.Wait(kPatience), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(RelaySimProgram, AnEndlessCaptureIsStreamed)
{
    // Read whole first, an endless file would never let the device appear.
    Program sim({"--replay", "/dev/zero", "--unpaced"});
    DeviceReader reader(sim.ReadLine(kPatience));
    EXPECT_EQ(reader.Read(1024 * 1024), std::vector<std::uint8_t>(1024 * 1024, 0));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(kPatience), 0);
}

TEST_F(RelaySimProgram, AnUnreadableCaptureIsNamedInTheError)
{
    const auto missing = (m_dir.Path() / "missing.bin").string();
    Program sim({"--replay", missing});
    EXPECT_EQ(sim.Wait(kPatience), 1);
    const std::string errors = sim.ReadErr(kPatience);
    EXPECT_NE(errors.find(missing), std::string::npos) << errors;
    EXPECT_NE(errors.find("No such file"), std::string::npos) << errors;
}

} // namespace
} // namespace varmio::relaysim
