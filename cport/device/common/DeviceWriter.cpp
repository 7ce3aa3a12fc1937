// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/DeviceWriter.h"

#include "common/DeviceCore.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace cport::device {

namespace {

bool Fail(int error)
{
    SetLastError(error);
    return false;
}

} // namespace

void DeviceWriter::Start(int fd, Send send, std::function<void()> onEmpty)
{
    m_fd = fd;
    m_send = std::move(send);
    m_onEmpty = std::move(onEmpty);
    m_wake.Reset();
    m_thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void DeviceWriter::Stop()
{
    if (!m_thread.joinable()) return;
    m_thread.request_stop();
    {
        std::lock_guard lock(m_mutex);
        while (!m_pending.empty()) CompleteFrontLocked(kErrorOperationAborted);
    }
    m_wake.Set();
    m_changed.notify_all();
    m_thread.join();
    m_thread = {};
    m_fd = -1;
}

void DeviceWriter::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard lock(m_mutex);
    m_timeouts = timeouts;
}

ssize_t DeviceWriter::SendSome(const std::uint8_t* data, std::size_t size, int& error)
{
    for (;;) {
        const ssize_t sent = m_send(data, size);
        if (sent >= 0) return sent;
        if (errno == EINTR) continue;
        error = errno == EWOULDBLOCK ? EAGAIN : errno;
        return -1;
    }
}

bool DeviceWriter::WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped)
{
    written = 0;
    if (!overlapped.hEvent || (!buffer && count > 0)) return Fail(EINVAL);
    const auto* data = static_cast<const std::uint8_t*>(buffer);
    std::unique_lock lock(m_mutex);
    if (!m_thread.joinable()) return Fail(EBADF);
    if (m_pending.empty()) {
        // Nothing ahead of it: what the descriptor takes now goes out on the caller's thread.
        while (written < count) {
            int error = 0;
            const ssize_t sent = SendSome(data + written, count - written, error);
            if (sent < 0) {
                if (error == EAGAIN) break;
                overlapped.hEvent->Reset();
                return Fail(error);
            }
            written += static_cast<DWORD>(sent);
        }
        if (written == count) {
            m_core.CompleteTransfer(overlapped, written, 0);
            lock.unlock();
            if (m_onEmpty) m_onEmpty();
            return true;
        }
    }
    m_core.BeginTransfer(overlapped);
    Pending& pending = m_pending.emplace_back();
    pending.overlapped = &overlapped;
    pending.data = data;
    pending.count = count;
    pending.done = written;
    written = 0;
    const auto& t = m_timeouts;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        const auto total = std::chrono::milliseconds(std::uint64_t{t.WriteTotalTimeoutMultiplier} * count +
                                                     t.WriteTotalTimeoutConstant);
        pending.deadline = Clock::now() + total;
    }
    lock.unlock();
    m_changed.notify_all();
    m_wake.Set();
    return Fail(kErrorIoPending);
}

void DeviceWriter::Abort()
{
    {
        std::lock_guard lock(m_mutex);
        while (!m_pending.empty()) CompleteFrontLocked(kErrorOperationAborted);
    }
    m_wake.Set();
}

DWORD DeviceWriter::Queued() const
{
    std::lock_guard lock(m_mutex);
    DWORD queued = 0;
    for (const Pending& p : m_pending) queued += p.count - p.done;
    return queued;
}

void DeviceWriter::CompleteFrontLocked(int error)
{
    Pending& front = m_pending.front();
    m_core.CompleteTransfer(*front.overlapped, front.done, error);
    m_pending.pop_front();
}

void DeviceWriter::Run(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested()) {
        if (m_pending.empty()) {
            m_changed.wait(lock, [&] { return stop.stop_requested() || !m_pending.empty(); });
            continue;
        }
        Pending& front = m_pending.front();
        // Send what the descriptor takes.
        int error = 0;
        while (front.done < front.count) {
            const ssize_t sent = SendSome(front.data + front.done, front.count - front.done, error);
            if (sent < 0) break;
            front.done += static_cast<DWORD>(sent);
        }
        if (front.done == front.count || (error != 0 && error != EAGAIN)) {
            CompleteFrontLocked(front.done == front.count ? 0 : error);
            if (m_pending.empty() && m_onEmpty) {
                lock.unlock();
                m_onEmpty();
                lock.lock();
            }
            continue;
        }
        const auto now = Clock::now();
        if (front.deadline && now >= *front.deadline) {
            CompleteFrontLocked(0); // timed out: a success with the bytes that went out
            continue;
        }
        // Wait for room, for the deadline, or for a wake (a new write, an abort, the stop).
        int timeoutMs = -1;
        if (front.deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*front.deadline - now).count();
            timeoutMs = static_cast<int>(std::min<long long>(left, 60'000));
        }
        m_wake.Reset();
        lock.unlock();
        pollfd fds[2] = {{m_fd, POLLOUT, 0}, {static_cast<int>(m_wake.NativeHandle()), POLLIN, 0}};
        ::poll(fds, 2, timeoutMs);
        lock.lock();
    }
}

} // namespace cport::device
