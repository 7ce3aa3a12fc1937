// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/DeviceCore.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace cport::device {

namespace {

constexpr DWORD kErrorEvents = CE_FRAME | CE_OVERRUN | CE_RXPARITY;

// The Win32 "return at once with what is there" setting: interval MAXDWORD, both read totals 0.
bool ReturnsAtOnce(const COMMTIMEOUTS& t)
{
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
}

// Interval MAXDWORD with a read total set: a read returns at once with the bytes already queued; with
// none queued it returns with the first bytes to arrive, or with nothing once the total has run out.
bool ReturnsOnFirstByte(const COMMTIMEOUTS& t) { return t.ReadIntervalTimeout == MAXDWORD && !ReturnsAtOnce(t); }

// The total time a read of `count` bytes may take, in milliseconds; none when both totals are 0. In
// the documented first-byte setting (MAXDWORD, MAXDWORD, 0 < C < MAXDWORD) the multiplier only names
// the setting and C alone counts; everywhere else the total is M * count + C, which cannot overflow:
// (2^32 - 1)^2 + 2^32 - 1 < 2^64.
std::optional<std::uint64_t> TotalMs(const COMMTIMEOUTS& t, DWORD count)
{
    if (t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) return std::nullopt;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD) {
        return t.ReadTotalTimeoutConstant;
    }
    return std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
}

// `ms` after `now`; none when that lies beyond the clock's range, which is as good as no limit.
std::optional<DeviceCore::TimePoint> DeadlineAfter(DeviceCore::TimePoint now, std::uint64_t ms)
{
    using Ms = std::chrono::milliseconds;
    const auto room = std::chrono::duration_cast<Ms>(DeviceCore::TimePoint::max() - now).count();
    if (room < 0 || ms >= static_cast<std::uint64_t>(room)) return std::nullopt;
    return now + Ms(static_cast<Ms::rep>(ms));
}

} // namespace

int CheckDcb(const DCB& dcb)
{
    const bool sizeOk = dcb.ByteSize >= 5 && dcb.ByteSize <= 8;
    const bool stopOk = dcb.StopBits == ONESTOPBIT || (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize == 5) ||
                        (dcb.StopBits == TWOSTOPBITS && dcb.ByteSize != 5);
    const bool ok =
        sizeOk && stopOk && dcb.Parity <= SPACEPARITY && dcb.BaudRate != 0 && dcb.DtrControl() <= DTR_CONTROL_HANDSHAKE;
    return ok ? 0 : EINVAL;
}

ReceiveRules ReceiveRulesOf(const DCB& dcb)
{
    return ReceiveRules{(dcb.Flags & fNull) != 0, (dcb.Flags & fAbortOnError) != 0, dcb.EvtChar};
}

DWORD ModemChangeEvents(DWORD before, DWORD after)
{
    const DWORD changed = before ^ after;
    return ((changed & MS_CTS_ON) ? EV_CTS : 0) | ((changed & MS_DSR_ON) ? EV_DSR : 0) |
           ((changed & MS_RLSD_ON) ? EV_RLSD : 0) | ((changed & after & MS_RING_ON) ? EV_RING : 0);
}

DeviceCore::DeviceCore(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      m_ring(kDefaultQueueSize)
{
}

DeviceCore::~DeviceCore() { AbortAll(); }

void DeviceCore::SetWakeHook(std::function<void()> hook)
{
    std::lock_guard lock(m_mutex);
    m_wakeHook = std::move(hook);
}

void DeviceCore::Reset()
{
    std::unique_lock lock(m_mutex);
    AbortReadsLocked(kErrorOperationAborted);
    if (m_wait) CompleteWaitLocked(0, kErrorOperationAborted);
    m_ring.assign(kDefaultQueueSize, 0);
    m_ring.shrink_to_fit();
    m_head = m_count = 0;
    m_capacity = kDefaultQueueSize;
    m_wakeLevel.reset();
    m_stalled = false;
    m_rules = {};
    m_timeouts = {};
    m_mask = m_history = m_errors = 0;
    m_removed = 0;
    m_removalReported = false;
    m_wakePending = false;
}

void DeviceCore::AbortAll()
{
    std::unique_lock lock(m_mutex);
    AbortReadsLocked(kErrorOperationAborted);
    if (m_wait) CompleteWaitLocked(0, kErrorOperationAborted);
    m_wakePending = false;
}

// ---- Settings ---------------------------------------------------------------------------------------

bool DeviceCore::SetQueueSize(DWORD inQueue)
{
    std::unique_lock lock(m_mutex);
    if (m_removed) return Fail(m_removed);
    if (inQueue > kMaxQueueSize) return Fail(EINVAL);
    if (inQueue == 0 || inQueue == m_capacity) return true; // a size is a recommendation; 0 keeps ours

    // Bytes already queued are kept even when they exceed the new size; the feeder then waits until
    // reads have taken enough of them.
    std::vector<std::uint8_t> ring(std::max<std::size_t>(inQueue, m_count));
    const std::size_t firstPart = std::min(m_count, m_ring.size() - m_head);
    std::memcpy(ring.data(), m_ring.data() + m_head, firstPart);
    std::memcpy(ring.data() + firstPart, m_ring.data(), m_count - firstPart);
    m_ring = std::move(ring);
    m_head = 0;
    m_capacity = inQueue;
    RoomChangedLocked();
    UnlockAndWake(lock);
    return true;
}

void DeviceCore::SetReceiveRules(const ReceiveRules& rules)
{
    std::lock_guard lock(m_mutex);
    m_rules = rules;
}

bool DeviceCore::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard lock(m_mutex);
    if (m_removed) return Fail(m_removed);
    // Win32 refuses the one combination that would mean "wait forever for the first byte, then return".
    if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
        timeouts.ReadTotalTimeoutConstant == MAXDWORD) {
        return Fail(EINVAL);
    }
    m_timeouts = timeouts; // reads already pending keep the timeouts they started with
    return true;
}

bool DeviceCore::SetMask(DWORD mask)
{
    std::unique_lock lock(m_mutex);
    if (m_removed) return Fail(m_removed);
    if (mask & ~kValidEvents) return Fail(EINVAL);
    if (m_wait) CompleteWaitLocked(0, 0);
    m_mask = mask;
    // Bytes that arrived while the mask did not select them are announced by the first wait, so they
    // do not sit unannounced until some later arrival.
    m_history = (mask & EV_RXCHAR) && m_count > 0 ? EV_RXCHAR : 0;
    m_wakePending = true; // the feeder may have to start or stop sampling lines
    UnlockAndWake(lock);
    return true;
}

// ---- Transfers --------------------------------------------------------------------------------------

bool DeviceCore::WaitCommEvent(DWORD& mask, Overlapped& overlapped)
{
    std::unique_lock lock(m_mutex);
    if (!overlapped.hEvent) return Fail(EINVAL);
    if (m_wait) return Fail(EINVAL); // one wait at a time
    if (m_mask == 0) {
        overlapped.hEvent->Reset(); // a wait that did not start leaves its event clear
        return Fail(EINVAL);
    }
    if (const DWORD events = m_history & m_mask) {
        m_history = 0;
        mask = events;
        Complete(overlapped, 0, 0);
        return true;
    }
    if (m_removed && m_removalReported) {
        overlapped.hEvent->Reset(); // stays clear: a waiter on it blocks instead of spinning
        return Fail(m_removed);
    }
    StartPending(overlapped);
    m_waitMask = &mask;
    m_wait = &overlapped;
    if (m_removed) CompleteWaitLocked(0, m_removed); // the removal is reported through this wait, once
    RoomChangedLocked();
    UnlockAndWake(lock);
    return Fail(kErrorIoPending);
}

bool DeviceCore::ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped)
{
    std::unique_lock lock(m_mutex);
    read = 0;
    if (!overlapped.hEvent || (!buffer && count > 0)) return Fail(EINVAL);
    if (RemovedAndDrainedLocked()) {
        overlapped.hEvent->Reset();
        return Fail(m_removed);
    }
    if (m_rules.abortOnError && m_errors) {
        overlapped.hEvent->Reset();
        return Fail(kErrorOperationAborted);
    }

    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (m_reads.empty()) {
        const bool atOnce = count == 0 || m_count >= count || m_removed || ReturnsAtOnce(m_timeouts) ||
                            (ReturnsOnFirstByte(m_timeouts) && m_count > 0);
        if (atOnce) {
            read = static_cast<DWORD>(std::min<std::size_t>(count, m_count));
            TakeLocked(bytes, read);
            Complete(overlapped, read, 0);
            UnlockAndWake(lock);
            return true;
        }
    }
    StartPending(overlapped);
    PendingRead& pending = m_reads.emplace_back();
    pending.overlapped = &overlapped;
    pending.buffer = bytes;
    pending.count = count;
    pending.timeouts = m_timeouts;
    if (m_reads.size() == 1) ServeReadsLocked(m_clock(), false);
    RoomChangedLocked();
    UnlockAndWake(lock);
    return Fail(kErrorIoPending);
}

bool DeviceCore::GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait)
{
    std::unique_lock lock(m_mutex);
    while (overlapped.Internal.load(std::memory_order_relaxed) == kErrorIoPending) {
        if (!wait) return Fail(kErrorIoIncomplete);
        if (!overlapped.hEvent) return Fail(EINVAL);
        lock.unlock();
        overlapped.hEvent->Wait();
        lock.lock();
    }
    transferred = overlapped.InternalHigh.load(std::memory_order_relaxed);
    const int error = overlapped.Internal.load(std::memory_order_relaxed);
    return error == 0 ? true : Fail(error);
}

void DeviceCore::BeginTransfer(Overlapped& overlapped)
{
    std::lock_guard lock(m_mutex);
    StartPending(overlapped);
}

void DeviceCore::CompleteTransfer(Overlapped& overlapped, DWORD transferred, int error)
{
    std::lock_guard lock(m_mutex);
    Complete(overlapped, transferred, error);
}

bool DeviceCore::Purge(DWORD flags, const std::function<void()>& flushLine)
{
    std::unique_lock lock(m_mutex);
    if (flags == 0 || (flags & ~kValidPurgeFlags)) return Fail(EINVAL);
    if (flags & PURGE_RXABORT) AbortReadsLocked(kErrorOperationAborted);
    if (flags & PURGE_RXCLEAR) {
        if (flushLine) flushLine();
        m_head = m_count = 0;
        RoomChangedLocked();
    }
    UnlockAndWake(lock);
    return true;
}

bool DeviceCore::ClearCommError(DWORD& errors, DWORD& inQueue)
{
    std::lock_guard lock(m_mutex);
    if (RemovedAndDrainedLocked()) return Fail(m_removed);
    errors = std::exchange(m_errors, 0);
    inQueue = static_cast<DWORD>(m_count);
    return true;
}

// ---- Feeding ----------------------------------------------------------------------------------------

std::size_t DeviceCore::Append(const void* data, std::size_t size)
{
    std::size_t taken = 0;
    Receive([&](const Space& space) {
        const auto* from = static_cast<const std::uint8_t*>(data);
        const std::size_t first = std::min(size, space.firstSize);
        const std::size_t second = std::min(size - first, space.secondSize);
        std::memcpy(space.first, from, first);
        if (second) std::memcpy(space.second, from + first, second);
        taken = first + second;
        return taken;
    });
    return taken;
}

void DeviceCore::RaiseEvents(DWORD events)
{
    std::lock_guard lock(m_mutex);
    RaiseLocked(events);
}

void DeviceCore::AddErrors(DWORD errors)
{
    std::lock_guard lock(m_mutex);
    if (!errors) return;
    m_errors |= errors;
    RaiseLocked(((errors & kErrorEvents) ? EV_ERR : 0) | ((errors & CE_BREAK) ? EV_BREAK : 0));
    if (m_rules.abortOnError) AbortReadsLocked(kErrorOperationAborted);
}

void DeviceCore::Remove(int error)
{
    std::lock_guard lock(m_mutex);
    if (m_removed) return;
    m_removed = error;
    if (m_wait) CompleteWaitLocked(0, error);
    // Pending reads end now: with what is queued, or with the failure when nothing is.
    while (!m_reads.empty()) {
        PendingRead& read = m_reads.front();
        const auto n = static_cast<DWORD>(std::min<std::size_t>(read.count - read.done, m_count));
        CompleteReadLocked(read, n, n > 0 || read.done > 0 ? 0 : error);
        m_reads.pop_front();
    }
}

// A removed device keeps handing out the bytes it received before, and answers "nothing waiting" once
// they are gone, until a wait has reported the removal: the read that empties the queue is followed by
// a count of what is left, and failing that count would lose the bytes the read has just taken.
bool DeviceCore::RemovedAndDrainedLocked() const { return m_removed && m_count == 0 && m_removalReported; }

int DeviceCore::RemovedError() const
{
    std::lock_guard lock(m_mutex);
    return m_removed;
}

void DeviceCore::WakeWhenCountAtMost(std::size_t level)
{
    std::unique_lock lock(m_mutex);
    m_wakeLevel = m_wakeLevel ? std::min(*m_wakeLevel, level) : level;
    RoomChangedLocked();
    UnlockAndWake(lock);
}

std::optional<DeviceCore::TimePoint> DeviceCore::NextDeadline() const
{
    std::lock_guard lock(m_mutex);
    if (m_reads.empty()) return std::nullopt;
    const PendingRead& read = m_reads.front();
    if (read.totalDeadline && read.intervalDeadline) return std::min(*read.totalDeadline, *read.intervalDeadline);
    return read.totalDeadline ? read.totalDeadline : read.intervalDeadline;
}

void DeviceCore::ExpireDeadlines()
{
    std::unique_lock lock(m_mutex);
    ServeReadsLocked(m_clock(), false);
    UnlockAndWake(lock);
}

std::size_t DeviceCore::Count() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}

std::size_t DeviceCore::Capacity() const
{
    std::lock_guard lock(m_mutex);
    return m_capacity;
}

std::size_t DeviceCore::FreeSpace() const
{
    std::lock_guard lock(m_mutex);
    return m_capacity > m_count ? m_capacity - m_count : 0;
}

DWORD DeviceCore::Mask() const
{
    std::lock_guard lock(m_mutex);
    return m_mask;
}

bool DeviceCore::HasPendingWait() const
{
    std::lock_guard lock(m_mutex);
    return m_wait != nullptr;
}

std::size_t DeviceCore::PendingReads() const
{
    std::lock_guard lock(m_mutex);
    return m_reads.size();
}

// ---- Internals (m_mutex held) -----------------------------------------------------------------------

DeviceCore::Space DeviceCore::FreeSpaceLocked()
{
    Space space;
    if (m_capacity <= m_count) return space;
    const std::size_t free = m_capacity - m_count;
    const std::size_t tail = (m_head + m_count) % m_ring.size();
    space.first = m_ring.data() + tail;
    space.firstSize = std::min(free, m_ring.size() - tail);
    space.second = m_ring.data();
    space.secondSize = free - space.firstSize;
    return space;
}

void DeviceCore::CommitLocked(std::size_t written)
{
    if (written == 0) return;
    const std::size_t before = m_count;
    const std::size_t size = m_ring.size();
    auto at = [&](std::size_t logical) -> std::uint8_t& { return m_ring[(m_head + logical) % size]; };

    std::size_t kept = written;
    if (m_rules.discardNull) {
        kept = 0;
        for (std::size_t i = 0; i < written; ++i) {
            const std::uint8_t byte = at(before + i);
            if (byte != 0) at(before + kept++) = byte;
        }
    }
    if (kept == 0) return;
    m_count += kept;

    DWORD events = EV_RXCHAR;
    if (m_mask & EV_RXFLAG) {
        for (std::size_t i = 0; i < kept; ++i) {
            if (at(before + i) == static_cast<std::uint8_t>(m_rules.eventChar)) {
                events |= EV_RXFLAG;
                break;
            }
        }
    }
    // 80 % full: raised when the count crosses the mark, not while it stays above it.
    const auto mark = static_cast<std::uint64_t>(m_capacity) * 4;
    if (static_cast<std::uint64_t>(before) * 5 < mark && static_cast<std::uint64_t>(m_count) * 5 >= mark) {
        events |= EV_RX80FULL;
    }
    RaiseLocked(events);
    ServeReadsLocked(m_clock(), true);
}

void DeviceCore::UnlockAndWake(std::unique_lock<std::mutex>& lock)
{
    const bool wake = std::exchange(m_wakePending, false) && m_wakeHook;
    auto hook = wake ? m_wakeHook : std::function<void()>();
    lock.unlock();
    if (hook) hook();
}

void DeviceCore::RaiseLocked(DWORD events)
{
    m_history |= events & m_mask;
    if (m_wait && m_history) CompleteWaitLocked(std::exchange(m_history, 0), 0);
}

void DeviceCore::CompleteWaitLocked(DWORD events, int error)
{
    Overlapped& overlapped = *std::exchange(m_wait, nullptr);
    *std::exchange(m_waitMask, nullptr) = events;
    if (error == m_removed && error != 0) m_removalReported = true;
    Complete(overlapped, 0, error);
}

void DeviceCore::ArmLocked(PendingRead& read, TimePoint now)
{
    read.armed = true;
    const COMMTIMEOUTS& t = read.timeouts;
    read.anyByte = ReturnsOnFirstByte(t);
    if (const auto total = TotalMs(t, read.count)) read.totalDeadline = DeadlineAfter(now, *total);
    // The interval timer runs from the last byte received; bytes already queued count as received now.
    if (t.ReadIntervalTimeout != 0 && m_count > 0 && !read.anyByte) {
        read.intervalDeadline = DeadlineAfter(now, t.ReadIntervalTimeout);
    }
    if (read.totalDeadline || read.intervalDeadline) m_wakePending = true;
}

void DeviceCore::ServeReadsLocked(TimePoint now, bool arrival)
{
    while (!m_reads.empty()) {
        PendingRead& read = m_reads.front();
        if (!read.armed) ArmLocked(read, now);
        const std::size_t wanted = read.count - read.done;
        const bool expired = (read.totalDeadline && now >= *read.totalDeadline) ||
                             (read.intervalDeadline && now >= *read.intervalDeadline);
        if (m_count >= wanted || (read.anyByte && m_count > 0) || expired) {
            CompleteReadLocked(read, static_cast<DWORD>(std::min(wanted, m_count)), 0);
            m_reads.pop_front();
            continue;
        }
        // A read larger than the queue takes what a full queue holds, so that more can come.
        if (m_count >= m_capacity && m_count > 0) {
            const std::size_t n = m_count;
            TakeLocked(read.buffer + read.done, n);
            read.done += static_cast<DWORD>(n);
        }
        if (arrival && read.timeouts.ReadIntervalTimeout != 0 && !read.anyByte) {
            read.intervalDeadline = DeadlineAfter(now, read.timeouts.ReadIntervalTimeout);
        }
        break;
    }
}

void DeviceCore::CompleteReadLocked(PendingRead& read, DWORD count, int error)
{
    if (error == 0) TakeLocked(read.buffer + read.done, count);
    // A failed read still reports the bytes it had already moved into its buffer.
    Complete(*read.overlapped, read.done + (error == 0 ? count : 0), error);
}

void DeviceCore::AbortReadsLocked(int error)
{
    while (!m_reads.empty()) {
        CompleteReadLocked(m_reads.front(), 0, error);
        m_reads.pop_front();
    }
}

void DeviceCore::TakeLocked(std::uint8_t* to, std::size_t count)
{
    if (count == 0) return;
    const std::size_t first = std::min(count, m_ring.size() - m_head);
    std::memcpy(to, m_ring.data() + m_head, first);
    std::memcpy(to + first, m_ring.data(), count - first);
    m_head = (m_head + count) % m_ring.size();
    m_count -= count;
    if (m_count == 0) m_head = 0;
    RoomChangedLocked();
}

void DeviceCore::RoomChangedLocked()
{
    if (m_wakeLevel && m_count <= *m_wakeLevel) {
        m_wakeLevel.reset();
        m_wakePending = true;
    }
    // A full queue left bytes on the line. Someone waits for them: the feeder must fetch them now.
    if (m_stalled && m_count < m_capacity && (m_wait || !m_reads.empty())) {
        m_stalled = false;
        m_wakePending = true;
    }
}

void DeviceCore::Complete(Overlapped& overlapped, DWORD transferred, int error)
{
    overlapped.InternalHigh.store(transferred, std::memory_order_relaxed);
    overlapped.Internal.store(error, std::memory_order_release);
    overlapped.hEvent->Set();
}

void DeviceCore::StartPending(Overlapped& overlapped)
{
    overlapped.hEvent->Reset();
    overlapped.InternalHigh.store(0, std::memory_order_relaxed);
    overlapped.Internal.store(kErrorIoPending, std::memory_order_release);
}

bool DeviceCore::Fail(int error)
{
    SetLastError(error);
    return false;
}

} // namespace cport::device
