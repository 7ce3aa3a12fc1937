// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// DeviceCore: the part of a serial device that is the same whatever feeds it. It owns the input queue,
// the line-event history and the latched line errors, and it completes overlapped waits and reads with
// their Win32 meanings (read timeouts, purge, abort on error, removal). The system device feeds it from
// its reader thread; the fake device feeds it from test scripts. Everything that touches the operating
// system (descriptors, line settings, modem lines) stays with the device that owns the core.
//
// Threads: every member may be called from any thread; one mutex guards the state. A completion stores
// its result and sets the transfer's event while holding that mutex, and GetOverlappedResult reads the
// result under it, so once a caller has collected a result the core never touches that Overlapped
// again. The wake hook runs on the calling thread with the mutex released.

#include "cport/Device.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace cport::device {

// The DCB options that shape the received stream.
struct ReceiveRules {
    bool discardNull = false;  // fNull: NUL bytes never enter the queue
    bool abortOnError = false; // fAbortOnError: a line error fails reads until ClearCommError
    char eventChar = 0;        // EvtChar: its arrival raises EV_RXFLAG
};

// 0 when the DCB's values are ones a serial device can take at all, else EINVAL: ByteSize 5 to 8, a
// known parity, a known stop-bit count that suits the byte size (1.5 only with 5 data bits, 2 not with
// 5), a non-zero rate, and no DTR/RTS control value outside the tables.
int CheckDcb(const DCB& dcb);
// The receive options of a DCB.
ReceiveRules ReceiveRulesOf(const DCB& dcb);
// The line events a change of the modem input lines (MS_* bits) raises: EV_CTS, EV_DSR and EV_RLSD
// for a change either way, EV_RING when the ring indicator comes on.
DWORD ModemChangeEvents(DWORD before, DWORD after);

class DeviceCore {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Clock = std::function<TimePoint()>;

    static constexpr DWORD kDefaultQueueSize = 4096;
    static constexpr DWORD kMaxQueueSize = 16u * 1024u * 1024u;
    static constexpr DWORD kValidEvents = 0x07FF;
    static constexpr DWORD kValidPurgeFlags = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

    // The clock measures read timeouts; the steady clock unless a test injects its own.
    explicit DeviceCore(Clock clock = {});
    ~DeviceCore();
    DeviceCore(const DeviceCore&) = delete;
    DeviceCore& operator=(const DeviceCore&) = delete;

    // Run, without the lock, when the feeder should look again: room appeared in a queue found full
    // while a wait or read is pending (with none pending, the next caller takes the bytes itself), the
    // queue fell to the level asked for by WakeWhenCountAtMost, a pending read got a deadline, or the
    // event mask changed. Set it before the core is used.
    void SetWakeHook(std::function<void()> hook);

    // A freshly opened device: empty queue of the default size, no mask, history or errors, zero
    // timeouts (reads wait for their full count), present.
    void Reset();
    // Completes every pending wait and read with kErrorOperationAborted (the device is being closed).
    void AbortAll();

    // ---- Device operations. false = failure, with the calling thread's last error set. ----------------
    bool SetQueueSize(DWORD inQueue);
    void SetReceiveRules(const ReceiveRules& rules);
    bool SetTimeouts(const COMMTIMEOUTS& timeouts);
    bool SetMask(DWORD mask);
    bool WaitCommEvent(DWORD& mask, Overlapped& overlapped);
    bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped);
    bool GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait);
    // The queue side of PurgeComm: RXABORT completes pending reads as aborted, RXCLEAR runs flushLine
    // (the device's own flush of what the line still holds) and empties the queue, both under the lock,
    // so no byte taken before the purge is queued after it. Refuses flags outside PURGE_* and an empty
    // set, as Win32 does.
    bool Purge(DWORD flags, const std::function<void()>& flushLine = {});
    // Transfers the device runs itself (writes): Begin marks one pending, Complete stores its result
    // and sets its event under the core's lock, as the core's own completions are.
    void BeginTransfer(Overlapped& overlapped);
    void CompleteTransfer(Overlapped& overlapped, DWORD transferred, int error);
    // Takes the latched CE_* errors and reports the number of bytes waiting.
    bool ClearCommError(DWORD& errors, DWORD& inQueue);

    // ---- The feeder's side. -------------------------------------------------------------------------
    // The free room of the queue: `first` then `second` (the ring may wrap).
    struct Space {
        std::uint8_t* first = nullptr;
        std::size_t firstSize = 0;
        std::uint8_t* second = nullptr;
        std::size_t secondSize = 0;
        std::size_t Size() const { return firstSize + secondSize; }
    };

    // Calls fill(space) under the lock; fill writes received bytes into the room, in order, and returns
    // how many it wrote. The bytes are then queued (NULs dropped under DiscardNull), raise their events
    // and complete reads. Returns false without calling fill when the queue is full: the feeder stops,
    // and the wake hook runs once room appears while a wait or read is pending. Holding the lock across
    // fill makes a purge exact: bytes taken from the line before a purge are never queued after it.
    template <typename Fill>
    bool Receive(Fill&& fill)
    {
        std::unique_lock lock(m_mutex);
        const Space space = FreeSpaceLocked();
        m_stalled = space.Size() == 0;
        if (m_stalled) return false;
        CommitLocked(fill(space));
        UnlockAndWake(lock);
        return true;
    }
    // Receive from memory: queues as much of `data` as fits and returns how many bytes it took.
    std::size_t Append(const void* data, std::size_t size);

    // Line events observed by the device (modem lines, break, output empty); kept if the mask selects them.
    void RaiseEvents(DWORD events);
    // Line errors observed by the device: latched until ClearCommError; CE_FRAME, CE_OVERRUN and
    // CE_RXPARITY raise EV_ERR, CE_BREAK raises EV_BREAK.
    void AddErrors(DWORD errors);
    // The device is gone (error = the number later calls fail with). A pending wait completes with that
    // failure; if none is pending, the next wait does, once; waits after that fail at once. Bytes already
    // queued can still be read; once the queue is empty, reads and ClearCommError fail too.
    void Remove(int error);
    // 0 while the device is present, else the error number of Remove.
    int RemovedError() const;

    // Asks for the wake hook once the queue holds no more than `level` bytes.
    void WakeWhenCountAtMost(std::size_t level);

    // The earliest moment a pending read's timeout expires, if any.
    std::optional<TimePoint> NextDeadline() const;
    // Completes the reads whose timeouts have expired by the clock's now.
    void ExpireDeadlines();

    std::size_t Count() const;
    std::size_t Capacity() const;
    std::size_t FreeSpace() const;
    DWORD Mask() const;
    bool HasPendingWait() const;
    std::size_t PendingReads() const;

private:
    struct PendingRead {
        Overlapped* overlapped = nullptr;
        std::uint8_t* buffer = nullptr;
        DWORD count = 0;
        DWORD done = 0; // bytes already moved into the buffer (a read larger than a full queue)
        COMMTIMEOUTS timeouts;
        bool armed = false;
        bool anyByte = false; // completes as soon as one byte is there
        std::optional<TimePoint> totalDeadline;
        std::optional<TimePoint> intervalDeadline;
    };

    Space FreeSpaceLocked();
    void CommitLocked(std::size_t written);
    void UnlockAndWake(std::unique_lock<std::mutex>& lock);

    void RaiseLocked(DWORD events);
    void CompleteWaitLocked(DWORD events, int error);
    void ArmLocked(PendingRead& read, TimePoint now);
    void ServeReadsLocked(TimePoint now, bool arrival);
    void CompleteReadLocked(PendingRead& read, DWORD count, int error);
    void AbortReadsLocked(int error);
    void TakeLocked(std::uint8_t* to, std::size_t count);
    bool RemovedAndDrainedLocked() const;
    void RoomChangedLocked();

    static void Complete(Overlapped& overlapped, DWORD transferred, int error);
    static void StartPending(Overlapped& overlapped);
    static bool Fail(int error);

    Clock m_clock;
    std::function<void()> m_wakeHook;

    mutable std::mutex m_mutex;
    bool m_wakePending = false;

    std::vector<std::uint8_t> m_ring; // storage; never smaller than m_capacity or m_count
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    std::size_t m_capacity = kDefaultQueueSize;
    std::optional<std::size_t> m_wakeLevel;
    bool m_stalled = false; // the last feed found the queue full

    ReceiveRules m_rules;
    COMMTIMEOUTS m_timeouts;
    DWORD m_mask = 0;
    DWORD m_history = 0;
    DWORD m_errors = 0;
    int m_removed = 0;
    bool m_removalReported = false;

    DWORD* m_waitMask = nullptr;
    Overlapped* m_wait = nullptr;
    std::deque<PendingRead> m_reads;
};

} // namespace cport::device
