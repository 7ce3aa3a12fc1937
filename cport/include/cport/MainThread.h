// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main-thread queue: how an event thread hands work to the thread that owns the ports.
//
// A port's event thread never runs application code by itself (unless its SyncMethod says so); it
// queues a call here and blocks until the main thread has run it. The main thread drains the queue
// with ProcessQueuedCalls(), from whatever loop it runs:
//   - a Qt program calls cportctl::InstallQtMainThreadQueue() once; the wake hook then makes Qt's
//     event loop drain the queue as soon as something is queued;
//   - a Qt-free program runs a THeadlessEventLoop;
//   - any other loop watches QueueEvent() (its native handle is pollable) or sets a wake hook.
// A main thread that waits for an event thread to end (a port closing) keeps draining the queue while
// it waits (WaitServingQueue), so a hand-over in progress can always finish.
//
// Threads: there is one main thread per process, the one that drains. Send, Post and the wake hook
// may be used from any thread; ProcessQueuedCalls, WaitServingQueue and the loop's Run only on the
// main thread. Queued calls run in the order they were queued. Draining is re-entrant: a call may
// itself drain (a nested event loop), and then later calls run inside it.

#include "cport/Device.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace cport {

// When a sender blocked in MainThreadQueue::Send is released.
enum class TReleasePoint : std::uint8_t {
    Completion, // when the call has returned (its exception, if any, is raised again in the sender)
    Start,      // as soon as the main thread begins the call (send/reply: the call's outcome stays there)
};

// One sender's reusable hand-over slot: a thread that hands over calls one at a time keeps one of
// these, so a hand-over allocates no event object. Used by one sending thread at a time.
class THandOver {
public:
    THandOver();
    ~THandOver();
    THandOver(const THandOver&) = delete;
    THandOver& operator=(const THandOver&) = delete;

    // Queues `call` for the main thread and blocks until the release point; rethrows the call's
    // exception for TReleasePoint::Completion. Returns true when released. `stop` is the sender's own
    // stop signal, set by the main thread when it wants the sender to end: a call still queued then
    // is still served (the stopping main thread drains the queue while it waits), but a call already
    // running is left to finish on the main thread without the sender, and false is returned, so that
    // a main thread that stops the sender from inside that very call cannot deadlock (an exception
    // the call raises then goes to the application's exception handler).
    bool Send(std::function<void()> call, TReleasePoint release, const device::Event* stop = nullptr);

    struct State; // shared with the queue, so that an abandoned call can still finish safely

private:
    std::shared_ptr<State> m_state;
};

namespace MainThreadQueue {

// Queues `call` without waiting. An exception it raises goes to the application's exception handler.
// Any thread.
void Post(std::function<void()> call);

// Main thread: runs every queued call, including calls queued while draining; returns how many ran.
std::size_t ProcessQueuedCalls();

// Any thread: whether calls are waiting.
bool HasQueuedCalls();

// Set while calls are waiting, reset when the queue is drained. Wait on it (or poll its native
// handle) to learn that ProcessQueuedCalls has work; do not set or reset it.
const device::Event& QueueEvent();

// Called, on the queuing thread, each time a call is queued into an empty queue; it must only wake
// the main thread (post an event, write a pipe), never run the calls itself. One hook per process;
// an empty function removes it. Returns the hook it replaces. Any thread.
using TWakeHook = std::function<void()>;
// Installs the wake hook described above.
TWakeHook SetWakeHook(TWakeHook hook);

// Main thread: waits until `done` is set, running queued calls meanwhile.
void WaitServingQueue(const device::Event& done);

} // namespace MainThreadQueue

// One message to a TNotifyWindow.
struct TMessage {
    std::uint32_t Msg = 0;     // the message number (WM_USER and above are the application's)
    std::uintptr_t WParam = 0; // the first argument
    std::intptr_t LParam = 0;  // the second argument
};

// A main-thread message sink with send/reply semantics, for ports whose SyncMethod is smWindowSync.
// Its procedure runs on the main thread; SendMessage from another thread blocks only until the main
// thread begins handling the message (the sender is released before the procedure runs, and gets 0).
// Sent from the main thread itself, the procedure runs at once and its result is returned.
class TNotifyWindow {
public:
    // The procedure that handles each message; its result is SendMessage's.
    using TWindowProc = std::function<std::intptr_t(const TMessage& message)>;
    static constexpr std::uint32_t WM_USER = 0x0400; // the first message number of the application's own

    // Created on the main thread; `proc` runs there.
    explicit TNotifyWindow(TWindowProc proc);
    ~TNotifyWindow();
    TNotifyWindow(const TNotifyWindow&) = delete;
    TNotifyWindow& operator=(const TNotifyWindow&) = delete;

    // Any thread. `handOver` is the sending thread's slot. The window may be destroyed only once no
    // thread sends to it any more; a message already begun runs to its end on its own copy of the
    // procedure.
    std::intptr_t SendMessage(THandOver& handOver, const TMessage& message);

    // The procedure for messages it does not handle: does nothing, returns 0.
    static std::intptr_t DefWindowProc(const TMessage& message);

private:
    TWindowProc m_proc;
    std::thread::id m_ownerThread;
};

// The event loop of a program without a GUI toolkit: runs queued calls on the main thread until told
// to quit. Run, RunUntil and ProcessEvents on the main thread; Quit from any thread.
class THeadlessEventLoop {
public:
    THeadlessEventLoop();
    ~THeadlessEventLoop();
    THeadlessEventLoop(const THeadlessEventLoop&) = delete;
    THeadlessEventLoop& operator=(const THeadlessEventLoop&) = delete;

    // Serves the queue until Quit; returns the code given to Quit. A quit requested before Run makes
    // Run return at once (after running what is already queued).
    int Run();
    // Ends Run with `exitCode`; any thread.
    void Quit(int exitCode = 0);

    // Serves the queue until `done()` is true (checked after each drain) or `timeoutMs` has passed;
    // returns `done()`. For tools and tests that wait for a condition with a deadline.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs);
    // Serves the queue until `done` is set (by any thread) or `timeoutMs` has passed; returns whether
    // it is set.
    bool RunUntil(const device::Event& done, int timeoutMs);

    // Runs what is queued now, without waiting; returns how many calls ran.
    std::size_t ProcessEvents();

private:
    device::Event m_quit{false};
    std::atomic<int> m_exitCode{0};
};

} // namespace cport
