// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial device layer: the only code that talks to the operating system's serial API.
//
// The port is written against the Win32 communications model, so this interface keeps its meanings:
// the values handed over are the Win32 DCB, COMMTIMEOUTS, EV_*, CE_*, MS_* and PURGE_* values, and
// transfers are overlapped (started, then completed through an event). Each platform implements
// `ISerialDevice` in its own source file (device/posix today); a scripted fake implements it for tests.
//
// Error numbers: a call that fails returns false and leaves the error number in the calling thread's
// last-error slot (`GetLastError`), as Win32 does. On POSIX the numbers are errno values (ENOENT = 2 is
// "not found", as on Win32); the three Win32 numbers that carry meaning rather than failure keep their
// Win32 values on every platform: kErrorOperationAborted, kErrorIoIncomplete and kErrorIoPending.
//
// Threads: one device object is used by the port's owning thread and by its event thread at the same
// time (a read may be outstanding while a comm-event wait is pending). Implementations are safe for
// that: every operation may be called from either thread. Open and Close are called only while no
// other thread uses the device.

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>

namespace cport::device {

// A Win32 DWORD: the width of every flag word and count handed to a device.
using DWORD = std::uint32_t;

// ---- Error numbers ---------------------------------------------------------------------------------
inline constexpr int kErrorOperationAborted = 995; // ERROR_OPERATION_ABORTED: transfer cancelled by purge
inline constexpr int kErrorIoIncomplete = 996;     // ERROR_IO_INCOMPLETE: result asked for too early
inline constexpr int kErrorIoPending = 997;        // ERROR_IO_PENDING: overlapped transfer started

// The calling thread's last error number, set by every failing device or event call.
int GetLastError();
void SetLastError(int error);

// ---- DCB ---------------------------------------------------------------------------------------------
// Flag word bits of DCB::Flags.
inline constexpr DWORD fBinary = 0x0001;
inline constexpr DWORD fParity = 0x0002;
inline constexpr DWORD fOutxCtsFlow = 0x0004;
inline constexpr DWORD fOutxDsrFlow = 0x0008;
inline constexpr DWORD fDtrControlMask = 0x0030; // two-bit field, shift 4
inline constexpr int fDtrControlShift = 4;
inline constexpr DWORD fDsrSensitivity = 0x0040;
inline constexpr DWORD fTXContinueOnXoff = 0x0080;
inline constexpr DWORD fOutX = 0x0100;
inline constexpr DWORD fInX = 0x0200;
inline constexpr DWORD fErrorChar = 0x0400;
inline constexpr DWORD fNull = 0x0800;
inline constexpr DWORD fRtsControlMask = 0x3000; // two-bit field, shift 12
inline constexpr int fRtsControlShift = 12;
inline constexpr DWORD fAbortOnError = 0x4000;

// Values of the DTR and RTS control fields.
inline constexpr DWORD DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
inline constexpr DWORD RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                       RTS_CONTROL_TOGGLE = 3;
// Parity and stop-bit values.
inline constexpr std::uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
inline constexpr std::uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;

// Win32 layout: 28 bytes. The bit fields of the Win32 structure are the one word `Flags`.
struct DCB {
    DWORD DCBlength = sizeof(DCB); // the structure's size, as Win32 wants it
    DWORD BaudRate = 0;            // bits per second
    DWORD Flags = 0;               // the f* bits above
    std::uint16_t wReserved = 0;   // unused, zero
    std::uint16_t XonLim = 0;      // queued bytes at or below which flow control lets the sender go again
    std::uint16_t XoffLim = 0;     // free room below which flow control holds the sender back
    std::uint8_t ByteSize = 0;     // data bits, 5 to 8
    std::uint8_t Parity = 0;       // NOPARITY .. SPACEPARITY
    std::uint8_t StopBits = 0;     // ONESTOPBIT, ONE5STOPBITS or TWOSTOPBITS
    char XonChar = 0;              // the character that lets the other side send (software flow control)
    char XoffChar = 0;             // the character that holds the other side back
    char ErrorChar = 0;            // replaces a byte received with a parity error, under fErrorChar
    char EofChar = 0;              // the end-of-data character; unused here
    char EvtChar = 0;              // the character whose arrival raises EV_RXFLAG
    std::uint16_t wReserved1 = 0;  // unused, zero

    // The DTR control field of Flags (DTR_CONTROL_*).
    DWORD DtrControl() const { return (Flags & fDtrControlMask) >> fDtrControlShift; }
    // The RTS control field of Flags (RTS_CONTROL_*).
    DWORD RtsControl() const { return (Flags & fRtsControlMask) >> fRtsControlShift; }
    friend bool operator==(const DCB&, const DCB&) = default;
};
static_assert(sizeof(DCB) == 28, "DCB keeps the Win32 layout");

// ---- Timeouts ----------------------------------------------------------------------------------------
// Milliseconds. A read of `count` bytes ends as the serial driver's rules say (interval I, read totals
// M and C; the total is M * count + C):
//   I = 0, M = C = 0                 waits for all `count` bytes, without limit.
//   I = MAXDWORD, M = C = 0          returns at once with what is queued, possibly nothing.
//   I = MAXDWORD, M = MAXDWORD, 0 < C < MAXDWORD
//                                    returns at once with what is queued; with nothing queued, with
//                                    the first bytes to arrive, or with nothing after C.
//   I = MAXDWORD, other totals       the same, with the total (M * count + C) in place of C (so
//                                    M = MAXDWORD with C = 0 waits for the first byte without limit
//                                    once `count` is in the thousands, see below).
//   0 < I < MAXDWORD, M = C = 0      waits for `count` bytes; once a byte has come, also ends when no
//                                    byte follows within I of the last one (queued bytes count as
//                                    arriving when the read starts).
//   I = 0, totals set                waits for `count` bytes or until the total has run out.
//   0 < I < MAXDWORD, totals set     whichever of the two ends it first.
// A read that times out completes successfully with the bytes it has. I = M = C = MAXDWORD is refused
// (EINVAL). A total beyond what the clock can hold (M = MAXDWORD with thousands of bytes) is no limit.
inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;
// The five timeouts, in milliseconds, as the table above reads them.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout = 0;         // I: the longest gap between two received bytes
    DWORD ReadTotalTimeoutMultiplier = 0;  // M: read total, per byte asked for
    DWORD ReadTotalTimeoutConstant = 0;    // C: read total, added once
    DWORD WriteTotalTimeoutMultiplier = 0; // write total, per byte written (see ISerialDevice::WriteFile)
    DWORD WriteTotalTimeoutConstant = 0;   // write total, added once
    friend bool operator==(const COMMTIMEOUTS&, const COMMTIMEOUTS&) = default;
};

// ---- Line events (event mask bits) ------------------------------------------------------------------
inline constexpr DWORD EV_RXCHAR = 0x0001;   // a character was received
inline constexpr DWORD EV_RXFLAG = 0x0002;   // the event character was received
inline constexpr DWORD EV_TXEMPTY = 0x0004;  // the output queue became empty
inline constexpr DWORD EV_CTS = 0x0008;      // CTS changed
inline constexpr DWORD EV_DSR = 0x0010;      // DSR changed
inline constexpr DWORD EV_RLSD = 0x0020;     // RLSD (carrier detect) changed
inline constexpr DWORD EV_BREAK = 0x0040;    // a break was received
inline constexpr DWORD EV_ERR = 0x0080;      // a line error (CE_FRAME, CE_OVERRUN, CE_RXPARITY)
inline constexpr DWORD EV_RING = 0x0100;     // ring indicator
inline constexpr DWORD EV_PERR = 0x0200;     // printer error; never requested
inline constexpr DWORD EV_RX80FULL = 0x0400; // the input queue is 80 % full

// ---- Line errors (ClearCommError flags) -------------------------------------------------------------
inline constexpr DWORD CE_RXOVER = 0x0001;   // the input queue overflowed
inline constexpr DWORD CE_OVERRUN = 0x0002;  // the hardware lost a byte (overrun)
inline constexpr DWORD CE_RXPARITY = 0x0004; // a parity error
inline constexpr DWORD CE_FRAME = 0x0008;    // a framing error
inline constexpr DWORD CE_BREAK = 0x0010;    // a break condition
inline constexpr DWORD CE_TXFULL = 0x0100;   // the output queue was full
inline constexpr DWORD CE_IOE = 0x0400;      // an I/O error talking to the device
inline constexpr DWORD CE_MODE = 0x8000;     // the requested mode is not supported

// The queue counts ClearCommError reports.
struct COMSTAT {
    DWORD Flags = 0;    // hold flags; unused here
    DWORD cbInQue = 0;  // bytes waiting in the input queue
    DWORD cbOutQue = 0; // bytes waiting in the output queue
};

// ---- Modem status ----------------------------------------------------------------------------------
inline constexpr DWORD MS_CTS_ON = 0x0010;  // clear to send
inline constexpr DWORD MS_DSR_ON = 0x0020;  // data set ready
inline constexpr DWORD MS_RING_ON = 0x0040; // ring indicator
inline constexpr DWORD MS_RLSD_ON = 0x0080; // receive line signal detect (carrier)

// ---- Purge -------------------------------------------------------------------------------------------
inline constexpr DWORD PURGE_TXABORT = 0x0001; // complete outstanding writes as aborted
inline constexpr DWORD PURGE_RXABORT = 0x0002; // complete outstanding reads as aborted
inline constexpr DWORD PURGE_TXCLEAR = 0x0004; // empty the output queue
inline constexpr DWORD PURGE_RXCLEAR = 0x0008; // empty the input queue

// ---- Events --------------------------------------------------------------------------------------------
// A manual-reset event object that threads wait on (a Win32 event; an eventfd on POSIX).
// Set, Reset and the waits may be called from any thread. Throws std::system_error if the system
// cannot create one. Setting a set event, resetting a clear one, and waiting on a set one make no
// system call.
class Event {
public:
    // Creates the event, set or clear.
    explicit Event(bool initiallySet);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Sets the event, releasing every waiter.
    void Set();
    // Clears the event.
    void Reset();
    // True while the event is set.
    bool IsSet() const;

    // Waits until the event is set; timeoutMs < 0 waits without limit. True when set.
    bool Wait(int timeoutMs = -1) const;

    // Waits until any of the events is set and returns its index (the lowest set one);
    // returns -1 on timeout (timeoutMs < 0 waits without limit) or failure (last error set).
    static int WaitAny(std::initializer_list<const Event*> events, int timeoutMs = -1);

    // The platform's waitable handle (a file descriptor on POSIX), for event loops that watch it.
    std::intptr_t NativeHandle() const;

private:
    std::intptr_t m_handle;
    std::mutex m_change;            // makes each change of m_set and of the handle's state one step
    std::atomic<bool> m_set{false}; // the handle is signalled exactly while this is true
};

// ---- Overlapped transfers --------------------------------------------------------------------------
// The state of one overlapped transfer (a Win32 OVERLAPPED). The caller owns it and its event, and
// keeps both alive until the transfer has completed (GetOverlappedResult returned, or a purge aborted
// it and the completion was collected). Starting a transfer resets the event; completion stores the
// result here and then sets the event.
struct Overlapped {
    Event* hEvent = nullptr; // the event set when the transfer completes; the caller's
    // Completion state, written by the device (possibly from another thread) before hEvent is set.
    std::atomic<int> Internal{0};       // 0 complete, kErrorIoPending while pending, else error number
    std::atomic<DWORD> InternalHigh{0}; // bytes transferred
};

// ---- The device ------------------------------------------------------------------------------------
// A serial device with the Win32 communications calls' meanings (see the top of this file).
class ISerialDevice {
public:
    virtual ~ISerialDevice() = default;

    // CreateFile: opens the device for overlapped use, exclusively. `name` is the port's name as the
    // user gave it ("ttyUSB0" and "pts/3" are looked up under /dev, an absolute path is used as it
    // stands, a relative one when /dev has no such device; "COM12" on Win32; "socket://HOST:PORT" or
    // "rfc2217://HOST:PORT" for a serial line behind a TCP bridge, NetPort.h); an empty name fails as
    // a missing device does, a malformed network name with EINVAL.
    virtual bool Open(const std::string& name) = 0;
    // CloseHandle: true on success; the device is then closed. Outstanding transfers are aborted.
    virtual bool Close() = 0;
    // True between a successful Open and Close.
    virtual bool IsOpen() const = 0;

    // SetupComm: recommended sizes of the input and output queues, in bytes.
    virtual bool SetupComm(DWORD inQueue, DWORD outQueue) = 0;
    // SetCommState: line settings; a setting the device refuses fails with the system's error number.
    virtual bool SetCommState(const DCB& dcb) = 0;
    // SetCommTimeouts: the read and write timeouts (COMMTIMEOUTS).
    virtual bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) = 0;
    // SetCommMask: the events a comm-event wait reports; a pending wait completes with mask 0.
    virtual bool SetCommMask(DWORD mask) = 0;

    // WaitCommEvent: starts a wait for any event of the mask. When an event is already pending it
    // completes at once: `mask` receives the events, the overlapped event is set, and true is
    // returned. Otherwise false with last error kErrorIoPending: `mask` (which must stay alive) is
    // written and the event set when the wait completes. Any other false is a failure.
    virtual bool WaitCommEvent(DWORD& mask, Overlapped& overlapped) = 0;

    // ReadFile: starts a read of up to `count` bytes into `buffer` (kept alive until completion),
    // completing as the timeouts say. True when it completed at once (`read` = bytes read); false with
    // kErrorIoPending when pending; any other false is a failure.
    virtual bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped) = 0;

    // WriteFile: starts a write of `count` bytes from `buffer` (kept alive until completion). True when
    // it completed at once (`written` = bytes written); false with kErrorIoPending when pending; any
    // other false is a failure. Writes complete in the order they were started, each with every byte
    // sent, or with fewer when the write timeouts ran out (still a success, as on Win32:
    // WriteTotalTimeoutMultiplier * count + WriteTotalTimeoutConstant milliseconds from its start, no
    // limit when both are 0), or with the line's error. The caller never blocks on the line here.
    virtual bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped) = 0;

    // GetOverlappedResult: the result of a transfer. With wait = false and the transfer still pending
    // it fails with kErrorIoIncomplete. A failed transfer returns false with its error number
    // (kErrorOperationAborted after a purge).
    virtual bool GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait) = 0;

    // PurgeComm: PURGE_* flags (PURGE_TXABORT completes pending writes as aborted).
    virtual bool PurgeComm(DWORD flags) = 0;
    // ClearCommError: takes (and clears) the pending CE_* line errors and reports the queue counts.
    virtual bool ClearCommError(DWORD& errors, COMSTAT& stat) = 0;
    // GetCommModemStatus: the MS_* input lines that are on. A device without modem lines reports 0.
    virtual bool GetCommModemStatus(DWORD& status) = 0;
};

// The device a port opens: picked by the port name at each open, the network device for a network
// port name (NetPort.h), else the platform's serial device (device/posix on Linux).
std::unique_ptr<ISerialDevice> CreateSystemDevice();

// Makes the devices a port opens; the default makes CreateSystemDevice. Tests put a fake in place.
using DeviceFactory = std::function<std::unique_ptr<ISerialDevice>()>;

} // namespace cport::device
