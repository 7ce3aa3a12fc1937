// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/MainThread.h"

#include "cport/Framework.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace cport {

// One queued call. Shared by the queue and its sender, so that a sender that stops waiting leaves a
// call that can still run (and finish) safely. Every field is guarded by the queue's mutex, except
// `call`, which only the thread running the call touches between its start and its end.
struct THandOver::State {
    enum Phase : std::uint8_t { kIdle, kQueued, kRunning, kDone };

    std::function<void()> call;
    Phase phase = kIdle;
    TReleasePoint release = TReleasePoint::Completion;
    bool waited = false;    // a sender waits for the release point (false for posted calls)
    bool abandoned = false; // the sender stopped waiting while the call ran
    std::exception_ptr error;
    std::optional<device::Event> reply; // set at the release point; only senders have one
};

namespace {

using StatePtr = std::shared_ptr<THandOver::State>;

struct Queue {
    std::mutex mutex;
    std::deque<StatePtr> calls;
    device::Event pending{false}; // set exactly while `calls` is not empty
    MainThreadQueue::TWakeHook wake;
};

Queue& TheQueue()
{
    static Queue queue;
    return queue;
}

// Caller holds the lock.
void EnqueueLocked(Queue& q, StatePtr state)
{
    const bool wasEmpty = q.calls.empty();
    q.calls.push_back(std::move(state));
    if (wasEmpty) {
        q.pending.Set();
        // Called under the lock so that no wake-up can follow SetWakeHook's return; the hook only
        // posts a wake-up and never calls back into the queue.
        if (q.wake) q.wake();
    }
}

void ReportToApplication(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (...) {
        HandleCurrentException(nullptr);
    }
}

// Runs one call taken off the queue (its phase already kRunning) and settles its outcome.
void RunCall(Queue& q, const StatePtr& state)
{
    std::exception_ptr error;
    try {
        state->call();
    } catch (...) {
        error = std::current_exception();
    }
    state->call = nullptr; // release what it captured before the sender may reuse the slot

    bool report = false;
    {
        std::lock_guard lock(q.mutex);
        state->phase = THandOver::State::kDone;
        if (state->waited && !state->abandoned && state->release == TReleasePoint::Completion) {
            // Handed over, not shared: the sender alone then holds the exception and frees it.
            state->error = std::move(error);
            state->reply->Set();
        } else {
            report = error != nullptr;
        }
    }
    // Nobody waits for this outcome: a failure must not vanish.
    if (report) ReportToApplication(error); // NOLINT(bugprone-use-after-move): moved only where report stays false
}

} // namespace

THandOver::THandOver() : m_state(std::make_shared<State>()) { m_state->reply.emplace(false); }

THandOver::~THandOver() = default;

bool THandOver::Send(std::function<void()> call, TReleasePoint release, const device::Event* stop)
{
    Queue& q = TheQueue();
    {
        std::lock_guard lock(q.mutex);
        if (m_state->phase == State::kRunning || m_state->phase == State::kQueued) {
            // The previous call (released at its start) still runs: it keeps its slot, this send
            // takes a new one.
            m_state = std::make_shared<State>();
            m_state->reply.emplace(false);
        }
        State& s = *m_state;
        s.call = std::move(call);
        s.release = release;
        s.waited = true;
        s.abandoned = false;
        s.error = nullptr;
        s.phase = State::kQueued;
        s.reply->Reset();
        EnqueueLocked(q, m_state);
    }

    bool watchStop = stop != nullptr;
    for (;;) {
        if (watchStop) device::Event::WaitAny({&*m_state->reply, stop});
        else m_state->reply->Wait();
        std::unique_lock lock(q.mutex);
        State& s = *m_state;
        if (s.phase == State::kDone || (release == TReleasePoint::Start && s.phase == State::kRunning)) {
            if (s.error) {
                std::exception_ptr error = std::exchange(s.error, nullptr);
                lock.unlock();
                std::rethrow_exception(error);
            }
            return true;
        }
        if (s.phase == State::kRunning) {
            // Stopped while the main thread runs the call: the main thread stopped us from inside it
            // (a handler closing its port) and now waits for us. Leave the call to finish there.
            s.abandoned = true;
            m_state = std::make_shared<State>();
            m_state->reply.emplace(false);
            return false;
        }
        // Stopped while still queued: whoever stops us serves the queue while it waits, so the call
        // will run. Wait for it, no longer watching the stop signal (which stays set).
        watchStop = false;
    }
}

namespace MainThreadQueue {

void Post(std::function<void()> call)
{
    auto state = std::make_shared<THandOver::State>();
    state->call = std::move(call);
    state->phase = THandOver::State::kQueued;
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    EnqueueLocked(q, std::move(state));
}

std::size_t ProcessQueuedCalls()
{
    Queue& q = TheQueue();
    std::size_t ran = 0;
    for (;;) {
        StatePtr state;
        {
            std::lock_guard lock(q.mutex);
            if (q.calls.empty()) return ran;
            state = std::move(q.calls.front());
            q.calls.pop_front();
            if (q.calls.empty()) q.pending.Reset();
            state->phase = THandOver::State::kRunning;
            if (state->waited && state->release == TReleasePoint::Start) state->reply->Set();
        }
        RunCall(q, state);
        ++ran;
    }
}

bool HasQueuedCalls()
{
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    return !q.calls.empty();
}

const device::Event& QueueEvent() { return TheQueue().pending; }

TWakeHook SetWakeHook(TWakeHook hook)
{
    Queue& q = TheQueue();
    std::lock_guard lock(q.mutex);
    return std::exchange(q.wake, std::move(hook));
}

void WaitServingQueue(const device::Event& done)
{
    const device::Event& pending = QueueEvent();
    while (device::Event::WaitAny({&done, &pending}) != 0) ProcessQueuedCalls();
}

} // namespace MainThreadQueue

// ---- TNotifyWindow -------------------------------------------------------------------------------

TNotifyWindow::TNotifyWindow(TWindowProc proc) : m_proc(std::move(proc)), m_ownerThread(std::this_thread::get_id()) {}

TNotifyWindow::~TNotifyWindow() = default;

std::intptr_t TNotifyWindow::SendMessage(THandOver& handOver, const TMessage& message)
{
    if (std::this_thread::get_id() == m_ownerThread) return m_proc(message);
    // The call carries its own copy of the procedure: the window may be destroyed by the very
    // handler the message runs.
    handOver.Send([proc = m_proc, message] { proc(message); }, TReleasePoint::Start);
    return 0;
}

std::intptr_t TNotifyWindow::DefWindowProc(const TMessage&) { return 0; }

// ---- THeadlessEventLoop --------------------------------------------------------------------------

THeadlessEventLoop::THeadlessEventLoop() = default;
THeadlessEventLoop::~THeadlessEventLoop() = default;

int THeadlessEventLoop::Run()
{
    const device::Event& pending = MainThreadQueue::QueueEvent();
    for (;;) {
        MainThreadQueue::ProcessQueuedCalls();
        if (m_quit.IsSet()) {
            m_quit.Reset();
            return m_exitCode.load();
        }
        device::Event::WaitAny({&m_quit, &pending});
    }
}

void THeadlessEventLoop::Quit(int exitCode)
{
    m_exitCode.store(exitCode);
    m_quit.Set();
}

namespace {
// Serves the queue until `done()`, waking for queued calls and, when given, for `alsoWake`.
bool ServeUntil(const std::function<bool()>& done, const device::Event* alsoWake, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const device::Event& pending = MainThreadQueue::QueueEvent();
    for (;;) {
        MainThreadQueue::ProcessQueuedCalls();
        if (done()) return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        if (alsoWake) device::Event::WaitAny({alsoWake, &pending}, static_cast<int>(left));
        else device::Event::WaitAny({&pending}, static_cast<int>(left));
    }
}
} // namespace

bool THeadlessEventLoop::RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    return ServeUntil(done, nullptr, timeoutMs);
}

bool THeadlessEventLoop::RunUntil(const device::Event& done, int timeoutMs)
{
    return ServeUntil([&done] { return done.IsSet(); }, &done, timeoutMs);
}

std::size_t THeadlessEventLoop::ProcessEvents() { return MainThreadQueue::ProcessQueuedCalls(); }

} // namespace cport
