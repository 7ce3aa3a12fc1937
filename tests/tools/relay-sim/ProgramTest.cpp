#include "support/ChildProcess.h"
#include "support/DeviceReader.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(capture.data()), static_cast<std::streamsize>(capture.size()));
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

TEST_F(RelaySimProgram, RefusesBadOptionsWithAMessageAndANonZeroExit)
{
    const std::vector<std::vector<std::string>> bad{
        {"--speed", "0"}, {"--speed", "-2"}, {"--speed", "fast"}, {"--speed", "2", "--unpaced"},
        {"--loop"},       {"--bogus"},       {"--replay"},
    };
    for (const auto& args : bad) {
        Program sim(args);
        EXPECT_NE(sim.Wait(kPatience), 0) << args[0];
        EXPECT_EQ(sim.ReadOut(kPatience), "") << "no device path for " << args[0];
        EXPECT_NE(sim.ReadErr(kPatience), "") << args[0];
    }
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
