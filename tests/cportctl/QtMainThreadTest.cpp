// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's event loop serving the port component's main-thread queue once the hook is installed.

#include "cportctl/CPortCtl.h"

#include "FakeDevice.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace cportctl {
namespace {

class QtMainThreadQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "cportctl_main_thread_tests";
        static char* argv[] = {name, nullptr};
        s_app = std::make_unique<QCoreApplication>(argc, argv);
        InstallQtMainThreadQueue();
    }
    static void TearDownTestSuite() { s_app.reset(); }

    // Runs Qt's event loop until `quit` is called or ten seconds have passed; true when quit.
    bool RunQtLoop()
    {
        bool timedOut = false;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &m_loop, [&] {
            timedOut = true;
            m_loop.quit();
        });
        deadline.start(10000);
        m_loop.exec();
        return !timedOut;
    }
    void Quit() { QMetaObject::invokeMethod(&m_loop, &QEventLoop::quit, Qt::QueuedConnection); }

    static std::unique_ptr<QCoreApplication> s_app;
    QEventLoop m_loop;
};
std::unique_ptr<QCoreApplication> QtMainThreadQueueTest::s_app;

TEST_F(QtMainThreadQueueTest, AHandOverFromAnotherThreadRunsInQtsEventLoop)
{
    const auto mainId = std::this_thread::get_id();
    std::thread::id ranOn;
    std::jthread sender([&] {
        cport::THandOver handOver;
        handOver.Send(
            [&] {
                ranOn = std::this_thread::get_id();
                Quit();
            },
            cport::TReleasePoint::Completion);
    });
    ASSERT_TRUE(RunQtLoop());
    EXPECT_EQ(ranOn, mainId);
}

TEST_F(QtMainThreadQueueTest, PortEventsReachTheirHandlersThroughQtsEventLoop)
{
    auto fake = std::make_shared<cport::device::FakeDevice>();
    cport::TComPort port(cport::device::FakeDevice::FactoryFor(fake));
    std::string received;
    port.SetOnRxChar([&](cport::TObject*, std::int32_t count) {
        std::string buffer(static_cast<std::size_t>(count), '\0');
        buffer.resize(static_cast<std::size_t>(port.ReadData(buffer.data(), count)));
        received += buffer;
        if (received.size() >= 6) Quit();
    });
    port.OpenPort();
    fake->Receive("abc");
    fake->Receive("def");
    ASSERT_TRUE(RunQtLoop());
    EXPECT_EQ(received, "abcdef");
    port.ClosePort();
}

TEST_F(QtMainThreadQueueTest, InstallingAgainKeepsOneHook)
{
    InstallQtMainThreadQueue();
    const auto drainers = s_app->findChildren<QObject*>(QStringLiteral("cportMainThreadQueue"));
    EXPECT_EQ(drainers.size(), 1);
    // Calls posted from another thread are still served once each.
    int ran = 0;
    std::jthread poster([&] {
        cport::MainThreadQueue::Post([&] { ++ran; });
        cport::MainThreadQueue::Post([&] {
            ++ran;
            Quit();
        });
    });
    poster.join();
    ASSERT_TRUE(RunQtLoop());
    EXPECT_EQ(ran, 2);
}

} // namespace
} // namespace cportctl
