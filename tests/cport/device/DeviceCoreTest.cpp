// SPDX-License-Identifier: GPL-3.0-or-later
// The input queue, event history and overlapped completion that every device shares, driven directly
// with a clock of the test's own.

#include "DeviceTestSupport.h"
#include "common/DeviceCore.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace cport::device {
namespace {

using namespace test;

class DeviceCoreTest : public ::testing::Test {
protected:
    DeviceCoreTest() : core([this] { return DeviceCore::TimePoint(std::chrono::milliseconds(nowMs)); })
    {
        core.SetWakeHook([this] { ++wakes; });
        core.Reset();
    }

    void Advance(int ms)
    {
        nowMs += ms;
        core.ExpireDeadlines();
    }

    void Append(const std::string& bytes) { ASSERT_EQ(core.Append(bytes.data(), bytes.size()), bytes.size()); }

    long long nowMs = 1000;
    int wakes = 0;
    DeviceCore core;
};

// ---- Line events ------------------------------------------------------------------------------------

TEST_F(DeviceCoreTest, EventsOutsideTheMaskAreNeitherReportedNorRemembered)
{
    ASSERT_TRUE(core.SetMask(EV_DSR));
    core.RaiseEvents(EV_CTS | EV_RING | EV_PERR);
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    core.RaiseEvents(EV_CTS | EV_DSR);
    ASSERT_TRUE(t.event.IsSet());
    EXPECT_EQ(t.mask, EV_DSR);
}

// ---- Reads and their timeouts -------------------------------------------------------------------------

TEST_F(DeviceCoreTest, QueuedReadsCompleteInOrderAndTimeFromWhenTheyBecomeCurrent)
{
    ASSERT_TRUE(core.SetTimeouts(COMMTIMEOUTS{0, 0, 100, 0, 0}));
    Transfer first, second;
    char a[3] = {}, b[3] = {};
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(a, 3, n, first.ov));
    ASSERT_FALSE(core.ReadFile(b, 3, n, second.ov));
    Advance(60);
    Append("12345");
    ASSERT_TRUE(core.GetOverlappedResult(first.ov, n, false));
    EXPECT_EQ(std::string(a, n), "123");
    Advance(60); // 120 ms after the second read was issued, 60 ms after it became current
    EXPECT_FALSE(second.event.IsSet());
    Advance(40);
    ASSERT_TRUE(core.GetOverlappedResult(second.ov, n, false));
    EXPECT_EQ(std::string(b, n), "45");
}

TEST_F(DeviceCoreTest, GetOverlappedResultWithWaitBlocksUntilCompletion)
{
    Transfer t;
    char buffer[3] = {};
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 3, n, t.ov));
    std::jthread feeder([this] { core.Append("xyz", 3); });
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, true));
    EXPECT_EQ(std::string(buffer, n), "xyz");
}

// ---- Purge, queue size, flow ---------------------------------------------------------------------------

TEST_F(DeviceCoreTest, FullQueueWakesTheFeederWhenRoomAppearsWhileSomeoneWaits)
{
    ASSERT_TRUE(core.SetQueueSize(8));
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    EXPECT_EQ(core.Append("0123456789", 10), 8u);
    EXPECT_EQ(core.Append("89", 2), 0u) << "a full queue takes nothing";
    Transfer t;
    ASSERT_TRUE(core.WaitCommEvent(t.mask, t.ov));
    wakes = 0;
    EXPECT_EQ(ReadNow(core, 3), "012");
    EXPECT_EQ(wakes, 0) << "nobody waits: the next caller fetches the rest itself";
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(wakes, 1) << "a wait is pending while bytes sit on the line";
    EXPECT_EQ(core.Append("89", 2), 2u);
    EXPECT_TRUE(t.event.IsSet());
    EXPECT_EQ(ReadNow(core, 20), "3456789");
}

TEST_F(DeviceCoreTest, ReadLargerThanTheQueueTakesWhatAFullQueueHoldsUntilItHasAll)
{
    ASSERT_TRUE(core.SetQueueSize(4));
    Transfer t;
    char buffer[10] = {};
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 10, n, t.ov));
    const std::string sent = "0123456789";
    std::size_t at = 0;
    for (int round = 0; round < 10 && at < sent.size(); ++round) {
        at += core.Append(sent.data() + at, sent.size() - at);
    }
    ASSERT_EQ(at, sent.size()) << "the read must make room as the queue fills";
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(std::string(buffer, n), sent);

    // Aborted part-way, it still reports the bytes it had taken.
    ASSERT_FALSE(core.ReadFile(buffer, 10, n, t.ov));
    EXPECT_EQ(core.Append("abcdef", 6), 4u);
    ASSERT_TRUE(core.Purge(PURGE_RXABORT));
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buffer, n), "abcd");
}

TEST_F(DeviceCoreTest, WakeWhenCountAtMostRunsOnceTheReaderHasDrainedToTheLevel)
{
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    Append(std::string(100, 'z'));
    wakes = 0;
    core.WakeWhenCountAtMost(25);
    ReadNow(core, 70);
    EXPECT_EQ(wakes, 0);
    ReadNow(core, 5);
    EXPECT_EQ(wakes, 1);
    ReadNow(core, 5);
    EXPECT_EQ(wakes, 1);
}

TEST_F(DeviceCoreTest, ShrinkingTheQueueKeepsEveryQueuedByte)
{
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    ASSERT_TRUE(core.SetQueueSize(16));
    Append("abcdefghij");
    ReadNow(core, 6); // the ring now starts mid-buffer
    Append("klmnopqrst");
    ASSERT_TRUE(core.SetQueueSize(4));
    EXPECT_EQ(core.FreeSpace(), 0u);
    EXPECT_EQ(ReadNow(core, 100), "ghijklmnopqrst");
    EXPECT_FALSE(core.SetQueueSize(DeviceCore::kMaxQueueSize + 1));
}

TEST_F(DeviceCoreTest, StreamThroughAWrappingQueueArrivesUnchanged)
{
    ASSERT_TRUE(core.SetQueueSize(97)); // odd size: wraps at every offset
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    std::mt19937 random(7);
    std::string sent(100'000, '\0');
    for (char& c : sent) c = static_cast<char>(random());
    std::string received;
    std::size_t at = 0;
    while (received.size() < sent.size()) {
        const std::size_t chunk = std::min<std::size_t>(random() % 60, sent.size() - at);
        at += core.Append(sent.data() + at, chunk);
        received += ReadNow(core, static_cast<DWORD>(random() % 70));
    }
    EXPECT_TRUE(received == sent);
}

TEST_F(DeviceCoreTest, AbortOnErrorFailsReadsUntilTheErrorsAreTaken)
{
    core.SetReceiveRules(ReceiveRules{false, true, 0});
    Transfer t;
    char buffer[4];
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 4, n, t.ov));
    core.AddErrors(CE_OVERRUN);
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), kErrorOperationAborted);
    EXPECT_FALSE(core.ReadFile(buffer, 4, n, t.ov));
    EXPECT_EQ(GetLastError(), kErrorOperationAborted);
    DWORD errors = 0, inQueue = 0;
    ASSERT_TRUE(core.ClearCommError(errors, inQueue));
    EXPECT_FALSE(core.ReadFile(buffer, 4, n, t.ov));
    EXPECT_EQ(GetLastError(), kErrorIoPending);
    core.AbortAll();
}

// ---- Removal -------------------------------------------------------------------------------------------

TEST_F(DeviceCoreTest, BytesQueuedBeforeRemovalCanStillBeRead)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Append("last words");
    core.Remove(ENODEV);
    Transfer t;
    ASSERT_TRUE(core.WaitCommEvent(t.mask, t.ov)) << "the arrival comes before the removal";
    DWORD errors = 0, inQueue = 0;
    ASSERT_TRUE(core.ClearCommError(errors, inQueue));
    EXPECT_EQ(inQueue, 10u);
    EXPECT_EQ(ReadNow(core, 4), "last");
    EXPECT_EQ(ReadNow(core, 40), " words");
    // The count that follows the read which emptied the queue must not fail, or the caller loses what
    // that read took: "nothing waiting" until a wait has reported the removal.
    ASSERT_TRUE(core.ClearCommError(errors, inQueue));
    EXPECT_EQ(inQueue, 0u);
    EXPECT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    ASSERT_TRUE(t.event.IsSet());
    DWORD n = 0;
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), ENODEV);
    char buffer[4];
    EXPECT_FALSE(core.ReadFile(buffer, 4, n, t.ov));
    EXPECT_EQ(GetLastError(), ENODEV);
    EXPECT_FALSE(core.ClearCommError(errors, inQueue));
    EXPECT_EQ(GetLastError(), ENODEV);
}

TEST_F(DeviceCoreTest, ResetAbortsWhatIsPendingAndStartsAfresh)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Transfer wait, read;
    char buffer[4];
    DWORD n = 0;
    ASSERT_FALSE(core.WaitCommEvent(wait.mask, wait.ov));
    ASSERT_FALSE(core.ReadFile(buffer, 4, n, read.ov));
    core.Remove(ENODEV);
    core.Reset();
    EXPECT_EQ(core.RemovedError(), 0);
    EXPECT_EQ(core.Mask(), 0u);
    EXPECT_EQ(core.Capacity(), DeviceCore::kDefaultQueueSize);
    EXPECT_FALSE(core.HasPendingWait());
    EXPECT_EQ(core.PendingReads(), 0u);
}

// ---- DCB checks ------------------------------------------------------------------------------------------

TEST(CheckDcbTest, AcceptsWhatALineCanDoAndRefusesTheRest)
{
    DCB dcb;
    dcb.BaudRate = 19200;
    dcb.ByteSize = 8;
    EXPECT_EQ(CheckDcb(dcb), 0);
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_EQ(CheckDcb(dcb), 0);
    dcb.StopBits = ONE5STOPBITS;
    EXPECT_EQ(CheckDcb(dcb), EINVAL);
    dcb.ByteSize = 5;
    EXPECT_EQ(CheckDcb(dcb), 0);
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_EQ(CheckDcb(dcb), EINVAL);
    dcb.StopBits = ONESTOPBIT;
    dcb.ByteSize = 9;
    EXPECT_EQ(CheckDcb(dcb), EINVAL);
    dcb.ByteSize = 8;
    dcb.Parity = 5;
    EXPECT_EQ(CheckDcb(dcb), EINVAL);
    dcb.Parity = SPACEPARITY;
    dcb.BaudRate = 0;
    EXPECT_EQ(CheckDcb(dcb), EINVAL);
    dcb.BaudRate = 256000;
    dcb.Flags = fBinary | (3u << fDtrControlShift);
    EXPECT_EQ(CheckDcb(dcb), EINVAL);
}

} // namespace
} // namespace cport::device
