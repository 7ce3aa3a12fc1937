// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// FakeDevice: a scripted serial device for tests of code that talks to ISerialDevice.
//
// It behaves as the system device does (it shares its input queue, event history and overlapped
// completion), but the line is a script: the test queues received bytes, sets the modem lines, raises
// line events and errors, pulls the device out, and makes any call fail with a chosen error number.
// Every call is recorded with its arguments, so a test can assert the exact order of device calls.
// Read timeouts run on a clock of the test's own (AdvanceTime), never on the wall clock.
//
// Threads: every member may be called from any thread (a port's owning thread, its event thread and
// the test at once), except that Open and Close, as on every device, run while no other thread uses it.
// Calls are recorded in the order they start. m_mutex is never held while calling into the core.
//
// A port creates its devices through a factory; FactoryFor hands it devices that all drive one shared
// fake, so the script and the record outlive the port's closes and reopens.

#include "cport/Device.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace cport::device {

class DeviceCore;

class FakeDevice final : public ISerialDevice {
public:
    // The device calls, for failure scripting and for reading the record.
    enum Op : std::uint8_t {
        opOpen,
        opClose,
        opSetupComm,
        opSetCommState,
        opSetCommTimeouts,
        opSetCommMask,
        opWaitCommEvent,
        opReadFile,
        opGetOverlappedResult,
        opPurgeComm,
        opClearCommError,
        opGetCommModemStatus,
        opWriteFile,
    };
    static constexpr int kOpCount = opWriteFile + 1;
    // `times` value of FailCall: fail every call from now on.
    static constexpr int kAlways = -1;

    // One recorded call: its operation and its text, the call as written in C++ with its arguments,
    // e.g. "SetupComm(1024, 1024)", "SetCommMask(0x05FF)", "PurgeComm(0x0003)", "Open(COM12)".
    struct Call {
        Op op;
        std::string text;
    };

    FakeDevice();
    ~FakeDevice() override;

    // Devices for a port: each one forwards every call to `fake`.
    static DeviceFactory FactoryFor(std::shared_ptr<FakeDevice> fake);
    static const char* OpName(Op op);

    // ---- ISerialDevice ----------------------------------------------------------------------------------
    bool Open(const std::string& name) override;
    bool Close() override;
    bool IsOpen() const override;
    bool SetupComm(DWORD inQueue, DWORD outQueue) override;
    bool SetCommState(const DCB& dcb) override;
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    bool SetCommMask(DWORD mask) override;
    bool WaitCommEvent(DWORD& mask, Overlapped& overlapped) override;
    bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped) override;
    // Completes at once: the bytes go to the transmitted record (at most the write limit of them, the
    // rest is left unsent as when the write timeouts run out), and a write that took all its bytes
    // raises EV_TXEMPTY; while writes are held (HoldWrites) it stays pending instead. Recorded as
    // "WriteFile(<count>)".
    bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped) override;
    bool GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait) override;
    bool PurgeComm(DWORD flags) override;
    bool ClearCommError(DWORD& errors, COMSTAT& stat) override;
    bool GetCommModemStatus(DWORD& status) override;

    // ---- The script -----------------------------------------------------------------------------------
    // The next `times` calls of `op` (kAlways: all of them) fail with `error`, without effect. A failed
    // WaitCommEvent or ReadFile leaves its overlapped event clear, as a transfer that never started.
    void FailCall(Op op, int error, int times = 1);
    void ClearFailures();

    // Bytes arriving on the line. They enter the input queue while the device is open and there is room;
    // the rest waits on the line (as a sender held back by flow control) until the device opens or room
    // appears, and is fetched as the system device fetches it: by the next wait, read or ClearCommError,
    // or at once when room appears while one is pending. A purge of the input queue drops them too.
    void Receive(std::string_view bytes);
    void Receive(const void* data, std::size_t size);
    // The modem input lines (MS_* bits). A change of CTS, DSR or RLSD raises EV_CTS, EV_DSR or EV_RLSD;
    // the ring indicator coming on raises EV_RING.
    void SetModemStatus(DWORD status);
    // Any line event (EV_* bits), as if the device had observed it.
    void RaiseEvents(DWORD events);
    // Line errors (CE_* bits), latched until ClearCommError takes them; they raise EV_ERR / EV_BREAK.
    void AddLineErrors(DWORD errors);
    // The device is pulled out: a pending wait completes with `error`, later calls fail with it.
    // Close still succeeds. A reopen finds the device present again.
    void Remove(int error);
    // Each later write takes at most `bytes` bytes (SIZE_MAX: all, the default).
    void SetWriteLimit(std::size_t bytes);
    // While `hold` is on, the line takes nothing: writes stay pending, in order, until PURGE_TXABORT or
    // Close completes them as aborted with nothing sent, or the hold ends and they complete as above.
    void HoldWrites(bool hold);
    // Moves the fake's clock on, completing the reads whose timeouts expire.
    void AdvanceTime(std::chrono::milliseconds by);

    // ---- The record -----------------------------------------------------------------------------------
    std::vector<Call> Calls() const;
    // The texts of the recorded calls, all or only those of the given operations.
    std::vector<std::string> CallLog() const;
    std::vector<std::string> CallLog(std::initializer_list<Op> only) const;
    int CallCount(Op op) const;
    void ClearCalls();

    // What the device holds now.
    std::string OpenName() const; // the name given to the last Open
    DCB CommState() const;        // the last accepted DCB
    COMMTIMEOUTS CommTimeouts() const;
    DWORD CommMask() const;
    DWORD InQueueSize() const; // as given to the last accepted SetupComm
    DWORD OutQueueSize() const;
    std::size_t BytesQueued() const; // in the input queue
    std::size_t BytesOnLine() const; // received but not yet queued
    std::string Transmitted() const; // every byte written, in order
    bool HasPendingWait() const;
    std::size_t PendingReads() const;

private:
    // Records the call; false (last error set) if it is scripted to fail or the device is not open.
    bool Begin(Op op, std::string text, bool needsOpen = true);
    bool Removed() const;
    void Feed();
    void AbortHeldWrites(); // completes the held writes as aborted

    std::unique_ptr<DeviceCore> m_core;
    std::atomic<std::int64_t> m_nowMs{0}; // the test's clock
    std::mutex m_feedMutex;               // keeps bytes in order when two threads feed at once
    std::atomic<bool> m_feedAgain{false};

    mutable std::mutex m_mutex;
    std::vector<Call> m_calls;
    int m_failError[kOpCount] = {};
    int m_failTimes[kOpCount] = {};
    bool m_open = false;
    std::string m_name;
    DCB m_dcb;
    COMMTIMEOUTS m_timeouts;
    DWORD m_inQueue = 0;
    DWORD m_outQueue = 0;
    DWORD m_modem = 0;
    std::string m_line; // received bytes not yet queued
    std::string m_transmitted;
    std::size_t m_writeLimit = SIZE_MAX;
    struct HeldWrite {
        Overlapped* overlapped;
        const void* buffer;
        DWORD count;
    };
    bool m_holdWrites = false;
    std::vector<HeldWrite> m_heldWrites; // pending while held, oldest first
};

} // namespace cport::device
