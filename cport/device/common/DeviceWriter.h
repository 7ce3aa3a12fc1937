// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// DeviceWriter: the transmit side of a device whose line is a non-blocking descriptor (a terminal, a
// socket). WriteFile hands as much as the descriptor takes at once to it on the caller's thread; a write
// that the descriptor cannot take whole goes pending and a writer thread finishes it, waiting for room
// with poll(), so the caller never blocks. Pending writes complete in the order they were started, each
// with the bytes it got out: all of them, or fewer when the write timeouts ran out (a success, as on
// Win32), or with the send's error. PURGE_TXABORT completes them as aborted with what they had sent.
//
// Write timeouts (milliseconds): a write of `count` bytes may take WriteTotalTimeoutMultiplier * count +
// WriteTotalTimeoutConstant from its start; both 0 means no limit.
//
// Completions go through the device's DeviceCore, under its lock, so GetOverlappedResult sees them as it
// sees reads and a collected record is never touched again.
//
// Threads: every member may be called from any thread; Start and Stop only while no other thread uses
// the writer (the device's Open and Close).

#include "cport/Device.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace cport::device {

class DeviceCore;

class DeviceWriter {
public:
    // Writes up to `size` bytes without blocking: the count written, or -1 with errno (EAGAIN when the
    // descriptor has no room).
    using Send = std::function<ssize_t(const std::uint8_t* data, std::size_t size)>;

    explicit DeviceWriter(DeviceCore& core) : m_core(core) {}
    ~DeviceWriter() { Stop(); }
    DeviceWriter(const DeviceWriter&) = delete;
    DeviceWriter& operator=(const DeviceWriter&) = delete;

    // Starts the writer thread on `fd` (polled for room). `onEmpty` runs, without the writer's lock,
    // each time the pending writes have all been sent (the device raises EV_TXEMPTY from it).
    void Start(int fd, Send send, std::function<void()> onEmpty);
    // Completes every pending write as aborted and ends the writer thread.
    void Stop();
    void SetTimeouts(const COMMTIMEOUTS& timeouts);

    bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped);
    // PURGE_TXABORT.
    void Abort();
    // Bytes of pending writes not yet sent (COMSTAT::cbOutQue).
    DWORD Queued() const;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Overlapped* overlapped = nullptr;
        const std::uint8_t* data = nullptr;
        DWORD count = 0;
        DWORD done = 0;
        std::optional<Clock::time_point> deadline;
    };

    void Run(std::stop_token stop);
    void CompleteFrontLocked(int error);
    ssize_t SendSome(const std::uint8_t* data, std::size_t size, int& error);

    DeviceCore& m_core;
    Send m_send;
    std::function<void()> m_onEmpty;
    int m_fd = -1;
    Event m_wake{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Pending> m_pending;
    COMMTIMEOUTS m_timeouts;
    std::jthread m_thread;
};

} // namespace cport::device
