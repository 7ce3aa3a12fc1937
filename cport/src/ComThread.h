// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The event thread of an open port: waits on the device for the port's line events and hands each
// batch to the port as its SyncMethod says. Created by OpenPort and destroyed by ClosePort, both on
// the main thread; the destructor stops the thread and waits for it while serving its hand-overs.

#include "cport/ComPort.h"
#include "cport/Device.h"
#include "cport/MainThread.h"

#include <thread>

namespace cport {

class TComThread {
public:
    // Gives the device the event mask of the port's Events, then starts the thread. Throws
    // std::system_error when no thread or event object can be had.
    explicit TComThread(TCustomComPort& port);
    // Signals the stop and waits for the thread's end, running queued main-thread calls meanwhile.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    // Asks the wait loop to end; returns at once.
    void SignalStop();
    // Called on this thread by a close that one of its handlers made (under smNone): the loop ends
    // once the handler returns, without touching the device, which the close has released. The object
    // must then be destroyed on another thread (its destructor waits for the end).
    void Retire();
    // The caller is this event thread (where stopping it would wait for itself).
    bool IsCurrentThread() const { return m_thread.get_id() == std::this_thread::get_id(); }
    // The body has ended (destroying the object then waits for nothing).
    bool Finished() const { return m_finished.IsSet(); }

private:
    void Execute() noexcept;
    void HandOverEvents();
    void NotifyWindowOfEvents();
    // Hands the failure that ended the loop to the main thread's exception handler, once.
    void PostLoopFailure(std::exception_ptr failure, int waitError);

    TCustomComPort& m_ownerPort;
    device::ISerialDevice& m_device;
    device::Event m_stopSignal{false};
    device::Event m_finished{false}; // set by the body as its last act
    bool m_retired = false;          // this thread's own: set and read on it only
    TComEvents m_pendingEvents;
    THandOver m_handOver;
    std::jthread m_thread; // last: the body starts once everything above exists
};

} // namespace cport
