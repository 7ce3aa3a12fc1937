// SPDX-License-Identifier: GPL-3.0-or-later
// The main-thread queue, the send/reply sink and the headless event loop.

#include "PortTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace cport {
namespace {

using test::ApplicationErrors;
using test::kDeadlineMs;

class MainThreadQueueTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        MainThreadQueue::ProcessQueuedCalls();
        EXPECT_FALSE(MainThreadQueue::HasQueuedCalls());
    }
    THeadlessEventLoop loop;
};

TEST_F(MainThreadQueueTest, SendRunsTheCallOnTheDrainingThreadAndWaitsForItsEnd)
{
    const auto mainId = std::this_thread::get_id();
    std::thread::id ranOn;
    bool ranBeforeSendReturned = false;
    std::jthread sender([&] {
        THandOver handOver;
        EXPECT_TRUE(handOver.Send([&] { ranOn = std::this_thread::get_id(); }, TReleasePoint::Completion));
        ranBeforeSendReturned = ranOn != std::thread::id();
    });
    ASSERT_TRUE(loop.RunUntil([&] { return ranOn != std::thread::id(); }, kDeadlineMs));
    sender.join();
    EXPECT_EQ(ranOn, mainId);
    EXPECT_TRUE(ranBeforeSendReturned);
}

TEST_F(MainThreadQueueTest, SendRaisesTheCallsExceptionAgainInTheSender)
{
    ApplicationErrors errors;
    std::string caught;
    bool ran = false;
    std::jthread sender([&] {
        THandOver handOver;
        try {
            handOver.Send(
                [&] {
                    ran = true;
                    throw std::runtime_error("handler failed");
                },
                TReleasePoint::Completion);
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
    });
    ASSERT_TRUE(loop.RunUntil([&] { return ran; }, kDeadlineMs));
    sender.join();
    EXPECT_EQ(caught, "handler failed");
    EXPECT_TRUE(errors.messages.empty()) << "a waited-for failure belongs to the sender alone";
}

TEST_F(MainThreadQueueTest, StartReleaseFreesTheSenderBeforeTheCallEnds)
{
    device::Event senderReturned(false);
    bool sawSenderReturn = false;
    bool ran = false;
    std::jthread sender([&] {
        THandOver handOver;
        EXPECT_TRUE(handOver.Send(
            [&] {
                // Under a completion release this would wait for ever; bounded so a fault fails.
                sawSenderReturn = senderReturned.Wait(kDeadlineMs);
                ran = true;
            },
            TReleasePoint::Start));
        senderReturned.Set();
    });
    ASSERT_TRUE(loop.RunUntil([&] { return ran; }, kDeadlineMs));
    EXPECT_TRUE(sawSenderReturn);
}

TEST_F(MainThreadQueueTest, AWaitingMainThreadKeepsServingTheQueue)
{
    device::Event finished(false);
    int handled = 0;
    std::jthread eventThread([&] {
        THandOver handOver;
        for (int i = 0; i < 3; ++i) handOver.Send([&] { ++handled; }, TReleasePoint::Completion);
        finished.Set();
    });
    MainThreadQueue::WaitServingQueue(finished);
    EXPECT_EQ(handled, 3);
}

TEST_F(MainThreadQueueTest, ACallStillQueuedWhenTheSenderIsStoppedIsServed)
{
    device::Event stop(true); // stopped before the main thread ever looks
    device::Event finished(false);
    std::atomic<bool> result{false};
    bool ran = false;
    std::jthread sender([&] {
        THandOver handOver;
        result = handOver.Send([&] { ran = true; }, TReleasePoint::Completion, &stop);
        finished.Set();
    });
    MainThreadQueue::WaitServingQueue(finished);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(result);
}

TEST_F(MainThreadQueueTest, StoppingTheSenderFromInsideItsCallDoesNotDeadlock)
{
    ApplicationErrors errors;
    device::Event stop(false);
    device::Event senderLeft(false);
    std::atomic<bool> result{true};
    bool sawSenderLeave = false;
    std::jthread sender([&] {
        THandOver handOver;
        result = handOver.Send(
            [&] {
                stop.Set();
                // The main thread now waits for the sender, as a handler closing its own port does.
                sawSenderLeave = senderLeft.Wait(kDeadlineMs);
                throw std::runtime_error("after the stop");
            },
            TReleasePoint::Completion, &stop);
        senderLeft.Set();
    });
    ASSERT_TRUE(loop.RunUntil([&] { return senderLeft.IsSet() && !MainThreadQueue::HasQueuedCalls(); }, kDeadlineMs));
    sender.join();
    EXPECT_TRUE(sawSenderLeave);
    EXPECT_FALSE(result);
    // Nobody waits for the abandoned call any more, so its failure goes to the application.
    EXPECT_EQ(errors.messages, std::vector<std::string>{"after the stop"});
}

TEST_F(MainThreadQueueTest, PostedCallsRunInOrderAndTheirFailuresReachTheApplication)
{
    ApplicationErrors errors;
    std::vector<int> order;
    std::jthread poster([&] {
        MainThreadQueue::Post([&] { order.push_back(1); });
        MainThreadQueue::Post([] { throw std::runtime_error("posted failure"); });
        MainThreadQueue::Post([&] { order.push_back(3); });
    });
    poster.join();
    EXPECT_EQ(MainThreadQueue::ProcessQueuedCalls(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
    EXPECT_EQ(errors.messages, std::vector<std::string>{"posted failure"});
    EXPECT_EQ(errors.senders, std::vector<TObject*>{nullptr});
}

TEST_F(MainThreadQueueTest, TheWakeHookFiresWhenTheQueueStopsBeingEmpty)
{
    std::atomic<int> wakes{0};
    auto previous = MainThreadQueue::SetWakeHook([&] { ++wakes; });
    const device::Event& pending = MainThreadQueue::QueueEvent();
    EXPECT_FALSE(pending.IsSet());
    MainThreadQueue::Post([] {});
    MainThreadQueue::Post([] {});
    EXPECT_EQ(wakes, 1);
    EXPECT_TRUE(pending.IsSet());
    EXPECT_EQ(MainThreadQueue::ProcessQueuedCalls(), 2u);
    EXPECT_FALSE(pending.IsSet());
    MainThreadQueue::Post([] {});
    EXPECT_EQ(wakes, 2);
    MainThreadQueue::ProcessQueuedCalls();
    auto mine = MainThreadQueue::SetWakeHook(std::move(previous));
    EXPECT_TRUE(static_cast<bool>(mine));
}

TEST_F(MainThreadQueueTest, CallsQueuedWhileDrainingRunInTheSameDrain)
{
    std::vector<int> order;
    MainThreadQueue::Post([&] {
        order.push_back(1);
        MainThreadQueue::Post([&] { order.push_back(2); });
    });
    EXPECT_EQ(MainThreadQueue::ProcessQueuedCalls(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(MainThreadQueueTest, TheNotifySinkRunsAtOnceOnItsOwnThreadAndReleasesOtherSendersAtStart)
{
    std::vector<std::uint32_t> seen;
    TNotifyWindow window([&](const TMessage& m) -> std::intptr_t {
        seen.push_back(m.Msg);
        return m.Msg == 7 ? 42 : TNotifyWindow::DefWindowProc(m);
    });
    THandOver local;
    EXPECT_EQ(window.SendMessage(local, {7, 0, 0}), 42);
    EXPECT_EQ(window.SendMessage(local, {8, 0, 0}), 0);

    std::atomic<std::intptr_t> remoteResult{-1};
    std::jthread sender([&] {
        THandOver handOver;
        remoteResult = window.SendMessage(handOver, {7, 1, 2});
    });
    ASSERT_TRUE(loop.RunUntil([&] { return seen.size() == 3; }, kDeadlineMs));
    sender.join();
    EXPECT_EQ(remoteResult, 0) << "a sender released at the start gets 0, not the procedure's result";
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{7, 8, 7}));
}

TEST_F(MainThreadQueueTest, TheHeadlessLoopRunsUntilQuitFromAnotherThread)
{
    int ran = 0;
    std::jthread other([&] {
        THandOver handOver;
        handOver.Send([&] { ++ran; }, TReleasePoint::Completion);
        loop.Quit(5);
    });
    EXPECT_EQ(loop.Run(), 5);
    EXPECT_EQ(ran, 1);

    loop.Quit(3); // a quit asked before Run ends the next Run at once
    EXPECT_EQ(loop.Run(), 3);
}

TEST_F(MainThreadQueueTest, RunUntilGivesUpAtItsDeadline)
{
    EXPECT_FALSE(loop.RunUntil([] { return false; }, 20));
    MainThreadQueue::Post([] {});
    EXPECT_EQ(loop.ProcessEvents(), 1u);
}

} // namespace
} // namespace cport
