// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line is answered before any window system is needed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {

struct ProgramRun {
    int ExitCode = -1;
    std::string Output; // standard output and standard error
};

// Runs the program with `arguments` and no display of any kind.
ProgramRun RunWithoutDisplay(const std::string& arguments)
{
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" VARMIO_PROGRAM "' " + arguments + " 2>&1";
    ProgramRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) run.Output += chunk;
    const int status = ::pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(CommandLine, HelpVersionAndBadOptionsAnswerWithoutADisplay)
{
    const ProgramRun help = RunWithoutDisplay("--help");
    EXPECT_EQ(help.ExitCode, 0) << help.Output;
    EXPECT_NE(help.Output.find("Usage: varmio"), std::string::npos) << help.Output;
    EXPECT_NE(help.Output.find("--port <NAME>"), std::string::npos) << help.Output;

    const ProgramRun version = RunWithoutDisplay("--version");
    EXPECT_EQ(version.ExitCode, 0) << version.Output;
    EXPECT_EQ(version.Output, "varmio 1.0\n");

    for (const char* bad : {"--bogus", "--port", "stray", "--demo --port ttyS0"}) {
        const ProgramRun run = RunWithoutDisplay(bad);
        EXPECT_EQ(run.ExitCode, 2) << bad << ": " << run.Output;
        EXPECT_EQ(run.Output.rfind("varmio: ", 0), 0u) << bad << ": " << run.Output;
    }
}

} // namespace
