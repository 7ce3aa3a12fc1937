// SPDX-License-Identifier: GPL-3.0-or-later
// The event thread and event dispatch against the scripted fake device: the hand-over of each batch in
// every route, each operation's link notices and hooks, the received-data rules, closing while a
// hand-over waits, and what happens when the event loop ends by a failure.

#include "PortTestSupport.h"
#include "support/Eventually.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace cport::test {
namespace {

using Trace = std::vector<std::string>;

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Hex(unsigned bits)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", bits);
    return text;
}

class PortEventsFixture : public PortFixture {
protected:
    PortEventsFixture()
    {
        TraceHooks();
        TraceLink(link, "L");
        port->AttachLink(&link);
        port->SetOnError([this](TObject*, TComErrors e) { Mark("Error " + Hex(e.Bits())); });
        port->SetOnRxChar([this](TObject*, std::int32_t count) { Mark("RxChar " + std::to_string(count)); });
        port->SetOnRxBuf([this](TObject*, const void* data, std::int32_t count) {
            Mark("RxBuf " + std::string(static_cast<const char*>(data), static_cast<std::size_t>(count)));
        });
        port->SetOnTxEmpty([this](TObject*) { Mark("TxEmpty"); });
        port->SetOnBreak([this](TObject*) {
            Mark("Break");
            marker.Set();
        });
        port->SetOnRing([this](TObject*) { Mark("Ring"); });
        port->SetOnRxFlag([this](TObject*) { Mark("RxFlag"); });
        port->SetOnRx80Full([this](TObject*) {
            Mark("Rx80Full");
            marker.Set();
        });
    }
    void TearDown() override
    {
        if (port) {
            port->ClosePort();
            port->DetachLink(&link);
        }
        PortFixture::TearDown();
    }
    void Open(TSyncMethod sync = smThreadSync)
    {
        port->SetSyncMethod(sync);
        port->OpenPort();
        ForgetDeviceCalls();
    }
    // Serves the main-thread queue until the marker hook (OnBreak or OnRx80Full) has run.
    bool WaitForMarker()
    {
        const bool reached = loop.RunUntil(marker, kDeadlineMs);
        marker.Reset();
        return reached;
    }
    // A break after everything else: once its hook ran, all earlier events have been handled.
    Trace TraceUpToABreak()
    {
        fake->RaiseEvents(device::EV_BREAK);
        EXPECT_TRUE(WaitForMarker());
        Trace t = TakeTrace();
        EXPECT_FALSE(t.empty());
        if (!t.empty() && t.back() == "Break") t.pop_back();
        return t;
    }

    TComLink link;
    device::Event marker{false};
};

// ---- The hand-over of a batch, in every route ------------------------------------------------------------

class PortHandOverTest : public PortEventsFixture, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(PortHandOverTest, RunsEveryEventOfABatchInTableOrderWithItsLinkNoticesAndHooks)
{
    const TSyncMethod sync = GetParam();
    device::Event inFirstBatch(false);
    device::Event release(false);
    bool first = true;
    port->SetOnRing([&](TObject*) {
        Mark("Ring");
        if (std::exchange(first, false) && sync == smNone) {
            // Hold the event thread inside its first batch while the other line events gather.
            inFirstBatch.Set();
            EXPECT_TRUE(release.Wait(kDeadlineMs));
        }
    });
    port->SetOnBreak([this](TObject*) { Mark("Break"); });
    Open(sync);

    // A first batch whose handlers touch neither the input queue nor the line errors.
    fake->RaiseEvents(device::EV_RING | device::EV_RXFLAG);
    if (sync == smNone) {
        ASSERT_TRUE(inFirstBatch.Wait(kDeadlineMs));
    } else {
        // The event thread now waits in its hand-over until the main thread serves the queue.
        ASSERT_TRUE(MainThreadQueue::QueueEvent().Wait(kDeadlineMs));
    }
    // Everything else happens while it waits, and so comes as one second batch.
    fake->AddLineErrors(device::CE_FRAME);
    fake->Receive("x");
    fake->SetModemStatus(device::MS_CTS_ON | device::MS_DSR_ON | device::MS_RLSD_ON | device::MS_RING_ON);
    fake->RaiseEvents(device::EV_TXEMPTY | device::EV_BREAK | device::EV_RXFLAG | device::EV_RX80FULL);
    release.Set();
    ASSERT_TRUE(WaitForMarker());

    const Trace expected = {
        "L.Ring",
        "L.RxFlag",
        "RxFlag", // the first batch
        "dev:ClearCommError()",
        "Error 0x01", // evError
        "dev:ClearCommError()",
        "L.Rx on",
        "RxChar 1", // evRxChar
        "L.Tx off",
        "L.TxEmpty",
        "TxEmpty", // evTxEmpty
        "Break",   // evBreak
        "L.Ring",
        "Ring", // evRing
        "dev:GetCommModemStatus()",
        "L.CTS on",
        "CTS on", // evCTS
        "dev:GetCommModemStatus()",
        "L.DSR on",
        "DSR on", // evDSR
        "L.RxFlag",
        "RxFlag", // evRxFlag
        "dev:GetCommModemStatus()",
        "L.RLSD on",
        "RLSD on",  // evRLSD
        "Rx80Full", // evRx80Full
    };
    Trace actual = TakeTrace();
    // The first batch's own Ring hook marks before it blocks (smNone) or when it runs; either way
    // it follows its link notice.
    const auto firstRing = std::find(actual.begin(), actual.end(), "Ring");
    ASSERT_NE(firstRing, actual.end());
    EXPECT_EQ(firstRing - actual.begin(), 1);
    actual.erase(firstRing);
    EXPECT_EQ(actual, expected);
}

TEST_P(PortHandOverTest, AClosingPortServesTheHandOverItFindsWaiting)
{
    const TSyncMethod sync = GetParam();
    ApplicationErrors errors;
    device::Event inHandler(false);
    if (sync == smNone) {
        // Blocked on the event thread in a read that only the close's abort can end.
        port->Timeouts().SetReadInterval(0);
        port->Timeouts().SetReadTotalConstant(60000);
        port->SetOnRxChar([&](TObject* sender, std::int32_t) {
            auto& p = *static_cast<TCustomComPort*>(sender);
            char buffer[64];
            PAsyncIo record;
            NewAsyncRecord(record);
            p.BeginRead(buffer, sizeof buffer, record);
            inHandler.Set(); // the read is pending: the close's abort will end it
            p.CompleteAsync(record);
        });
    }
    Open(sync);
    fake->Receive("x");
    if (sync == smNone) {
        ASSERT_TRUE(inHandler.Wait(kDeadlineMs));
        ASSERT_EQ(fake->PendingReads(), 1u) << "announced only once its read is pending";
    } else {
        ASSERT_TRUE(MainThreadQueue::QueueEvent().Wait(kDeadlineMs));
    }

    port->ClosePort();
    EXPECT_FALSE(port->Connected());
    const Trace t = TakeTrace();
    const auto beforeClose = std::find(t.begin(), t.end(), "BeforeClose");
    const auto deviceClosed = std::find(t.begin(), t.end(), "dev:Close()");
    ASSERT_LT(beforeClose, deviceClosed);
    if (sync != smNone) {
        // The waiting hand-over ran while the close waited for the thread, before the device closed.
        // (Under smWindowSync the sender is released as the message begins, so the thread's final
        // purge may empty the queue before the handler counts it: the handling is what is certain.)
        const auto handled = std::find(t.begin(), t.end(), "dev:ClearCommError()");
        EXPECT_GT(handled, beforeClose);
        EXPECT_LT(handled, deviceClosed);
        if (sync == smThreadSync) {
            EXPECT_NE(std::find(beforeClose, deviceClosed, "RxChar 1"), deviceClosed);
        }
    }
    EXPECT_TRUE(errors.messages.empty()) << "ending the loop by closing is no failure";
}

// Under smNone the handler runs on the event thread, which the close cannot wait for: it ends once
// the handler returns, and the next open joins it.
TEST_P(PortHandOverTest, AHandlerMayCloseItsOwnPort)
{
    ApplicationErrors errors;
    device::Event closed(false);
    port->SetOnRxChar([this, &closed](TObject*, std::int32_t) {
        port->ClosePort();
        Mark(port->Connected() ? "still open" : "closed");
        closed.Set();
    });
    Open(GetParam());
    fake->Receive("x");
    ASSERT_TRUE(loop.RunUntil(closed, kDeadlineMs));
    MainThreadQueue::ProcessQueuedCalls();
    const Trace t = TakeTrace();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.back(), "closed");
    EXPECT_NE(std::find(t.begin(), t.end(), "dev:Close()"), t.end());
    EXPECT_NE(std::find(t.begin(), t.end(), "AfterClose"), t.end());
    EXPECT_FALSE(fake->IsOpen());
    closed.Reset();
    port->OpenPort(); // and the port opens again as usual
    EXPECT_TRUE(port->EventThreadRunning());
    fake->Receive("y");
    ASSERT_TRUE(loop.RunUntil(closed, kDeadlineMs));
    EXPECT_FALSE(fake->IsOpen());
    MainThreadQueue::ProcessQueuedCalls();
    EXPECT_TRUE(errors.messages.empty()) << "closing from a handler is no failure";
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, PortHandOverTest, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const ::testing::TestParamInfo<TSyncMethod>& sync) {
                             return std::string(sync.param == smThreadSync   ? "ThreadSync"
                                                : sync.param == smWindowSync ? "WindowSync"
                                                                             : "None");
                         });

// ---- Received data: TriggersOnRxChar, links and handlers ------------------------------------------------

class PortRxTest : public PortEventsFixture {
protected:
    void SetUp() override { port->SetEvents({evRxChar, evBreak}); }
};

TEST_F(PortRxTest, OnRxCharAnnouncesTheQueueLengthAndReadsNothing)
{
    std::size_t queuedInHandler = 0;
    port->SetOnRxChar([&](TObject*, std::int32_t count) {
        queuedInHandler = fake->BytesQueued();
        Mark("RxChar " + std::to_string(count));
    });
    Open();
    fake->Receive("abc");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on", "RxChar 3"}));
    EXPECT_EQ(queuedInHandler, 3u);
    EXPECT_EQ(fake->CallCount(FakeDevice::opReadFile), 0);
}

TEST_F(PortRxTest, BytesNobodyReadsStayQueuedForTheNextEvent)
{
    port->SetOnRxChar({});
    Open();
    fake->Receive("ab");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on"}));
    port->SetOnRxChar([this](TObject*, std::int32_t count) { Mark("RxChar " + std::to_string(count)); });
    fake->Receive("c");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on", "RxChar 3"}));
}

TEST_F(PortRxTest, WithoutTriggeringThePortReadsTheBytesForOnRxBuf)
{
    port->SetTriggersOnRxChar(false);
    Open();
    fake->Receive("abc");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on", "dev:ReadFile(3)", "dev:ClearCommError()",
                                        "L.Rx off", "RxBuf abc"}));
    EXPECT_EQ(fake->BytesQueued(), 0u);
}

TEST_F(PortRxTest, LinksWatchingReceivedDataShareOneReadWithOnRxBuf)
{
    const void* seen[2] = {};
    TComLink first, second;
    first.SetOnLinkRxBuf([&](TObject*, const void* data, std::int32_t count) {
        seen[0] = data;
        Mark("first " + std::string(static_cast<const char*>(data), static_cast<std::size_t>(count)));
    });
    second.SetOnLinkRxBuf([&](TObject*, const void* data, std::int32_t count) {
        seen[1] = data;
        Mark("second " + std::to_string(count));
    });
    port->AttachLink(&first);
    port->AttachLink(&second);
    EXPECT_FALSE(port->TriggersOnRxChar());
    Open();
    fake->Receive("hello");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on", "dev:ReadFile(5)", "dev:ClearCommError()",
                                        "L.Rx off", "RxBuf hello", "first hello", "second 5"}));
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(fake->CallCount(FakeDevice::opReadFile), 1);
    port->ClosePort();
    port->DetachLink(&first);
    port->DetachLink(&second);
}

TEST_F(PortRxTest, ALinkThatDroppedItsCallbackLeavesTheStoredFlagInCharge)
{
    TComLink watcher;
    watcher.SetOnLinkRxBuf([](TObject*, const void*, std::int32_t) {});
    port->AttachLink(&watcher);
    watcher.SetOnLinkRxBuf({}); // RxBufLinked stays set until the next attach or detach
    Open();
    fake->Receive("ab");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on", "RxChar 2"})) << "stored flag true";

    port->ClosePort();
    port->DetachLink(&watcher);
    port->SetTriggersOnRxChar(false);
    port->AttachLink(&watcher);
    port->DetachLink(&watcher);
    watcher.SetOnLinkRxBuf([](TObject*, const void*, std::int32_t) {});
    port->AttachLink(&watcher);
    watcher.SetOnLinkRxBuf({});
    port->OpenPort();
    ForgetDeviceCalls();
    fake->Receive("cd");
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()", "L.Rx on", "dev:ReadFile(2)", "dev:ClearCommError()",
                                        "L.Rx off", "RxBuf cd"}))
        << "stored flag false: the port reads for OnRxBuf alone";
    port->ClosePort();
    port->DetachLink(&watcher);
}

TEST_F(PortRxTest, OnRxBufAndTheLinksGetExactlyTheBytesTheReadReturned)
{
    TComLink taker, watcher; // the taker reads a byte itself between the port's count and its read
    taker.SetOnLinkRx([this](TObject*, bool on) {
        char byte = 0;
        if (on) Mark("taken " + std::string(1, port->ReadData(&byte, 1) == 1 ? byte : '-'));
    });
    watcher.SetOnLinkRxBuf([this](TObject*, const void* data, std::int32_t count) {
        Mark("watcher " + std::string(static_cast<const char*>(data), static_cast<std::size_t>(count)));
    });
    port->AttachLink(&taker);
    port->AttachLink(&watcher);
    Open();
    fake->Receive("abc");
    EXPECT_EQ(TraceUpToABreak(),
              (Trace{"dev:ClearCommError()", "L.Rx on", "dev:ReadFile(1)", "dev:ClearCommError()", "taken a",
                     "dev:ReadFile(3)", "dev:ClearCommError()", "L.Rx off", "RxBuf bc", "watcher bc"}));
    // A read that gets nothing hands nothing out.
    taker.SetOnLinkRx([this](TObject*, bool on) {
        if (on) fake->PurgeComm(device::PURGE_RXCLEAR);
    });
    fake->Receive("d");
    const Trace t = TraceUpToABreak();
    EXPECT_EQ(std::count_if(t.begin(), t.end(),
                            [](const std::string& e) { return e.starts_with("RxBuf") || e.starts_with("watcher"); }),
              0);
    port->ClosePort();
    port->DetachLink(&taker);
    port->DetachLink(&watcher);
}

TEST_F(PortRxTest, AnRxEventThatFindsNothingWaitingTellsNobody)
{
    Open();
    fake->RaiseEvents(device::EV_RXCHAR);
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()"}));
}

TEST_F(PortRxTest, AParityErrorThatIsNotCheckedFiresNoError)
{
    port->SetEvents({evError, evBreak});
    Open();
    fake->AddLineErrors(device::CE_RXPARITY);
    EXPECT_EQ(TraceUpToABreak(), (Trace{"dev:ClearCommError()"}));
}

TEST_F(PortEventsFixture, UnderWindowSyncAnRlsdChangeReachesOnlyItsOwnOperation)
{
    Open(smWindowSync);
    fake->SetModemStatus(device::MS_RLSD_ON);
    ASSERT_TRUE(loop.RunUntil([&] { return !trace.empty() && trace.back() == "RLSD on"; }, kDeadlineMs));
    EXPECT_EQ(TakeTrace(), (Trace{"dev:GetCommModemStatus()", "L.RLSD on", "RLSD on"}));
}

// ---- When the loop ends by a failure ----------------------------------------------------------------------

class PortLoopFailureTest : public PortEventsFixture, public ::testing::WithParamInterface<TSyncMethod> {};

TEST_P(PortLoopFailureTest, AHandlerFailureReachesTheApplicationOnceAndEventsResumeAfterReopening)
{
    const TSyncMethod sync = GetParam();
    ApplicationErrors errors;
    port->SetOnRxChar([&](TObject*, std::int32_t) { throw std::runtime_error("bad frame"); });
    Open(sync);
    fake->Receive("x");
    ASSERT_TRUE(loop.RunUntil([&] { return !errors.messages.empty(); }, kDeadlineMs));
    EXPECT_EQ(errors.messages, std::vector<std::string>{"bad frame"});
    EXPECT_EQ(errors.senders, std::vector<TObject*>{port.get()});

    if (sync == smWindowSync) {
        // Shown at once, and the events keep flowing.
        fake->Receive("y");
        ASSERT_TRUE(loop.RunUntil([&] { return errors.messages.size() == 2; }, kDeadlineMs));
    } else {
        // The loop ended: nothing waits on the device any more, nothing is queued, nothing spins.
        const int waits = fake->CallCount(FakeDevice::opWaitCommEvent);
        EXPECT_FALSE(fake->HasPendingWait());
        fake->Receive("y");
        EXPECT_EQ(loop.ProcessEvents(), 0u);
        EXPECT_EQ(fake->CallCount(FakeDevice::opWaitCommEvent), waits);
        EXPECT_EQ(errors.messages.size(), 1u);
    }
    port->ClosePort();
    port->SetOnRxChar([this](TObject*, std::int32_t count) {
        Mark("RxChar " + std::to_string(count));
        marker.Set();
    });
    port->OpenPort();
    fake->Receive("z");
    EXPECT_TRUE(WaitForMarker()) << "events resume after a close and an open";
}

TEST_P(PortLoopFailureTest, APulledDeviceIsReportedOnceWithoutSpinningAndThePortStillCloses)
{
    ApplicationErrors errors;
    std::int32_t received = 0; // on the thread that runs the handlers
    device::Event allReceived(false);
    port->SetOnRxChar([&](TObject* sender, std::int32_t count) {
        char buffer[64];
        received += static_cast<TCustomComPort*>(sender)->ReadData(buffer, std::min<std::int32_t>(count, 64));
        if (received == 3) allReceived.Set();
    });
    Open(GetParam());
    fake->Receive("abc");
    ASSERT_TRUE(loop.RunUntil(allReceived, kDeadlineMs));
    fake->Remove(ENODEV);
    ASSERT_TRUE(loop.RunUntil([&] { return !errors.messages.empty(); }, kDeadlineMs));
    const int waits = fake->CallCount(FakeDevice::opWaitCommEvent);
    EXPECT_LE(waits, 3) << "the failed wait is not retried";
    EXPECT_EQ(errors.messages,
              std::vector<std::string>{"WaitForEvent method failed (Error: " + std::to_string(ENODEV) + ")"});
    EXPECT_NO_THROW(port->ClosePort());
    EXPECT_FALSE(port->Connected());
    MainThreadQueue::ProcessQueuedCalls();
    EXPECT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(fake->CallCount(FakeDevice::opWaitCommEvent), waits);
}

TEST_P(PortLoopFailureTest, APulledDeviceGoesToOnExceptionWhenOneIsAssigned)
{
    ApplicationErrors errors;
    CatchReports();
    Open(GetParam());
    fake->Remove(ENODEV);
    ASSERT_TRUE(loop.RunUntil([&] { return !reports.empty(); }, kDeadlineMs));
    EXPECT_EQ(reports[0].kind, CE_WaitFailed);
    EXPECT_EQ(reports[0].winError, ENODEV);
    EXPECT_EQ(reports[0].message, "WaitForEvent method failed");
    EXPECT_TRUE(errors.messages.empty());
}

// A wait that fails, or whose result fails, costs that pass only.
TEST_P(PortLoopFailureTest, OneFailedWaitSkipsItsPassAndLaterEventsArrive)
{
    ApplicationErrors errors;
    device::Event received(false);
    port->SetOnRxChar([&](TObject*, std::int32_t) { received.Set(); });
    fake->FailCall(FakeDevice::opWaitCommEvent, 31);
    Open(GetParam());
    fake->Receive("x");
    ASSERT_TRUE(loop.RunUntil(received, kDeadlineMs)) << "after a failed start";
    received.Reset();
    const int results = fake->CallCount(FakeDevice::opGetOverlappedResult);
    fake->FailCall(FakeDevice::opGetOverlappedResult, 31);
    fake->Receive("y"); // its event is lost with the failed result
    // Once the failed pass is over and the next wait pends, a new arrival has its own event.
    ASSERT_TRUE(varmio::test::Eventually([&] {
        loop.ProcessEvents(); // the hand-over of "x" may still be on its way back
        return fake->CallCount(FakeDevice::opGetOverlappedResult) > results && fake->HasPendingWait();
    }));
    fake->Receive("z");
    ASSERT_TRUE(loop.RunUntil(received, kDeadlineMs)) << "after a failed result";
    MainThreadQueue::ProcessQueuedCalls();
    EXPECT_TRUE(errors.messages.empty());
}

// A device whose waits keep failing is asked again at a pace, then given up with one report.
TEST_P(PortLoopFailureTest, ALastingFailureEndsTheLoopWithOneReportAndBoundedCpu)
{
    ApplicationErrors errors;
    fake->FailCall(FakeDevice::opWaitCommEvent, 31, FakeDevice::kAlways);
    const double before = CpuSeconds();
    Open(GetParam());
    ASSERT_TRUE(loop.RunUntil([&] { return !errors.messages.empty(); }, kDeadlineMs));
    const double cpu = CpuSeconds() - before;
    EXPECT_LT(cpu, 0.5) << "CPU seconds spent before giving up";
    const int waits = fake->CallCount(FakeDevice::opWaitCommEvent);
    EXPECT_LE(waits, 100);
    EXPECT_EQ(errors.messages, std::vector<std::string>{"WaitForEvent method failed (Error: 31)"});
    fake->ClearFailures();
    fake->Receive("x");
    EXPECT_EQ(loop.ProcessEvents(), 0u);
    EXPECT_EQ(fake->CallCount(FakeDevice::opWaitCommEvent), waits) << "the loop has ended";
    EXPECT_NO_THROW(port->ClosePort());
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, PortLoopFailureTest, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const ::testing::TestParamInfo<TSyncMethod>& sync) {
                             return std::string(sync.param == smThreadSync   ? "ThreadSync"
                                                : sync.param == smWindowSync ? "WindowSync"
                                                                             : "None");
                         });

} // namespace
} // namespace cport::test
