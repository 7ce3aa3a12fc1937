// SPDX-License-Identifier: GPL-3.0-or-later
// Event on POSIX: an eventfd whose counter is non-zero exactly while the event is set. Set adds one,
// Reset reads the counter back to zero, and waiting is poll() for readability, which never consumes it,
// so the event stays set for every waiter until someone resets it (manual reset). A flag mirrors the
// state so that repeated Sets and Resets, and waits on a set event, cost no system call; each change
// of flag and counter is made under a mutex, so the two never disagree for a waiter to see.

#include "cport/Device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>
#include <vector>

namespace cport::device {

namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// poll() that resumes after signals with the time that is left; returns poll's result (>= 0) or -1.
int PollFor(pollfd* fds, nfds_t count, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        const int r = ::poll(fds, count, timeoutMs);
        if (r >= 0 || errno != EINTR) return r;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            timeoutMs = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

} // namespace

Event::Event(bool initiallySet)
    : m_handle(::eventfd(initiallySet ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK)), m_set(initiallySet)
{
    if (m_handle < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Event::~Event() { ::close(Fd(m_handle)); }

void Event::Set()
{
    if (m_set.load(std::memory_order_acquire)) return;
    std::lock_guard lock(m_change);
    if (m_set.load(std::memory_order_relaxed)) return;
    const std::uint64_t one = 1;
    // Cannot fail on a valid eventfd whose counter is zero.
    [[maybe_unused]] const auto written = ::write(Fd(m_handle), &one, sizeof one);
    m_set.store(true, std::memory_order_release);
}

void Event::Reset()
{
    if (!m_set.load(std::memory_order_acquire)) return;
    std::lock_guard lock(m_change);
    if (!m_set.load(std::memory_order_relaxed)) return;
    std::uint64_t value = 0;
    [[maybe_unused]] const auto read = ::read(Fd(m_handle), &value, sizeof value);
    m_set.store(false, std::memory_order_release);
}

bool Event::IsSet() const { return m_set.load(std::memory_order_acquire); }

bool Event::Wait(int timeoutMs) const
{
    if (IsSet()) return true;
    pollfd fd{Fd(m_handle), POLLIN, 0};
    return PollFor(&fd, 1, timeoutMs) > 0;
}

int Event::WaitAny(std::initializer_list<const Event*> events, int timeoutMs)
{
    pollfd small[4];
    std::vector<pollfd> large;
    pollfd* fds = small;
    if (events.size() > std::size(small)) {
        large.resize(events.size());
        fds = large.data();
    }
    nfds_t count = 0;
    for (const Event* e : events) {
        if (e->IsSet()) return static_cast<int>(count);
        fds[count++] = pollfd{Fd(e->m_handle), POLLIN, 0};
    }

    const int ready = PollFor(fds, count, timeoutMs);
    if (ready < 0) SetLastError(errno);
    if (ready <= 0) return -1;
    for (nfds_t i = 0; i < count; ++i) {
        if (fds[i].revents & POLLIN) return static_cast<int>(i);
    }
    return -1;
}

std::intptr_t Event::NativeHandle() const { return m_handle; }

} // namespace cport::device
