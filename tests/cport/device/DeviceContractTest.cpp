// SPDX-License-Identifier: GPL-3.0-or-later
// What every serial device does, whatever carries its line (see DeviceContract.h for the drivers).

#include "DeviceContract.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>

namespace cport::device::test {

namespace {

constexpr int kPatienceMs = 20'000; // a generous deadline for what should come at once

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

void DeviceContractTest::SetUp()
{
    driver = GetParam().make();
    ASSERT_TRUE(driver);
}

void DeviceContractTest::TearDown()
{
    if (device && device->IsOpen()) device->Close();
    device.reset();
}

void DeviceContractTest::OpenAsAPort(DWORD queueSize, DWORD mask, const DCB& line)
{
    device = driver->Open();
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->SetupComm(queueSize, queueSize));
    ASSERT_TRUE(device->SetCommState(line)) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
    ASSERT_TRUE(device->SetCommMask(mask));
}

DWORD DeviceContractTest::NextEvent(int ms)
{
    Transfer& t = waiter;
    if (!waitPending) {
        if (device->WaitCommEvent(t.mask, t.ov)) return t.mask;
        if (GetLastError() != kErrorIoPending) return 0;
        waitPending = true;
    }
    if (!driver->WaitFor(t.event, ms)) return 0;
    waitPending = false;
    DWORD n = 0;
    return device->GetOverlappedResult(t.ov, n, false) ? t.mask : 0;
}

DWORD DeviceContractTest::NextEvent() { return NextEvent(kPatienceMs); }

std::size_t DeviceContractTest::Waiting()
{
    DWORD errors = 0;
    COMSTAT stat;
    EXPECT_TRUE(device->ClearCommError(errors, stat)) << GetLastError();
    return stat.cbInQue;
}

std::string DeviceContractTest::ReadWaiting() { return ReadNow(*device, static_cast<DWORD>(Waiting())); }

DWORD DeviceContractTest::Queue(const std::string& bytes, std::size_t total)
{
    DWORD events = 0;
    if (bytes.empty()) return events;
    EXPECT_TRUE(driver->Send(bytes));
    // An arrival raises its event before the bytes can be counted: at least one event is there.
    do {
        const DWORD e = NextEvent();
        EXPECT_NE(e, 0u) << Waiting() << " of " << total << " bytes arrived";
        if (e == 0) break;
        events |= e;
    } while (Waiting() < total);
    return events;
}

std::string DeviceContractTest::Receive(std::size_t count)
{
    std::string received;
    while (received.size() < count && NextEvent() != 0) received += ReadWaiting();
    return received;
}

bool DeviceContractTest::StartRead(char* buffer, DWORD count)
{
    DWORD n = 0;
    if (device->ReadFile(buffer, count, n, reader.ov)) return true;
    EXPECT_EQ(GetLastError(), kErrorIoPending);
    return false;
}

std::string DeviceContractTest::EndRead(const char* buffer, int ms)
{
    EXPECT_TRUE(driver->WaitFor(reader.event, ms)) << "the read did not end within " << ms << " ms";
    DWORD n = 0;
    EXPECT_TRUE(device->GetOverlappedResult(reader.ov, n, false)) << GetLastError();
    return std::string(buffer, n);
}

namespace {

// ---- Events ---------------------------------------------------------------------------------------------

TEST_P(DeviceContractTest, CharacterReceivedFiresOncePerArrivalAndNeverWhileDataSitsUnread)
{
    OpenAsAPort();
    ASSERT_TRUE(driver->Send("a"));
    EXPECT_EQ(NextEvent(), EV_RXCHAR);
    EXPECT_EQ(NextEvent(200), 0u) << "nothing read, nothing new: no event";
    ASSERT_TRUE(driver->Send("b"));
    EXPECT_EQ(NextEvent(), EV_RXCHAR);
    EXPECT_EQ(ReadWaiting(), "ab");
    EXPECT_EQ(NextEvent(200), 0u);
}

TEST_P(DeviceContractTest, AnArrivalWithNoWaitPendingIsReturnedByTheNextWaitAtOnce)
{
    OpenAsAPort();
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{0, 0, 0, 0, 0}));
    ASSERT_TRUE(driver->Send("xy"));
    char byte = 0;
    if (!StartRead(&byte, 1)) EndRead(&byte, kPatienceMs); // the bytes are in, and no wait is pending
    ASSERT_EQ(byte, 'x');
    EXPECT_TRUE(device->WaitCommEvent(waiter.mask, waiter.ov)) << "the arrival is remembered";
    EXPECT_EQ(waiter.mask, EV_RXCHAR);
    EXPECT_TRUE(waiter.event.IsSet());
    EXPECT_EQ(NextEvent(200), 0u) << "and handed over once";
}

TEST_P(DeviceContractTest, BytesThatCameBeforeTheMaskSelectedThemAreAnnouncedByTheFirstWait)
{
    OpenAsAPort(1024, 0);
    ASSERT_TRUE(driver->Send("early"));
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_CTS));
    EXPECT_EQ(NextEvent(), EV_RXCHAR);
}

TEST_P(DeviceContractTest, ClearingTheMaskEndsAPendingWaitWithNoEventsAndNoWaitStartsWithoutOne)
{
    OpenAsAPort();
    ASSERT_FALSE(device->WaitCommEvent(waiter.mask, waiter.ov));
    ASSERT_EQ(GetLastError(), kErrorIoPending);
    ASSERT_TRUE(device->SetCommMask(0));
    ASSERT_TRUE(driver->WaitFor(waiter.event, kPatienceMs));
    DWORD n = 1;
    EXPECT_TRUE(device->GetOverlappedResult(waiter.ov, n, false));
    EXPECT_EQ(waiter.mask, 0u);
    EXPECT_FALSE(device->WaitCommEvent(waiter.mask, waiter.ov));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(waiter.event.IsSet()) << "a waiter would spin on a set event";
}

TEST_P(DeviceContractTest, UnknownMaskBitsAndASecondWaitAreRefused)
{
    OpenAsAPort();
    EXPECT_FALSE(device->SetCommMask(0x0800));
    EXPECT_EQ(GetLastError(), EINVAL);
    ASSERT_FALSE(device->WaitCommEvent(waiter.mask, waiter.ov));
    Transfer second;
    EXPECT_FALSE(device->WaitCommEvent(second.mask, second.ov));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(waiter.event.IsSet());
    ASSERT_TRUE(device->SetCommMask(0)); // ends the first wait; the second never started
}

TEST_P(DeviceContractTest, TheEventCharacterRaisesRxFlagOnlyWhenItArrives)
{
    DCB line = Line(19200);
    line.EvtChar = '\n';
    OpenAsAPort(1024, EV_RXCHAR | EV_RXFLAG, line);
    EXPECT_EQ(Queue("abc"), EV_RXCHAR);
    EXPECT_EQ(Queue("d\ne", 6), EV_RXCHAR | EV_RXFLAG);
    EXPECT_EQ(ReadWaiting(), "abcd\ne");
}

TEST_P(DeviceContractTest, DiscardNullDropsNulBytesAndANulOnlyArrivalRaisesNothing)
{
    DCB line = Line(19200);
    line.Flags |= fNull;
    OpenAsAPort(1024, EV_RXCHAR, line);
    ASSERT_TRUE(driver->Send(std::string("\0\0", 2)));
    EXPECT_EQ(NextEvent(200), 0u);
    ASSERT_TRUE(driver->Send(std::string("a\0b\0\0c", 6)));
    EXPECT_EQ(Receive(3), "abc");
}

TEST_P(DeviceContractTest, EveryByteValuePassesUnchanged)
{
    OpenAsAPort();
    std::string sent;
    for (int round = 0; round < 8; ++round) {
        for (int b = 0; b < 256; ++b) sent += static_cast<char>(b);
    }
    ASSERT_TRUE(driver->Send(sent));
    EXPECT_TRUE(Receive(sent.size()) == sent);
}

// ---- The input queue ------------------------------------------------------------------------------------

TEST_P(DeviceContractTest, BytesBeyondTheQueueWaitOnTheLineAndArriveInOrderAsRoomAppears)
{
    OpenAsAPort(64);
    std::string sent;
    for (int i = 0; i < 1000; ++i) sent += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(driver->Send(sent));
    std::string received;
    while (received.size() < sent.size() && NextEvent() != 0) {
        const std::size_t waiting = Waiting();
        ASSERT_LE(waiting, 64u) << "the queue holds no more than its size";
        received += ReadNow(*device, static_cast<DWORD>(waiting));
    }
    EXPECT_EQ(received, sent);
}

TEST_P(DeviceContractTest, Rx80FullFiresWhenTheQueueCrossesTheMarkOnly)
{
    OpenAsAPort(100, EV_RXCHAR | EV_RX80FULL);
    EXPECT_EQ(Queue(std::string(79, 'a')), EV_RXCHAR);
    EXPECT_EQ(Queue("b", 80), EV_RXCHAR | EV_RX80FULL);
    EXPECT_EQ(Queue("c", 81), EV_RXCHAR) << "still above the mark";
    EXPECT_EQ(ReadNow(*device, 10).size(), 10u);
    EXPECT_EQ(Queue(std::string(9, 'd'), 80), EV_RXCHAR | EV_RX80FULL) << "below the mark and across again";
}

// A stream through a small queue, read by an event thread as a port reads it while the far end sends.
TEST_P(DeviceContractTest, AStreamThroughASmallQueueArrivesUnchanged)
{
    OpenAsAPort(1024);
    std::mt19937 random(2024);
    std::string sent(10 * 1024 * 1024, '\0');
    for (char& c : sent) c = static_cast<char>(random());
    std::jthread sender([&] {
        std::mt19937 sizes(1);
        for (std::size_t at = 0; at < sent.size();) {
            const std::size_t n = std::min<std::size_t>(1 + sizes() % 8192, sent.size() - at);
            if (!driver->Send(std::string_view(sent).substr(at, n))) return;
            at += n;
        }
    });
    const std::string received = Receive(sent.size());
    if (received.size() != sent.size()) driver->Remove(); // frees a sender held back
    sender.join();
    ASSERT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent) << "bytes changed or out of order";
}

// ---- Purge ----------------------------------------------------------------------------------------------

TEST_P(DeviceContractTest, PurgeRxClearEmptiesTheQueueAndTheLineSoTheNextReadSeesOnlyNewBytes)
{
    OpenAsAPort(8);
    Queue("old bytes, more than the queue holds", 8);
    ASSERT_TRUE(device->PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_EQ(ReadWaiting(), "");
    Queue("new");
    EXPECT_EQ(ReadWaiting(), "new");
    EXPECT_FALSE(device->PurgeComm(0));
    EXPECT_FALSE(device->PurgeComm(0x10));
    EXPECT_EQ(GetLastError(), EINVAL);
}

TEST_P(DeviceContractTest, PurgeRxAbortEndsAPendingReadAsAbortedAndKeepsTheBytes)
{
    OpenAsAPort();
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{0, 0, 0, 0, 0}));
    char buffer[10] = {};
    ASSERT_FALSE(StartRead(buffer, 10));
    Queue("abc");
    ASSERT_TRUE(device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT));
    ASSERT_TRUE(driver->WaitFor(reader.event, kPatienceMs));
    DWORD n = 7;
    EXPECT_FALSE(device->GetOverlappedResult(reader.ov, n, false));
    EXPECT_EQ(GetLastError(), kErrorOperationAborted);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Waiting(), 3u);
}

TEST_P(DeviceContractTest, CloseAbortsATransferLeftPendingAndCallsOnAClosedDeviceFail)
{
    OpenAsAPort();
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{0, 0, 0, 0, 0}));
    char buffer[4];
    ASSERT_FALSE(StartRead(buffer, 4));
    ASSERT_TRUE(device->Close());
    ASSERT_TRUE(reader.event.IsSet());
    EXPECT_EQ(reader.ov.Internal.load(), kErrorOperationAborted);
    EXPECT_FALSE(device->IsOpen());
    DWORD status = 0;
    EXPECT_FALSE(device->GetCommModemStatus(status));
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(device->SetCommState(Line(9600)));
    EXPECT_FALSE(device->Close());
}

// ---- Line errors ----------------------------------------------------------------------------------------

TEST_P(DeviceContractTest, AQuietLineReportsNoErrors)
{
    OpenAsAPort(1024, EV_RXCHAR | EV_ERR | EV_BREAK);
    Queue("12345");
    DWORD errors = 0xFF;
    COMSTAT stat;
    ASSERT_TRUE(device->ClearCommError(errors, stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 5u);
}

TEST_P(DeviceContractTest, LineErrorsAreLatchedUntilTakenAndRaiseTheirEvents)
{
    if (!driver->CanRaiseLineErrors()) GTEST_SKIP() << "this device's far end cannot make line errors";
    OpenAsAPort(1024, EV_ERR | EV_BREAK);
    driver->RaiseLineErrors(CE_FRAME);
    driver->RaiseLineErrors(CE_BREAK | CE_RXOVER);
    DWORD events = 0;
    while (events != (EV_ERR | EV_BREAK)) {
        const DWORD e = NextEvent();
        ASSERT_NE(e, 0u);
        events |= e;
    }
    DWORD errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(device->ClearCommError(errors, stat));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK | CE_RXOVER);
    ASSERT_TRUE(device->ClearCommError(errors, stat));
    EXPECT_EQ(errors, 0u);
}

// ---- Removal --------------------------------------------------------------------------------------------

TEST_P(DeviceContractTest, RemovalEndsThePendingWaitOnceKeepsTheBytesAndLeavesOnlyPurgeAndClose)
{
    OpenAsAPort(1024, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_ERR);
    ASSERT_EQ(Queue("bye"), EV_RXCHAR);
    ASSERT_FALSE(device->WaitCommEvent(waiter.mask, waiter.ov));
    driver->Remove();

    ASSERT_TRUE(driver->WaitFor(waiter.event, kPatienceMs)) << "the pending wait reports the removal";
    DWORD n = 0;
    EXPECT_FALSE(device->GetOverlappedResult(waiter.ov, n, false));
    EXPECT_EQ(GetLastError(), driver->RemovedError());
    EXPECT_EQ(ReadWaiting(), "bye") << "bytes received before the removal are kept";

    // The next wait fails at once and leaves its event clear; nothing spins meanwhile.
    const double before = CpuSeconds();
    EXPECT_FALSE(device->WaitCommEvent(waiter.mask, waiter.ov));
    EXPECT_EQ(GetLastError(), driver->RemovedError());
    EXPECT_FALSE(driver->WaitFor(waiter.event, 300));
    EXPECT_LT(CpuSeconds() - before, 0.1) << "CPU seconds used while idle after the removal";

    char buffer[4];
    EXPECT_FALSE(device->ReadFile(buffer, 4, n, reader.ov));
    EXPECT_EQ(GetLastError(), driver->RemovedError());
    DWORD errors = 0;
    COMSTAT stat;
    EXPECT_FALSE(device->ClearCommError(errors, stat));
    DWORD status = 0;
    EXPECT_FALSE(device->GetCommModemStatus(status));
    EXPECT_EQ(GetLastError(), driver->RemovedError());
    EXPECT_FALSE(device->SetCommState(Line(19200)));
    EXPECT_FALSE(device->SetCommMask(EV_RXCHAR));
    EXPECT_FALSE(device->SetCommTimeouts(kAtOnce));
    EXPECT_TRUE(device->PurgeComm(PURGE_TXABORT | PURGE_RXABORT)) << "closing must stay possible";
    EXPECT_TRUE(device->Close());
}

TEST_P(DeviceContractTest, RemovalWithNoWaitPendingIsReportedByTheNextWaitOnce)
{
    OpenAsAPort();
    driver->Remove();
    if (!device->WaitCommEvent(waiter.mask, waiter.ov)) {
        ASSERT_EQ(GetLastError(), kErrorIoPending);
        ASSERT_TRUE(driver->WaitFor(waiter.event, kPatienceMs));
    }
    DWORD n = 0;
    EXPECT_FALSE(device->GetOverlappedResult(waiter.ov, n, false));
    EXPECT_EQ(GetLastError(), driver->RemovedError());
    EXPECT_FALSE(device->WaitCommEvent(waiter.mask, waiter.ov));
    EXPECT_EQ(GetLastError(), driver->RemovedError());
    EXPECT_FALSE(waiter.event.IsSet());
}

// ---- Read timeouts --------------------------------------------------------------------------------------

// One row of the timeout rules (Device.h): with `queued` bytes waiting, a read of `count` bytes ends
// after `ms` with `result` bytes, nothing arriving meanwhile.
struct TimedRead {
    const char* name;
    COMMTIMEOUTS timeouts;
    DWORD queued;
    DWORD count;
    DWORD result;
    int ms;
};

constexpr TimedRead kTimedReads[] = {
    {"return at once, 3 queued", {MAXDWORD, 0, 0, 0, 0}, 3, 10, 3, 0},
    {"return at once, none queued", {MAXDWORD, 0, 0, 0, 0}, 0, 10, 0, 0},
    {"first byte, 3 queued", {MAXDWORD, MAXDWORD, 600, 0, 0}, 3, 10, 3, 0},
    {"first byte, none queued", {MAXDWORD, MAXDWORD, 600, 0, 0}, 0, 10, 0, 600},
    {"MAXDWORD with total 600, 3 queued", {MAXDWORD, 0, 600, 0, 0}, 3, 10, 3, 0},
    {"MAXDWORD with totals 10 x 10 + 500, 3 queued", {MAXDWORD, 10, 500, 0, 0}, 3, 10, 3, 0},
    {"MAXDWORD with totals 10 x 10 + 500, none queued", {MAXDWORD, 10, 500, 0, 0}, 0, 10, 0, 600},
    {"interval 300 only, 3 queued", {300, 0, 0, 0, 0}, 3, 10, 3, 300},
    {"totals 10 x 10 + 500 only, 3 queued", {0, 10, 500, 0, 0}, 3, 10, 3, 600},
    {"totals 10 x 10 + 500 only, all queued", {0, 10, 500, 0, 0}, 10, 10, 10, 0},
    {"interval 300 before totals 10 x 10 + 1000", {300, 10, 1000, 0, 0}, 3, 10, 3, 300},
    {"totals 10 x 10 + 200 before interval 1000", {1000, 10, 200, 0, 0}, 3, 10, 3, 300},
};

TEST_P(DeviceContractTest, ReadTimeoutsEndAReadAsTheirRowSays)
{
    OpenAsAPort();
    for (const TimedRead& row : kTimedReads) {
        SCOPED_TRACE(row.name);
        Queue(std::string(row.queued, 'q'));
        ASSERT_TRUE(device->SetCommTimeouts(row.timeouts));
        char buffer[16] = {};
        const std::int64_t start = driver->NowMs();
        std::string got;
        DWORD n = 0;
        if (device->ReadFile(buffer, row.count, n, reader.ov)) got.assign(buffer, n);
        else got = EndRead(buffer, row.ms + driver->LateMs() + 1000);
        const std::int64_t took = driver->NowMs() - start;
        std::printf("[ timeout  ] %-50s %4d ms due, %4lld ms taken, %u bytes\n", row.name, row.ms,
                    static_cast<long long>(took), static_cast<unsigned>(got.size()));
        EXPECT_EQ(got, std::string(row.result, 'q'));
        EXPECT_GE(took, row.ms - 1); // a millisecond's rounding of the clock that measures
        EXPECT_LE(took, row.ms + driver->LateMs());
        ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
        ReadWaiting();
    }
}

TEST_P(DeviceContractTest, WithoutTimeoutsAReadWaitsForItsWholeCount)
{
    OpenAsAPort();
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{0, 0, 0, 0, 0}));
    Queue("abc");
    char buffer[8] = {};
    ASSERT_FALSE(StartRead(buffer, 5));
    EXPECT_FALSE(driver->WaitFor(reader.event, 500));
    DWORD n = 0;
    EXPECT_FALSE(device->GetOverlappedResult(reader.ov, n, false));
    EXPECT_EQ(GetLastError(), kErrorIoIncomplete);
    ASSERT_TRUE(driver->Send("defg"));
    EXPECT_EQ(EndRead(buffer, kPatienceMs), "abcde");
    ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
    EXPECT_EQ(Receive(2), "fg");
}

// With MAXDWORD and a total, a read that finds nothing ends with the first bytes to arrive.
TEST_P(DeviceContractTest, FirstByteTimeoutsEndWithTheFirstArrival)
{
    OpenAsAPort();
    for (const COMMTIMEOUTS timeouts :
         {COMMTIMEOUTS{MAXDWORD, MAXDWORD, 5000, 0, 0}, COMMTIMEOUTS{MAXDWORD, 0, 5000, 0, 0},
          COMMTIMEOUTS{MAXDWORD, 100, 4000, 0, 0}}) {
        SCOPED_TRACE(timeouts.ReadTotalTimeoutMultiplier);
        ASSERT_TRUE(device->SetCommTimeouts(timeouts));
        char buffer[10] = {};
        ASSERT_FALSE(StartRead(buffer, 10));
        const std::int64_t start = driver->NowMs();
        ASSERT_TRUE(driver->Send("xy"));
        EXPECT_EQ(EndRead(buffer, kPatienceMs), "xy");
        std::printf("[ timeout  ] first byte with total %u: ended %lld ms after the bytes were sent\n",
                    static_cast<unsigned>(timeouts.ReadTotalTimeoutConstant),
                    static_cast<long long>(driver->NowMs() - start));
        EXPECT_LT(driver->NowMs() - start, 4000);
    }
    EXPECT_FALSE(device->SetCommTimeouts(COMMTIMEOUTS{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0}));
    EXPECT_EQ(GetLastError(), EINVAL);
}

// The interval timer starts with the first byte and starts again with every byte after it.
TEST_P(DeviceContractTest, IntervalTimeoutRunsFromTheLastByte)
{
    OpenAsAPort();
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{400, 0, 0, 0, 0}));
    char buffer[10] = {};
    ASSERT_FALSE(StartRead(buffer, 10));
    EXPECT_FALSE(driver->WaitFor(reader.event, 600)) << "no byte yet: the interval timer has not started";
    ASSERT_TRUE(driver->Send("a"));
    EXPECT_FALSE(driver->WaitFor(reader.event, 250));
    ASSERT_TRUE(driver->Send("b"));
    const std::int64_t sentB = driver->NowMs();
    EXPECT_FALSE(driver->WaitFor(reader.event, 250)) << "more than the interval after 'a', less after 'b'";
    EXPECT_EQ(EndRead(buffer, 150 + driver->LateMs() + 1000), "ab");
    const std::int64_t took = driver->NowMs() - sentB;
    std::printf("[ timeout  ] interval 400: ended %lld ms after the last byte was sent\n",
                static_cast<long long>(took));
    EXPECT_GE(took, 399);
    EXPECT_LE(took, 400 + driver->LateMs());
}

// A multiplier of MAXDWORD with thousands of bytes asks for more time than the clock holds: no limit,
// never a read that ends at once with nothing.
TEST_P(DeviceContractTest, ATotalBeyondTheClocksRangeIsNoLimit)
{
    OpenAsAPort(8192);
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{0, MAXDWORD, 0, 0, 0}));
    std::string buffer(4096, '\0');
    ASSERT_FALSE(StartRead(buffer.data(), 4096)) << "ended at once";
    EXPECT_FALSE(driver->WaitFor(reader.event, 300));
    std::string sent(4096, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 13);
    ASSERT_TRUE(driver->Send(sent));
    EXPECT_TRUE(EndRead(buffer.data(), kPatienceMs) == sent);

    // The same total with MAXDWORD as interval: no limit on the wait for the first bytes.
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{MAXDWORD, MAXDWORD, 0, 0, 0}));
    ASSERT_FALSE(StartRead(buffer.data(), 4096)) << "ended at once";
    EXPECT_FALSE(driver->WaitFor(reader.event, 300));
    ASSERT_TRUE(driver->Send("xy"));
    EXPECT_EQ(EndRead(buffer.data(), kPatienceMs), "xy");
}

// ---- Writing ----------------------------------------------------------------------------------------

// Two writes back to back, every byte value in both: the far end gets them whole and in order, each
// write completes with its full count (at once or through its event), and the output running empty
// raises EV_TXEMPTY.
TEST_P(DeviceContractTest, WritesArriveWholeInOrderAndRaiseTxEmpty)
{
    OpenAsAPort(1024, EV_TXEMPTY);
    std::string first, second;
    for (int i = 0; i < 4096; ++i) first += static_cast<char>(i % 256);
    for (int i = 0; i < 3000; ++i) second += static_cast<char>(255 - i % 256);
    Transfer a, b;
    DWORD writtenA = 0, writtenB = 0;
    for (auto [bytes, t, written] : {std::tuple{&first, &a, &writtenA}, std::tuple{&second, &b, &writtenB}}) {
        const bool atOnce = device->WriteFile(bytes->data(), static_cast<DWORD>(bytes->size()), *written, t->ov);
        ASSERT_TRUE(atOnce || GetLastError() == kErrorIoPending) << GetLastError();
    }
    const std::string got = driver->Transmitted(first.size() + second.size(), 10'000);
    for (auto [t, written] : {std::pair{&a, &writtenA}, std::pair{&b, &writtenB}}) {
        ASSERT_TRUE(t->event.Wait(10'000));
        ASSERT_TRUE(device->GetOverlappedResult(t->ov, *written, false)) << GetLastError();
    }
    EXPECT_EQ(writtenA, first.size());
    EXPECT_EQ(writtenB, second.size());
    EXPECT_TRUE(got == first + second) << "got " << got.size() << " bytes";
    EXPECT_EQ(NextEvent(), EV_TXEMPTY);
}

// A write the far end does not take stays pending; PURGE_TXABORT ends it as aborted with the count of
// the bytes that went, exactly those reach the far end, and the next write follows them whole.
TEST_P(DeviceContractTest, PurgeTxAbortEndsAStalledWriteWithWhatWentAndTheNextWriteGoesThrough)
{
    OpenAsAPort();
    if (!driver->HoldWrites()) GTEST_SKIP() << "this device's far end cannot be held back";
    ASSERT_TRUE(device->SetCommTimeouts(COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0})); // writes without a limit
    std::string block(16 * 1024 * 1024, '\0'); // more than a pty or a loopback connection holds
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i % 3 == 0 ? 0xFF : 'a' + i % 23);
    Transfer stalled;
    DWORD n = 0;
    ASSERT_FALSE(device->WriteFile(block.data(), static_cast<DWORD>(block.size()), n, stalled.ov));
    ASSERT_EQ(GetLastError(), kErrorIoPending);
    EXPECT_FALSE(driver->WaitFor(stalled.event, 300)) << "the far end took the whole block";
    ASSERT_TRUE(device->PurgeComm(PURGE_TXABORT));
    ASSERT_TRUE(driver->WaitFor(stalled.event, kPatienceMs));
    EXPECT_FALSE(device->GetOverlappedResult(stalled.ov, n, false));
    EXPECT_EQ(GetLastError(), kErrorOperationAborted);
    ASSERT_LT(n, block.size());

    const std::string next = "after the purge";
    Transfer t;
    DWORD written = 0;
    const bool atOnce = device->WriteFile(next.data(), static_cast<DWORD>(next.size()), written, t.ov);
    ASSERT_TRUE(atOnce || GetLastError() == kErrorIoPending) << GetLastError();
    const std::string got = driver->Transmitted(n + next.size(), kPatienceMs);
    ASSERT_TRUE(driver->WaitFor(t.event, kPatienceMs));
    EXPECT_TRUE(device->GetOverlappedResult(t.ov, written, false)) << GetLastError();
    EXPECT_EQ(written, next.size());
    EXPECT_TRUE(got == block.substr(0, n) + next) << got.size() << " bytes came for " << n << " + " << next.size();
}

} // namespace
} // namespace cport::device::test
