// SPDX-License-Identifier: GPL-3.0-or-later
#include "ComThread.h"

#include "cport/Errors.h"
#include "cport/Framework.h"

#include <chrono>
#include <utility>

namespace cport {

TComThread::TComThread(TCustomComPort& port) : m_ownerPort(port), m_device(*port.m_deviceHandle)
{
    // The result is not examined: a device that refuses the mask reports nothing, and its waits say so.
    m_device.SetCommMask(EventsToMask(port.Events()));
    m_thread = std::jthread([this] { Execute(); });
}

TComThread::~TComThread()
{
    SignalStop();
    MainThreadQueue::WaitServingQueue(m_finished);
    m_thread.join();
}

void TComThread::SignalStop()
{
    m_stopSignal.Set();
    std::this_thread::yield();
}

void TComThread::Retire()
{
    m_retired = true;
    m_stopSignal.Set();
}

namespace {

// A failed wait skips its pass; failures that repeat with no successful wait between them end the
// loop once there are this many in a row, or once they have gone on this long.
constexpr int kFailuresInARow = 100;
constexpr auto kFailingFor = std::chrono::seconds(1);
// After the first failure of a run, the next attempt waits this long (for the stop signal): a
// failing device is asked again at this pace, never in a spin.
constexpr int kRetryPaceMs = 10;

} // namespace

void TComThread::Execute() noexcept
{
    device::Event waitEvent(true);
    device::Overlapped overlapped;
    overlapped.hEvent = &waitEvent;
    DWORD mask = 0; // written by the device when a pending wait completes: lives as long as the wait
    bool waitPending = false;
    std::exception_ptr failure;
    int waitError = 0;
    int failures = 0;
    std::chrono::steady_clock::time_point firstFailure;

    // One failed wait or wait result: true when the loop ends here (the device is gone, the failures
    // last, or the port stops while the next attempt waits for its turn).
    const auto failed = [&](int error) {
        waitError = error;
        const auto now = std::chrono::steady_clock::now();
        if (failures++ == 0) firstFailure = now;
        if (failures >= kFailuresInARow || now - firstFailure >= kFailingFor) return true;
        // A device that is gone answers nothing any more; one that only failed a wait still answers.
        DWORD status = 0;
        if (!m_device.GetCommModemStatus(status)) return true;
        return failures > 1 && m_stopSignal.Wait(kRetryPaceMs);
    };

    try {
        for (;;) {
            if (m_stopSignal.IsSet()) break; // set by a handler that closed the port, for one
            mask = 0;
            if (!m_device.WaitCommEvent(mask, overlapped)) {
                const int error = device::GetLastError();
                if (error != device::kErrorIoPending) {
                    // The wait did not start: its event stays clear, there is nothing to wait on.
                    if (failed(error)) break;
                    continue;
                }
                waitPending = true;
            }
            if (device::Event::WaitAny({&m_stopSignal, &waitEvent}) != 1) break;
            waitPending = false;
            DWORD transferred = 0;
            if (m_device.GetOverlappedResult(overlapped, transferred, false)) {
                failures = 0;
                waitError = 0;
                m_pendingEvents = MaskToEvents(mask);
                HandOverEvents();
            } else if (failed(device::GetLastError())) {
                break;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }

    if (!m_retired) {
        m_device.SetCommMask(0);
        if (waitPending) {
            // Clearing the mask completes the pending wait; collect it before `mask` and the event go.
            DWORD transferred = 0;
            m_device.GetOverlappedResult(overlapped, transferred, true);
        }
        m_device.PurgeComm(device::PURGE_TXCLEAR | device::PURGE_RXCLEAR);
    }

    // A loop that ends while the port is being closed ends as asked (a read the close aborted, say);
    // any other end stops reception, and the user must learn why.
    const bool closing = m_stopSignal.IsSet() || m_ownerPort.m_closing;
    // Moved, not copied: the exception is then the main thread's alone.
    if (!closing && (failure || waitError != 0)) PostLoopFailure(std::move(failure), waitError);
    m_finished.Set();
}

void TComThread::HandOverEvents()
{
    switch (m_ownerPort.SyncMethod()) {
    case smThreadSync: {
        TCustomComPort* port = &m_ownerPort;
        const TComEvents events = m_pendingEvents;
        m_handOver.Send([port, events] { port->RunEventHandlers(events); }, TReleasePoint::Completion, &m_stopSignal);
        break;
    }
    case smWindowSync: NotifyWindowOfEvents(); break;
    case smNone: m_ownerPort.RunEventHandlers(m_pendingEvents); break;
    }
}

void TComThread::NotifyWindowOfEvents()
{
    TNotifyWindow& window = *m_ownerPort.m_notifyWindow;
    for (const auto& route : TCustomComPort::kEventRoutes) {
        if (m_pendingEvents.Contains(route.Event))
            window.SendMessage(m_handOver, {TCustomComPort::kEventMessage, route.Flag, 0});
    }
}

void TComThread::PostLoopFailure(std::exception_ptr failure, int waitError)
{
    std::weak_ptr<const bool> alive = m_ownerPort.m_lifeToken;
    TCustomComPort* port = &m_ownerPort;
    MainThreadQueue::Post([alive = std::move(alive), port, failure = std::move(failure), waitError] {
        TCustomComPort* sender = alive.expired() ? nullptr : port;
        try {
            if (failure) std::rethrow_exception(failure);
            // The device's own failure goes through the port's error report, so an OnException
            // handler takes it like any other.
            if (sender != nullptr) sender->ReportComError(ComErrorCode(CE_WaitFailed), waitError);
            else throw EComPort(ComErrorCode(CE_WaitFailed), waitError);
        } catch (...) {
            HandleCurrentException(sender);
        }
    });
}

} // namespace cport
