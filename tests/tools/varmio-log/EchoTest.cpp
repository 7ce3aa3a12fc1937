// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's echo on standard output: a reader that stalls never holds up the lines given to it
// (they are dropped and counted once the queue is full), a stalled reader can be given up on, and a
// reader that goes away is one error. Kept lines (a replay's decoded output) are never dropped: the
// feeder waits for room instead, and a stop signal ends that wait.

#include "Echo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <thread>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varmio::logger {
namespace {

TEST(EchoTest, AStalledReaderCostsDroppedLinesNeverAWaitAndCanBeGivenUpOn)
{
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 4096), 0);
    StdoutEcho echo(ends[1], 1000);
    const std::string line(99, 'x');
    for (int i = 0; i < 1000; ++i) echo.Line(line); // 100 000 bytes into a 4 KiB pipe nobody reads
    echo.Last("Frames: 1000");
    const std::uint64_t dropped = echo.Dropped();
    EXPECT_GT(dropped, 900u);
    EXPECT_LT(dropped, 1000u);

    const int cancel = ::eventfd(1, EFD_CLOEXEC); // a further stop signal, pending already
    EXPECT_FALSE(echo.Drain(cancel)) << "a reader that never reads is given up on";
    EXPECT_GT(echo.Dropped(), dropped) << "the lines still queued count as dropped";
    EXPECT_EQ(echo.Error(), 0);
    ::close(cancel);
    ::close(ends[0]); // the writer left stuck wakes with EPIPE and ends
    // The write end stays open until the process ends: the writer thread, given up on, may still be in
    // a write there, and a descriptor closed under it could be reused by the next test.
}

TEST(EchoTest, AReaderThatGoesAwayIsOneErrorAndTheRestIsDiscarded)
{
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    StdoutEcho echo(ends[1]);
    echo.Line("header");
    EXPECT_TRUE(echo.Drain(-1));
    EXPECT_EQ(echo.Error(), EPIPE);
    EXPECT_EQ(echo.Dropped(), 0u);
    ::close(ends[1]);
}

TEST(EchoTest, KeptLinesWaitForTheReaderWhereOrdinaryLinesAreDropped)
{
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int cancel = ::eventfd(0, EFD_CLOEXEC);
    ASSERT_GE(cancel, 0);
    std::string received;
    {
        StdoutEcho echo(pipeFds[1], 1000);
        // Far more than the pipe and the queue's capacity hold, with nobody reading yet.
        const std::string line(99, 'x');
        constexpr int kLines = 2000;
        for (int i = 0; i < kLines; ++i) echo.KeptLine(line);
        echo.Line(line); // an ordinary line finds the queue full
        EXPECT_EQ(echo.Dropped(), 1u);

        // The writer is stuck on the full pipe, so the queue stays over its capacity: only the stop
        // signal ends the wait.
        const std::uint64_t one = 1;
        ASSERT_EQ(::write(cancel, &one, sizeof one), static_cast<ssize_t>(sizeof one));
        EXPECT_FALSE(echo.WaitForRoom(cancel));

        std::jthread reader([&received, fd = pipeFds[0]] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
                received.append(buffer, static_cast<std::size_t>(n));
        });
        EXPECT_TRUE(echo.WaitForRoom(-1)); // the reader makes room
        EXPECT_TRUE(echo.Drain(-1));
        EXPECT_EQ(echo.Dropped(), 1u);
        ::close(pipeFds[1]);
        reader.join();
        EXPECT_EQ(std::count(received.begin(), received.end(), '\n'), kLines);
    }
    ::close(pipeFds[0]);
    ::close(cancel);
}

} // namespace
} // namespace varmio::logger
