#include "DeviceReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <csignal>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

extern char** environ;

namespace varmio::relaysim {
namespace {

using namespace std::chrono_literals;
using test::ConversationBytes;
using test::DeviceReader;

constexpr auto kPatience = 20s;

// varmio-relay-sim run as a child process, its standard output and error on pipes.
class Program {
public:
    explicit Program(std::vector<std::string> args)
    {
        args.insert(args.begin(), VARMIO_RELAY_SIM);
        int out[2], err[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Program()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }

    // The first line of standard output, without its line end.
    std::string FirstLine()
    {
        std::string line;
        char c;
        while (Readable(m_out) && ::read(m_out, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    std::string AllOf(int fd)
    {
        std::string text;
        char block[512];
        ssize_t n;
        while (Readable(fd) && (n = ::read(fd, block, sizeof block)) > 0)
            text.append(block, static_cast<std::size_t>(n));
        return text;
    }
    std::string Output() { return AllOf(m_out); }
    std::string Errors() { return AllOf(m_err); }

    void Signal(int signal) { ::kill(m_pid, signal); }

    // The exit code, or -1 when it did not exit normally within the deadline.
    int ExitCode()
    {
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
        pollfd p{pidfd, POLLIN, 0};
        const bool ended = pidfd >= 0 && ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) == 1;
        ::close(pidfd);
        if (!ended)
            return -1;
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    static bool Readable(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) == 1;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

class RelaySimProgram : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(m_dir); }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir = std::filesystem::temp_directory_path() / ("relaysim-program-" + std::to_string(::getpid()));
};

TEST_F(RelaySimProgram, ReplaysACaptureIntoItsDeviceAndExitsOnceItIsRead)
{
    const auto capture = ConversationBytes(11, 3000 * kPacketSize); // more than the device buffers hold
    const auto file = m_dir / "capture.bin";
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(capture.data()), static_cast<std::streamsize>(capture.size()));
    const auto link = m_dir / "relay";

    Program sim({"--replay", file.string(), "--unpaced", "--link", link.string()});
    const std::string device = sim.FirstLine();
    EXPECT_TRUE(device.starts_with("/dev/pts/")) << device;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), device);
    DeviceReader reader(link.string());
    EXPECT_EQ(reader.Read(capture.size()), capture);
    EXPECT_EQ(sim.ExitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(RelaySimProgram, EndsCleanlyOnSigterm)
{
    const auto link = m_dir / "relay";
    Program sim({"--seed", "3", "--speed", "50", "--link", link.string()});
    DeviceReader reader(sim.FirstLine());
    EXPECT_EQ(reader.Read(4 * kPacketSize), ConversationBytes(3, 4 * kPacketSize));
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.ExitCode(), 0);
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
        EXPECT_NE(sim.ExitCode(), 0) << args[0];
        EXPECT_EQ(sim.Output(), "") << "no device path for " << args[0];
        EXPECT_NE(sim.Errors(), "") << args[0];
    }
}

TEST_F(RelaySimProgram, AnUnreadableCaptureIsNamedInTheError)
{
    const auto missing = (m_dir / "missing.bin").string();
    Program sim({"--replay", missing});
    EXPECT_EQ(sim.ExitCode(), 1);
    const std::string errors = sim.Errors();
    EXPECT_NE(errors.find(missing), std::string::npos) << errors;
    EXPECT_NE(errors.find("No such file"), std::string::npos) << errors;
}

} // namespace
} // namespace varmio::relaysim
