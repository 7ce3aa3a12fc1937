// SPDX-License-Identifier: GPL-3.0-or-later
// Reading, line state and asynchronous records against the scripted fake device.

#include "PortTestSupport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace cport::test {
namespace {

std::size_t OpenFileCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

class PortIoTest : public PortFixture {
protected:
    PortIoTest()
    {
        // No event thread: these tests read on the main thread with nothing else touching the queue.
        port->SetEvents({});
        rx.SetOnLinkRx([this](TObject* sender, bool on) {
            EXPECT_EQ(sender, port.get());
            rxNotices.push_back(on);
        });
        port->AttachLink(&rx);
        port->OpenPort();
    }
    void TearDown() override
    {
        port->DetachLink(&rx);
        PortFixture::TearDown();
    }
    std::string Read(std::int32_t count)
    {
        std::string buffer(static_cast<std::size_t>(count), '\0');
        buffer.resize(static_cast<std::size_t>(port->ReadData(buffer.data(), count)));
        return buffer;
    }

    // Starts an 8-byte read that waits up to `totalMs` (on the fake's clock) for its bytes.
    PAsyncIo StartWaitingRead(char (&buffer)[8], std::int32_t totalMs)
    {
        port->Timeouts().SetReadInterval(0);
        port->Timeouts().SetReadTotalConstant(totalMs);
        PAsyncIo record;
        NewAsyncRecord(record);
        EXPECT_EQ(port->BeginRead(buffer, 8, record), 0) << "pending, nothing read yet";
        return record;
    }

    TComLink rx;
    std::vector<bool> rxNotices;
};

TEST_F(PortIoTest, ReadDataReturnsWhatIsWaitingWithoutBlocking)
{
    EXPECT_EQ(Read(33), "");
    EXPECT_EQ(rxNotices, std::vector<bool>{false}) << "an empty queue after a read switches receive activity off";

    fake->Receive("\x35\x35\x35\x01\x02");
    EXPECT_EQ(port->BytesWaiting(), 5);
    EXPECT_EQ(Read(33), std::string("\x35\x35\x35\x01\x02"));
    EXPECT_EQ(rxNotices, (std::vector<bool>{false, false}));
}

TEST_F(PortIoTest, AReadThatLeavesBytesQueuedTellsTheLinksNothing)
{
    const std::string sent(40, 'x');
    fake->Receive(sent);
    EXPECT_EQ(Read(33).size(), 33u);
    EXPECT_TRUE(rxNotices.empty());
    EXPECT_EQ(port->BytesWaiting(), 7);
    EXPECT_EQ(Read(33).size(), 7u);
    EXPECT_EQ(rxNotices, std::vector<bool>{false});
}

TEST_F(PortIoTest, ReadDataWaitsAsTheTimeoutsSay)
{
    char buffer[8];
    PAsyncIo record = StartWaitingRead(buffer, 100);
    EXPECT_EQ(fake->PendingReads(), 1u);
    fake->Receive("ab");
    fake->AdvanceTime(std::chrono::milliseconds(100));
    EXPECT_EQ(port->CompleteAsync(record), 2);
    EXPECT_EQ(std::string(buffer, 2), "ab");
    FreeAsyncRecord(record);
    EXPECT_EQ(record, nullptr);
}

TEST_F(PortIoTest, AReadTheCloseAbortedCompletesAsAFailedRead)
{
    char buffer[8];
    PAsyncIo record = StartWaitingRead(buffer, 1000);
    port->CancelAllIO();
    try {
        port->CompleteAsync(record);
        FAIL() << "an aborted read is a failed read";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), 3);
        EXPECT_EQ(e.WinErrorCode(), device::kErrorOperationAborted);
    }
}

TEST_F(PortIoTest, ACompletedWriteHandsItsCopyToTheLinks)
{
    std::string told;
    TComLink tx;
    tx.SetOnLinkTxBuf([&](TObject*, const void* data, std::int32_t count) {
        told.assign(static_cast<const char*>(data), static_cast<std::size_t>(count));
    });
    port->AttachLink(&tx);
    PAsyncIo record;
    NewAsyncRecord(record);
    char data[] = "abc";
    port->WriteDataAsync(data, 3, record);
    data[0] = 'x'; // the links get the copy taken as the write started
    EXPECT_EQ(AsyncFailureCode(*record), CE_WriteFailed);
    EXPECT_EQ(port->CompleteAsync(record), 3);
    EXPECT_EQ(told, "abc");
    EXPECT_FALSE(record->TxCopy) << "the copy goes once the links have it";
    EXPECT_TRUE(rxNotices.empty()) << "a write says nothing about receiving";
    port->DetachLink(&tx);
}

TEST_F(PortIoTest, ParityErrorsCountOnlyWhileParityIsChecked)
{
    fake->AddLineErrors(device::CE_RXPARITY | device::CE_FRAME);
    EXPECT_EQ(port->TakeLineErrors(), (TComErrors{ceFrame}));
    EXPECT_TRUE(port->TakeLineErrors().Empty()) << "reading clears them";

    port->Parity().SetCheck(true);
    fake->AddLineErrors(device::CE_RXPARITY | device::CE_FRAME | device::CE_OVERRUN | device::CE_RXOVER |
                        device::CE_TXFULL | device::CE_BREAK | device::CE_IOE | device::CE_MODE);
    EXPECT_EQ(port->TakeLineErrors(),
              (TComErrors{ceFrame, ceRxParity, ceOverrun, ceRxOver, ceTxFull, ceBreak, ceIO, ceMode}));
}

TEST_F(PortIoTest, CountingTheWaitingBytesConsumesPendingErrors)
{
    fake->AddLineErrors(device::CE_FRAME);
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_TRUE(port->TakeLineErrors().Empty());
}

TEST_F(PortIoTest, ModemSignalsGivesExactlyTheLinesThatAreOn)
{
    fake->SetModemStatus(device::MS_CTS_ON | device::MS_RLSD_ON);
    EXPECT_EQ(port->ModemSignals(), (TModemSignals{msCTS, msRLSD}));
    fake->SetModemStatus(device::MS_DSR_ON | device::MS_RING_ON);
    EXPECT_EQ(port->ModemSignals(), (TModemSignals{msDSR, msRing}));
}

TEST_F(PortIoTest, StartingAReadOnAClosedPortReportsBeforeAnyDeviceCall)
{
    port->ClosePort();
    fake->ClearCalls();
    CatchReports();
    PAsyncIo record;
    NewAsyncRecord(record);
    char buffer[4];
    EXPECT_EQ(port->BeginRead(buffer, 4, record), 0);
    EXPECT_EQ(port->ReadData(buffer, 4), 0);
    EXPECT_EQ(fake->CallCount(FakeDevice::opReadFile), 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].kind, CEPortNotOpen);
    EXPECT_EQ(reports[0].winError, -24);
    EXPECT_EQ(record->Direction, ioRead);
}

TEST_F(PortIoTest, ClosedPortQueriesFailAsTheDeviceDoesOnAClosedHandle)
{
    port->ClosePort();
    CatchReports();
    EXPECT_EQ(port->BytesWaiting(), 0);
    EXPECT_TRUE(port->ModemSignals().Empty());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].kind, CE_ClearComFailed);
    EXPECT_EQ(reports[0].winError, EBADF);
    EXPECT_EQ(reports[1].kind, CE_ModemStatFailed);
}

TEST_F(PortIoTest, ReadsReleaseTheirRecordAndEventOnEveryPath)
{
    const std::size_t before = OpenFileCount();
    for (int i = 0; i < 200; ++i) {
        fake->Receive("z");
        EXPECT_EQ(Read(4), "z");
    }
    fake->FailCall(FakeDevice::opGetOverlappedResult, EIO, 50);
    for (int i = 0; i < 50; ++i) EXPECT_THROW(Read(4), EComPort);
    EXPECT_EQ(OpenFileCount(), before);
}

} // namespace
} // namespace cport::test
