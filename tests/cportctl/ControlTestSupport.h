// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the control tests: a port on the scripted fake device, waiting for a condition while Qt's
// event loop runs, and a catcher for what reaches the application's exception handler.

#include "cport/ComPort.h"
#include "cport/Framework.h"

#include "FakeDevice.h"
#include "support/ApplicationErrors.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cportctl::test {

using cport::device::FakeDevice;

inline constexpr int kDeadlineMs = 10000;

// Runs Qt's event loop until `done()` holds or `timeoutMs` has passed; returns `done()`.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = kDeadlineMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

using varmio::test::ApplicationErrors;

// A port on a fake device. Events are off unless a test turns them on, so opening starts no thread.
class FakePortTest : public ::testing::Test {
protected:
    FakePortTest()
        : fake(std::make_shared<FakeDevice>()), port(std::make_unique<cport::TComPort>(FakeDevice::FactoryFor(fake)))
    {
        port->SetEvents({});
    }
    void TearDown() override
    {
        port.reset();
        QCoreApplication::processEvents();
    }

    std::shared_ptr<FakeDevice> fake;
    std::unique_ptr<cport::TComPort> port;
};

} // namespace cportctl::test
