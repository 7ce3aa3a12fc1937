// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The stop signals (SIGINT, SIGTERM, SIGHUP) taken as readable events instead of interruptions: they
// are blocked and arrive through a signalfd that the logger's waits include. No handler runs, so no
// signal can land inside a lock, and no system call is interrupted by one.
//
// Construct on the main thread before any other thread starts: threads inherit the blocked set, and a
// stop signal unblocked in any thread would be delivered there the old way.

#include <functional>
#include <thread>

namespace varmio::logger {

class StopSignals {
public:
    // Blocks the signals and opens the signalfd. Throws std::system_error.
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable while a stop signal is pending. Any thread may wait on it.
    int Fd() const { return m_fd; }
    // Takes one pending stop signal; returns its number, 0 when none is pending. Never blocks.
    int Take();

private:
    int m_fd = -1;
};

// Calls `onStop` on a thread of its own when a stop signal comes, once; for loops that wait on
// something else. Threads: construct and destroy on one thread.
class StopSignalWatch {
public:
    // Throws std::system_error.
    StopSignalWatch(StopSignals& signals, std::function<void()> onStop);
    ~StopSignalWatch();
    StopSignalWatch(const StopSignalWatch&) = delete;
    StopSignalWatch& operator=(const StopSignalWatch&) = delete;

private:
    int m_wake = -1; // eventfd: the watch is over
    std::jthread m_thread;
};

} // namespace varmio::logger
