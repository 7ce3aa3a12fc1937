// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the port's tests: a port on the scripted fake device, a trace that interleaves the port's
// hooks and link notices with the device calls made between them, and a catcher for what reaches the
// application's exception handler.

#include "cport/ComPort.h"
#include "cport/Framework.h"
#include "cport/MainThread.h"

#include "FakeDevice.h"
#include "support/ApplicationErrors.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace cport::test {

using device::FakeDevice;

inline constexpr int kDeadlineMs = 10000;

using varmio::test::ApplicationErrors;

// One OnException report, as the handler received it.
struct Report {
    TComExceptions kind;
    std::string message;
    std::int64_t winError;
    std::string winMessage;
};

class PortFixture : public ::testing::Test {
public:
    TComPort& GetPort() { return *port; }

protected:
    PortFixture() : fake(std::make_shared<FakeDevice>()), port(std::make_unique<TComPort>(FakeDevice::FactoryFor(fake)))
    {
    }

    void TearDown() override
    {
        port.reset();
        MainThreadQueue::ProcessQueuedCalls();
    }

    // Main-thread trace entries: the device calls made since the previous entry (as "dev:<call>"),
    // then `entry`. Calls of `m_skipped` operations (the event thread's own wait, whose timing is its
    // own) are left out.
    // Thread-safe: hooks that run on the event thread (smNone) mark too.
    void Mark(const std::string& entry)
    {
        std::lock_guard lock(m_traceMutex);
        FlushDeviceCalls();
        trace.push_back(entry);
    }
    void FlushDeviceCalls()
    {
        const auto calls = fake->Calls();
        for (; m_seen < calls.size(); ++m_seen) {
            const auto op = calls[m_seen].op;
            if (op == FakeDevice::opWaitCommEvent || op == FakeDevice::opGetOverlappedResult) continue;
            trace.push_back("dev:" + calls[m_seen].text);
        }
    }
    std::vector<std::string> TakeTrace()
    {
        std::lock_guard lock(m_traceMutex);
        FlushDeviceCalls();
        return std::exchange(trace, {});
    }
    void ForgetDeviceCalls()
    {
        std::lock_guard lock(m_traceMutex);
        m_seen = fake->Calls().size();
        trace.clear();
    }

    // Every open/close hook and signal hook of the port, and every callback of `link`, write to the trace.
    void TraceHooks()
    {
        port->SetOnBeforeOpen([this](TObject*) { Mark("BeforeOpen"); });
        port->SetOnAfterOpen([this](TObject*) { Mark("AfterOpen"); });
        port->SetOnBeforeClose([this](TObject*) { Mark("BeforeClose"); });
        port->SetOnAfterClose([this](TObject*) { Mark("AfterClose"); });
        port->SetOnCTSChange([this](TObject*, bool on) { Mark(std::string("CTS ") + (on ? "on" : "off")); });
        port->SetOnDSRChange([this](TObject*, bool on) { Mark(std::string("DSR ") + (on ? "on" : "off")); });
        port->SetOnRLSDChange([this](TObject*, bool on) { Mark(std::string("RLSD ") + (on ? "on" : "off")); });
    }
    void TraceLink(TComLink& link, const std::string& name)
    {
        auto signal = [this, name](const char* what) {
            return [this, name, what](TObject*, bool on) { Mark(name + "." + what + (on ? " on" : " off")); };
        };
        auto pulse = [this, name](const char* what) {
            return [this, name, what](TObject*) { Mark(name + "." + what); };
        };
        link.SetOnLinkConn(signal("Conn"));
        link.SetOnLinkCTS(signal("CTS"));
        link.SetOnLinkDSR(signal("DSR"));
        link.SetOnLinkRLSD(signal("RLSD"));
        link.SetOnLinkRx(signal("Rx"));
        link.SetOnLinkTx(signal("Tx"));
        link.SetOnLinkRing(pulse("Ring"));
        link.SetOnLinkTxEmpty(pulse("TxEmpty"));
        link.SetOnLinkRxFlag(pulse("RxFlag"));
    }

    // Reports go to `reports` instead of being raised.
    void CatchReports()
    {
        port->SetOnException([this](TObject* sender, TComExceptions kind, const std::string& message,
                                    std::int64_t winError, const std::string& winMessage) {
            EXPECT_EQ(sender, port.get());
            reports.push_back({kind, message, winError, winMessage});
        });
    }

    std::shared_ptr<FakeDevice> fake;
    std::unique_ptr<TComPort> port;
    std::vector<std::string> trace;
    std::vector<Report> reports;
    THeadlessEventLoop loop;

private:
    std::mutex m_traceMutex;
    std::size_t m_seen = 0;
};

// The device calls of a default open, as the trace shows them.
inline std::vector<std::string> DefaultOpenCalls(const std::string& name = "COM1", const char* baud = "9600")
{
    return {
        "dev:Open(" + name + ")",
        "dev:SetupComm(1024, 1024)",
        std::string("dev:SetCommState(BaudRate=") + baud +
            ", Flags=0x0001, XonLim=256, XoffLim=256, ByteSize=8, Parity=0, StopBits=0, XonChar=17, XoffChar=19, "
            "ErrorChar=0, EofChar=0, EvtChar=0)",
        "dev:SetCommTimeouts(4294967295, 0, 0, 100, 1000)",
    };
}

template <typename T>
std::vector<T> Concat(std::initializer_list<std::vector<T>> parts)
{
    std::vector<T> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

} // namespace cport::test
