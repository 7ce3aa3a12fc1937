// SPDX-License-Identifier: GPL-3.0-or-later
// The installed package: the build tree's cport is installed into a temporary prefix, the example
// program is configured (with Qt kept out of sight), built against it and run on a pseudo-terminal.

#include "support/ChildProcess.h"
#include "support/PtyPair.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace {

using varmio::test::ChildOptions;
using varmio::test::ChildProcess;
using varmio::test::PtyPair;
using varmio::test::TempDir;

// Runs a program to its end; its exit code, with what it wrote in `output`.
int RunToEnd(const std::string& program, std::vector<std::string> args, std::string& output)
{
    ChildProcess child(program, std::move(args), ChildOptions{.outFile = "", .errFile = ""});
    const varmio::test::ChildResult result = child.Finish(std::chrono::minutes(5));
    output = result.out + result.err;
    return result.exitCode;
}

// The next line the master receives, or what came before the deadline.
std::string ReadLine(int master)
{
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (line.empty() || line.back() != '\n') {
        pollfd p{master, POLLIN, 0};
        if (std::chrono::steady_clock::now() > deadline || ::poll(&p, 1, 100) < 0) break;
        char c = 0;
        if ((p.revents & POLLIN) && ::read(master, &c, 1) == 1) line += c;
    }
    return line;
}

TEST(PackageTest, TheExampleBuildsAgainstTheInstalledPackageAndEchoesLines)
{
    TempDir temp;
    const std::string prefix = temp / "prefix";
    const std::string build = temp / "build";
    std::string output;
    ASSERT_EQ(
        RunToEnd(CPORT_CMAKE, {"--install", CPORT_BINARY_DIR, "--component", "cport", "--prefix", prefix}, output), 0)
        << output;
    // Both kinds of library, the shared one under its versioned name; no private header comes along.
    const std::filesystem::path lib = std::filesystem::path(prefix) / CPORT_LIBDIR;
    EXPECT_TRUE(std::filesystem::exists(lib / "libcport.a"));
    EXPECT_TRUE(std::filesystem::exists(lib / "libcport.so.1"));
    EXPECT_EQ(std::filesystem::read_symlink(lib / "libcport.so"), "libcport.so.1");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(prefix) / "include/common"));
    ASSERT_EQ(RunToEnd("/usr/bin/pkg-config", {"--with-path", (lib / "pkgconfig").string(), "--libs", "cport"}, output),
              0)
        << output;
    EXPECT_NE(output.find("-L" + (lib / "pkgconfig/../..").string()), std::string::npos) << output;
    EXPECT_NE(output.find("-lcport"), std::string::npos) << output;

    ASSERT_EQ(
        RunToEnd(CPORT_CMAKE,
                 {"-S", VARMIO_SOURCE_DIR "/examples/echo", "-B", build, "-G", "Ninja", "-DCMAKE_PREFIX_PATH=" + prefix,
                  "-DCMAKE_CXX_COMPILER=" CPORT_CXX_COMPILER, "-DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON"},
                 output),
        0)
        << output;
    ASSERT_EQ(RunToEnd(CPORT_CMAKE, {"--build", build}, output), 0) << output;

    PtyPair pty;
    ChildProcess echo(build + "/cport_echo", {pty.SlavePath()});
    ASSERT_EQ(echo.ReadLine(), "ready");
    ASSERT_TRUE(pty.Write("hello, line\n"));
    EXPECT_EQ(ReadLine(pty.Master()), "hello, line\n");
    ASSERT_TRUE(pty.Write("second\n"));
    EXPECT_EQ(ReadLine(pty.Master()), "second\n");
    ASSERT_TRUE(pty.Write("quit\n"));
    EXPECT_EQ(echo.Wait(), 0);
}

} // namespace
