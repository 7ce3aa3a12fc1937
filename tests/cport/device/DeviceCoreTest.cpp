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
    DeviceCoreTest()
        : core([this] { return DeviceCore::TimePoint(std::chrono::milliseconds(nowMs)); })
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

TEST_F(DeviceCoreTest, RxCharFiresOncePerArrivalAndNotWhileBytesSitUnread)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    ASSERT_EQ(GetLastError(), kErrorIoPending);
    EXPECT_FALSE(t.event.IsSet());

    Append("a");
    ASSERT_TRUE(t.event.IsSet());
    DWORD n = 0;
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(t.mask, EV_RXCHAR);

    // The byte is still unread: a new wait stays pending until something new arrives.
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_FALSE(t.event.IsSet());
    Append("b");
    EXPECT_TRUE(t.event.IsSet());
    EXPECT_EQ(core.Count(), 2u);
}

TEST_F(DeviceCoreTest, EventWithNoWaitPendingIsReturnedByTheNextWaitAtOnce)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR | EV_CTS));
    Append("x");
    core.RaiseEvents(EV_CTS);
    Transfer t;
    ASSERT_TRUE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(t.mask, EV_RXCHAR | EV_CTS);
    EXPECT_TRUE(t.event.IsSet());
    // The history was handed over: the next wait pends.
    EXPECT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(GetLastError(), kErrorIoPending);
    core.AbortAll();
}

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

TEST_F(DeviceCoreTest, SetMaskCompletesAPendingWaitWithNoEvents)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    ASSERT_TRUE(core.SetMask(0));
    ASSERT_TRUE(t.event.IsSet());
    DWORD n = 1;
    EXPECT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(t.mask, 0u);
    // With no event selected a wait cannot start, and its event stays clear.
    EXPECT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(t.event.IsSet());
}

TEST_F(DeviceCoreTest, BytesQueuedBeforeTheMaskSelectsThemAreAnnouncedByTheFirstWait)
{
    Append("early");
    ASSERT_TRUE(core.SetMask(EV_RXCHAR | EV_CTS));
    Transfer t;
    ASSERT_TRUE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(t.mask, EV_RXCHAR);
}

TEST_F(DeviceCoreTest, RefusesUnknownMaskBitsAndASecondWait)
{
    EXPECT_FALSE(core.SetMask(0x0800));
    EXPECT_EQ(GetLastError(), EINVAL);
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Transfer first, second;
    ASSERT_FALSE(core.WaitCommEvent(first.mask, first.ov));
    EXPECT_FALSE(core.WaitCommEvent(second.mask, second.ov));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(first.event.IsSet());
    core.AbortAll(); // the transfer must not outlive its overlapped record
}

TEST_F(DeviceCoreTest, EventCharRaisesRxFlagOnlyWhenItArrives)
{
    core.SetReceiveRules(ReceiveRules{false, false, '\n'});
    ASSERT_TRUE(core.SetMask(EV_RXFLAG));
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    Append("abc");
    EXPECT_FALSE(t.event.IsSet());
    Append("d\ne");
    ASSERT_TRUE(t.event.IsSet());
    EXPECT_EQ(t.mask, EV_RXFLAG);
}

TEST_F(DeviceCoreTest, Rx80FullFiresWhenTheQueueCrossesTheMarkOnly)
{
    ASSERT_TRUE(core.SetQueueSize(100));
    ASSERT_TRUE(core.SetMask(EV_RX80FULL));
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    Append(std::string(79, 'a'));
    EXPECT_FALSE(t.event.IsSet());
    Append("b");
    ASSERT_TRUE(t.event.IsSet());
    EXPECT_EQ(t.mask, EV_RX80FULL);

    // Still above the mark: more bytes raise nothing; falling below and crossing again does.
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    Append("c");
    EXPECT_FALSE(t.event.IsSet());
    EXPECT_EQ(ReadNow(core, 10).size(), 10u);
    Append(std::string(9, 'd'));
    EXPECT_TRUE(t.event.IsSet());
}

TEST_F(DeviceCoreTest, DiscardNullDropsNulBytesAndANulOnlyArrivalRaisesNothing)
{
    core.SetReceiveRules(ReceiveRules{true, false, 0});
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    core.Append("\0\0", 2);
    EXPECT_FALSE(t.event.IsSet());
    core.Append("a\0b\0\0c", 6);
    EXPECT_TRUE(t.event.IsSet());
    EXPECT_EQ(ReadNow(core, 10), "abc");
}

TEST_F(DeviceCoreTest, LineErrorsAreLatchedUntilTakenAndRaiseTheirEvents)
{
    ASSERT_TRUE(core.SetMask(EV_ERR | EV_BREAK));
    core.AddErrors(CE_FRAME);
    core.AddErrors(CE_BREAK | CE_RXOVER);
    Transfer t;
    ASSERT_TRUE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(t.mask, EV_ERR | EV_BREAK);

    DWORD errors = 0, inQueue = 99;
    ASSERT_TRUE(core.ClearCommError(errors, inQueue));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK | CE_RXOVER);
    EXPECT_EQ(inQueue, 0u);
    ASSERT_TRUE(core.ClearCommError(errors, inQueue));
    EXPECT_EQ(errors, 0u);
}

// ---- Reads and their timeouts -------------------------------------------------------------------------

TEST_F(DeviceCoreTest, ReadWithReturnAtOnceTimeoutsGivesWhatIsThereEvenNothing)
{
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    EXPECT_EQ(ReadNow(core, 33), "");
    Append("hello");
    EXPECT_EQ(ReadNow(core, 33), "hello");
    Append("0123456789");
    EXPECT_EQ(ReadNow(core, 4), "0123");
    EXPECT_EQ(core.Count(), 6u);
}

TEST_F(DeviceCoreTest, ReadWithoutTimeoutsWaitsForItsWholeCount)
{
    Transfer t;
    char buffer[8] = {};
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 5, n, t.ov));
    ASSERT_EQ(GetLastError(), kErrorIoPending);
    Append("abc");
    Advance(60'000);
    EXPECT_FALSE(t.event.IsSet());
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), kErrorIoIncomplete);
    Append("defg");
    ASSERT_TRUE(t.event.IsSet());
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buffer, n), "abcde");
    EXPECT_EQ(core.Count(), 2u);
}

TEST_F(DeviceCoreTest, TotalTimeoutCompletesWithWhatHasArrived)
{
    ASSERT_TRUE(core.SetTimeouts(COMMTIMEOUTS{0, 10, 100, 0, 0})); // 10 ms a byte + 100 ms
    Transfer t;
    char buffer[4] = {};
    DWORD n = 0;
    wakes = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 4, n, t.ov));
    EXPECT_GT(wakes, 0) << "a reader with a deadline must wake the feeder to time it";
    ASSERT_TRUE(core.NextDeadline().has_value());
    Append("ab");
    Advance(139);
    EXPECT_FALSE(t.event.IsSet());
    Advance(1);
    ASSERT_TRUE(t.event.IsSet());
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(std::string(buffer, n), "ab");
    EXPECT_FALSE(core.NextDeadline().has_value());
}

TEST_F(DeviceCoreTest, IntervalTimeoutRunsFromTheLastByte)
{
    ASSERT_TRUE(core.SetTimeouts(COMMTIMEOUTS{50, 0, 0, 0, 0}));
    Transfer t;
    char buffer[10] = {};
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 10, n, t.ov));
    Advance(500); // no byte yet: the interval timer has not started
    EXPECT_FALSE(t.event.IsSet());
    Append("a");
    Advance(40);
    Append("b");
    Advance(40);
    EXPECT_FALSE(t.event.IsSet());
    Advance(10);
    ASSERT_TRUE(t.event.IsSet());
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(std::string(buffer, n), "ab");
}

TEST_F(DeviceCoreTest, FirstByteTimeoutsReturnOnTheFirstArrivalOrNothingAfterTheConstant)
{
    ASSERT_TRUE(core.SetTimeouts(COMMTIMEOUTS{MAXDWORD, MAXDWORD, 200, 0, 0}));
    Transfer t;
    char buffer[10] = {};
    DWORD n = 0;
    ASSERT_FALSE(core.ReadFile(buffer, 10, n, t.ov));
    Append("xy");
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(std::string(buffer, n), "xy");

    ASSERT_FALSE(core.ReadFile(buffer, 10, n, t.ov));
    Advance(200);
    ASSERT_TRUE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(n, 0u);

    EXPECT_FALSE(core.SetTimeouts(COMMTIMEOUTS{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0}));
    EXPECT_EQ(GetLastError(), EINVAL);
}

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

TEST_F(DeviceCoreTest, PurgeRxAbortEndsPendingReadsAsAbortedAndKeepsTheBytes)
{
    Transfer t;
    char buffer[10] = {};
    DWORD n = 7;
    ASSERT_FALSE(core.ReadFile(buffer, 10, n, t.ov));
    Append("abc");
    ASSERT_TRUE(core.Purge(PURGE_TXABORT | PURGE_RXABORT));
    ASSERT_TRUE(t.event.IsSet());
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), kErrorOperationAborted);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(core.Count(), 3u);
}

TEST_F(DeviceCoreTest, PurgeRxClearEmptiesTheQueueSoTheNextReadSeesOnlyNewBytes)
{
    ASSERT_TRUE(core.SetTimeouts(kAtOnce));
    Append("old bytes");
    ASSERT_TRUE(core.Purge(PURGE_RXCLEAR | PURGE_TXCLEAR));
    EXPECT_EQ(core.Count(), 0u);
    Append("new");
    EXPECT_EQ(ReadNow(core, 20), "new");
    EXPECT_FALSE(core.Purge(0));
    EXPECT_FALSE(core.Purge(0x10));
    EXPECT_EQ(GetLastError(), EINVAL);
}

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

TEST_F(DeviceCoreTest, RemovalCompletesThePendingWaitOnceThenWaitsFailWithTheirEventClear)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    Transfer t;
    ASSERT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    core.Remove(ENODEV);
    ASSERT_TRUE(t.event.IsSet());
    DWORD n = 0;
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), ENODEV);

    EXPECT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(GetLastError(), ENODEV);
    EXPECT_FALSE(t.event.IsSet()) << "a waiter would spin on a set event";
    EXPECT_FALSE(core.SetMask(EV_RXCHAR));
    EXPECT_FALSE(core.SetTimeouts(kAtOnce));
    EXPECT_TRUE(core.Purge(PURGE_TXABORT | PURGE_RXABORT)) << "closing must stay possible";
}

TEST_F(DeviceCoreTest, RemovalWithNoWaitPendingIsReportedByTheNextWaitOnce)
{
    ASSERT_TRUE(core.SetMask(EV_RXCHAR));
    core.Remove(ENODEV);
    Transfer t;
    EXPECT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(GetLastError(), kErrorIoPending);
    ASSERT_TRUE(t.event.IsSet());
    DWORD n = 0;
    EXPECT_FALSE(core.GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), ENODEV);
    EXPECT_FALSE(core.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(GetLastError(), ENODEV);
    EXPECT_FALSE(t.event.IsSet());
}

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
