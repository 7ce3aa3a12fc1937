// SPDX-License-Identifier: GPL-3.0-or-later
// The system serial device on POSIX: a terminal device in raw mode, given Win32 meanings.
//
// Received bytes reach the DeviceCore's input queue by two roads that share its lock, so order, events
// and the queue bound are the same on both:
// - A caller that comes for bytes (WaitCommEvent, ClearCommError, ReadFile) first takes what the kernel
//   holds. While a stream flows, the caller thus never waits for another thread to be scheduled: it
//   blocks only when the line has nothing, as a plain read() would.
// - A reader thread serves the transfers left pending. It sleeps in epoll on the descriptor (one-shot
//   and edge-triggered, armed whenever a wait or read goes pending) and on a wake eventfd, moves what
//   arrives into the queue and completes waits and reads from there. When the queue is full it stops
//   reading, so the kernel's buffer fills and its flow control holds the sender back; nothing is
//   dropped. Bytes that arrive while nothing is pending wait in the kernel for the next caller, whose
//   wait then reports their arrival at once, as Win32 reports an event that came between two waits.
//   Under DTR handshaking or DSR sensitivity, where the moment of arrival matters, the reader stays
//   armed. It wakes for nothing else, except to time a read that has a timeout and, while the mask
//   selects modem-line or error events on a device that has them, to sample the line counters
//   (TIOCGICOUNT) the kernel keeps, so no change is missed between two samples.
//
// The terminal's settings are saved at open and put back at close, after the port's purge and before
// the descriptor closes (a terminal used as a port, /dev/tty for one, gets its echo back); a device
// that is gone is not touched.
//
// Removal (USB adapter pulled, or a pseudo-terminal's other side closed) shows as a hang-up: the reader
// queues what it can still read, then marks the device removed; every later call fails with ENODEV,
// except PurgeComm and Close, so the device can still be closed.
//
// Threads: see ISerialDevice. m_lineMutex is taken last: inside the core's lock while a read fills the
// queue, and never held while calling into the core.

#include "common/DeviceCore.h"
#include "common/DeviceKinds.h"
#include "common/DeviceWriter.h"
#include "posix/CustomRate.h"
#include "posix/ParityMarks.h"
#include "posix/Termios.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace cport::device {

namespace {

using Clock = std::chrono::steady_clock;

// How often the line counters are sampled while a selected event can only be seen that way. The
// counters never miss a change; this only bounds how late a change or an error is reported.
constexpr auto kLineSamplePeriod = std::chrono::milliseconds(50);
// Events seen only by sampling: modem lines, and errors and breaks (which need the counters).
constexpr DWORD kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr DWORD kCounterEvents = kModemEvents | EV_ERR | EV_BREAK;
// A driver's rate may differ this much (in 1/1000) from the one asked for before it counts as refused.
constexpr std::uint64_t kRateTolerancePerMille = 30;
constexpr int kRemovedError = ENODEV;
// The descriptor's epoll registration: one report per arming, on an edge.
constexpr std::uint32_t kLineEvents = EPOLLIN | EPOLLET | EPOLLONESHOT;

bool Fail(int error)
{
    SetLastError(error);
    return false;
}

// Errors with which a device says it has no modem lines: a pseudo-terminal, for one.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }

// The MS_* form of the TIOCM_* input lines.
DWORD ModemStatusOf(int lines)
{
    return ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
           ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CAR) ? MS_RLSD_ON : 0);
}

// Errors with which a device says it is gone.
bool DeviceGone(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE; }

// The settings the reader applies to the received stream; copied from SetCommState under m_lineMutex.
struct LineRules {
    bool markedErrors = false; // PARMRK is on: replace marked bytes with errorChar
    std::uint8_t errorChar = 0;
    bool dsrSensitive = false; // ignore bytes while DSR is off
    bool dtrHandshake = false; // drop DTR while the queue is nearly full
    std::size_t xonLim = 0;    // raise DTR again at or below this many queued bytes
    std::size_t xoffLim = 0;   // drop DTR when fewer bytes than this are free
};

class PosixDevice final : public ISerialDevice {
public:
    PosixDevice()
    {
        m_core.SetWakeHook([this] { m_wake.Set(); });
    }
    ~PosixDevice() override
    {
        if (m_fd >= 0) Close();
    }

    bool Open(const std::string& name) override;
    bool Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    bool SetupComm(DWORD inQueue, DWORD outQueue) override;
    bool SetCommState(const DCB& dcb) override;
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override;
    bool SetCommMask(DWORD mask) override;
    bool WaitCommEvent(DWORD& mask, Overlapped& overlapped) override;
    bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped) override;
    bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped) override;
    bool GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait) override;
    bool PurgeComm(DWORD flags) override;
    bool ClearCommError(DWORD& errors, COMSTAT& stat) override;
    bool GetCommModemStatus(DWORD& status) override;

private:
    bool CheckOpen() const { return m_fd >= 0 || Fail(EBADF); }
    bool CheckPresent() const
    {
        if (!CheckOpen()) return false;
        const int removed = m_core.RemovedError();
        return removed == 0 || Fail(removed);
    }
    void CloseDescriptors();
    void RestoreFoundSettings();
    bool ApplyTermios(const DCB& dcb);
    bool SetModemLine(int line, bool on);

    // Takes what the kernel holds into the queue, on the caller's thread.
    void Pull();
    // Lets the reader see the next arrival (and a hang-up); safe from any thread.
    void Arm();
    LineRules Rules() const;

    // Reader thread.
    void RunReader(const std::stop_token& stop);
    void Drain();
    // Reads into the queue's room under the rules in force at this moment (m_lineMutex held throughout).
    std::size_t Fill(const DeviceCore::Space& space, ssize_t& got, int& error);
    bool SampleLines(); // false when the device answers as one that is gone
    void DriveDtr();
    void MarkRemoved();
    int Timeout(Clock::time_point now) const;

    int m_fd = -1;
    int m_epoll = -1;
    Event m_wake{false};
    DeviceCore m_core;
    DeviceWriter m_writer{m_core}; // the transmit side, with its own thread
    std::jthread m_reader;
    bool m_hasModemLines = false; // fixed while open
    bool m_hasCounters = false;   // fixed while open
    termios m_found{};            // the terminal's settings when it was opened
    std::uint32_t m_foundRate = 0;
    bool m_foundRateKnown = false;

    mutable std::mutex m_lineMutex;
    LineRules m_rules;
    serial_icounter_struct m_counts{};
    DWORD m_lastModem = 0; // MS_* bits at the last sample

    // Reader thread only (and Open/Close, while it does not run).
    bool m_readable = false;
    bool m_hangup = false;
    bool m_lineReported = false; // the one-shot registration has reported and is disarmed
    bool m_dtrOn = true;
    std::optional<Clock::time_point> m_nextSample;
    ParityMarkDecoder m_decoder;
    bool m_decoderActive = false;
    std::vector<std::uint8_t> m_staging;
};

// ---- Open and close --------------------------------------------------------------------------------

bool PosixDevice::Open(const std::string& name)
{
    if (m_fd >= 0) return Fail(EBUSY);
    if (name.empty()) return Fail(ENOENT);
    // A name not starting with "/" is a device under /dev ("ttyUSB0", "pts/3"); a relative path that
    // names no device there is taken as it is.
    const bool underDevices = name.front() != '/';
    m_fd = ::open(underDevices ? ("/dev/" + name).c_str() : name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0 && errno == ENOENT && underDevices && name.find('/') != std::string::npos)
        m_fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) return Fail(errno);
    auto fail = [this](int error) {
        CloseDescriptors();
        return Fail(error);
    };
    if (!::isatty(m_fd)) return fail(ENOTTY);
    // Exclusive: flock keeps out every other open (ours included), TIOCEXCL every non-root one.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    if (::ioctl(m_fd, TIOCEXCL) != 0) return fail(errno);

    // The terminal's settings as found, put back at close (the user's terminal keeps its echo).
    if (::tcgetattr(m_fd, &m_found) != 0) return fail(errno);
    m_foundRateKnown = ReadLineRate(m_fd, m_foundRate) == 0;
    termios tio = m_found;
    MakeRaw(tio);
    if (::tcsetattr(m_fd, TCSANOW, &tio) != 0) return fail(errno);
    // From here a failure also puts the found settings back.
    auto failRaw = [this, &fail](int error) {
        RestoreFoundSettings();
        return fail(error);
    };

    int modem = 0;
    m_hasModemLines = ::ioctl(m_fd, TIOCMGET, &modem) == 0;
    m_hasCounters = ::ioctl(m_fd, TIOCGICOUNT, &m_counts) == 0;
    m_lastModem = ModemStatusOf(modem);
    m_rules = {};
    m_dtrOn = true;

    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) return failRaw(errno);
    epoll_event line{};
    line.events = kLineEvents;
    line.data.fd = m_fd;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = static_cast<int>(m_wake.NativeHandle());
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_fd, &line) != 0 ||
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, wake.data.fd, &wake) != 0) {
        return failRaw(errno);
    }

    m_core.Reset();
    m_wake.Reset();
    m_readable = true; // bytes may already wait: the first pass reads until the kernel has none
    m_hangup = false;
    m_lineReported = false;
    m_nextSample.reset();
    m_decoder.Reset();
    m_decoderActive = false;
    m_reader = std::jthread([this](std::stop_token stop) { RunReader(stop); });
    m_writer.SetTimeouts({});
    m_writer.Start(
        m_fd, [fd = m_fd](const std::uint8_t* data, std::size_t size) { return ::write(fd, data, size); },
        [this] { m_core.RaiseEvents(EV_TXEMPTY); });
    return true;
}

bool PosixDevice::Close()
{
    if (!CheckOpen()) return false;
    m_writer.Stop();
    m_reader.request_stop();
    m_wake.Set();
    m_reader.join();
    m_core.AbortAll();
    // The port has purged by now; a device that is gone has no settings left to put back.
    if (m_core.RemovedError() == 0) RestoreFoundSettings();
    CloseDescriptors();
    m_wake.Reset();
    return true; // the descriptor is released even when close reports an error
}

void PosixDevice::RestoreFoundSettings()
{
    ::tcsetattr(m_fd, TCSANOW, &m_found);
    if (m_foundRateKnown && StandardSpeed(m_foundRate) == B0) SetCustomRate(m_fd, m_foundRate);
}

void PosixDevice::CloseDescriptors()
{
    if (m_epoll >= 0) ::close(m_epoll);
    m_epoll = -1;
    ::ioctl(m_fd, TIOCNXCL); // exclusivity belongs to the terminal, which may outlive this descriptor
    ::close(m_fd);
    m_fd = -1;
}

// ---- Settings ---------------------------------------------------------------------------------------

bool PosixDevice::SetupComm(DWORD inQueue, DWORD /*outQueue: nothing is ever transmitted*/)
{
    return CheckOpen() && m_core.SetQueueSize(inQueue);
}

bool PosixDevice::SetCommState(const DCB& dcb)
{
    if (!CheckPresent()) return false;
    if (const int error = CheckDcb(dcb)) return Fail(error);
    const DWORD dtr = dcb.DtrControl();
    LineRules rules;
    rules.markedErrors = (dcb.Flags & fParity) && (dcb.Flags & fErrorChar) && dcb.ErrorChar != 0;
    rules.errorChar = static_cast<std::uint8_t>(dcb.ErrorChar);
    rules.dsrSensitive = (dcb.Flags & fDsrSensitivity) && m_hasModemLines;
    rules.dtrHandshake = dtr == DTR_CONTROL_HANDSHAKE && m_hasModemLines;
    rules.xonLim = dcb.XonLim;
    rules.xoffLim = dcb.XoffLim;
    {
        // The terminal and the reader's rules change together: no read falls between the two.
        std::lock_guard lock(m_lineMutex);
        if (!ApplyTermios(dcb)) return false;
        m_rules = rules;
    }

    // Output lines. Under handshaking the kernel drives RTS and the reader drives DTR; RTS toggling
    // would raise RTS only while transmitting, which this layer never does.
    const DWORD rts = dcb.RtsControl();
    if (!SetModemLine(TIOCM_DTR, dtr != DTR_CONTROL_DISABLE)) return false;
    if (rts != RTS_CONTROL_HANDSHAKE && !SetModemLine(TIOCM_RTS, rts == RTS_CONTROL_ENABLE)) return false;

    m_core.SetReceiveRules(ReceiveRulesOf(dcb));
    m_wake.Set(); // the reader re-reads the rules (DTR handshaking starts or stops)
    return true;
}

bool PosixDevice::ApplyTermios(const DCB& dcb)
{
    termios old{};
    if (::tcgetattr(m_fd, &old) != 0) return Fail(errno);
    std::uint32_t oldRate = 0;
    const bool knowOldRate = ReadLineRate(m_fd, oldRate) == 0;

    termios tio = old;
    if (const int error = ComposeTermios(dcb, tio)) return Fail(error);
    int error = ::tcsetattr(m_fd, TCSANOW, &tio) == 0 ? 0 : errno;
    if (error == 0 && StandardSpeed(dcb.BaudRate) == B0) error = SetCustomRate(m_fd, dcb.BaudRate);

    // tcsetattr succeeds when any part of a change took; read back what the driver really holds.
    termios now{};
    std::uint32_t rate = 0;
    if (error == 0 && (::tcgetattr(m_fd, &now) != 0 || ReadLineRate(m_fd, rate) != 0)) error = errno;
    if (error == 0) {
        const std::uint64_t want = dcb.BaudRate;
        const std::uint64_t diff = rate > want ? rate - want : want - rate;
        const bool same = (now.c_cflag & kDecidedCflags) == (tio.c_cflag & kDecidedCflags) &&
                          (now.c_iflag & kDecidedIflags) == (tio.c_iflag & kDecidedIflags) &&
                          diff * 1000 <= want * kRateTolerancePerMille;
        if (same) return true;
        error = EINVAL;
    }
    // Refused: put back what was there, so the line keeps its last good settings.
    ::tcsetattr(m_fd, TCSANOW, &old);
    if (knowOldRate && StandardSpeed(oldRate) == B0) SetCustomRate(m_fd, oldRate);
    return Fail(error);
}

bool PosixDevice::SetModemLine(int line, bool on)
{
    if (::ioctl(m_fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    return NoModemLines(errno) || Fail(errno);
}

bool PosixDevice::SetCommTimeouts(const COMMTIMEOUTS& timeouts)
{
    if (!CheckOpen() || !m_core.SetTimeouts(timeouts)) return false;
    m_writer.SetTimeouts(timeouts);
    return true;
}

bool PosixDevice::SetCommMask(DWORD mask) { return CheckOpen() && m_core.SetMask(mask); }

// ---- Transfers and state ----------------------------------------------------------------------------

bool PosixDevice::WaitCommEvent(DWORD& mask, Overlapped& overlapped)
{
    if (!CheckOpen()) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    Pull();
    if (m_core.WaitCommEvent(mask, overlapped)) return true;
    if (GetLastError() == kErrorIoPending) Arm();
    return false;
}

bool PosixDevice::ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped)
{
    read = 0;
    if (!CheckOpen()) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    if (m_core.Count() < count) Pull();
    if (m_core.ReadFile(buffer, count, read, overlapped)) return true;
    if (GetLastError() == kErrorIoPending) Arm();
    return false;
}

bool PosixDevice::WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped)
{
    written = 0;
    if (!CheckPresent()) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    return m_writer.WriteFile(buffer, count, written, overlapped);
}

bool PosixDevice::GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait)
{
    return m_core.GetOverlappedResult(overlapped, transferred, wait);
}

bool PosixDevice::PurgeComm(DWORD flags)
{
    if (!CheckOpen()) return false;
    if ((flags & ~DeviceCore::kValidPurgeFlags) == 0) {
        if (flags & PURGE_TXABORT) m_writer.Abort();
        if (flags & PURGE_TXCLEAR) ::tcflush(m_fd, TCOFLUSH);
    }
    // The kernel's input goes under the queue's lock, so no byte read before the purge is queued after it.
    return m_core.Purge(flags, [this] {
        ::tcflush(m_fd, TCIFLUSH);
        m_decoder.Reset();
    });
}

bool PosixDevice::ClearCommError(DWORD& errors, COMSTAT& stat)
{
    if (!CheckOpen()) return false;
    Pull();
    if (m_hasCounters && m_core.RemovedError() == 0) SampleLines(); // the errors up to this moment
    DWORD inQueue = 0;
    if (!m_core.ClearCommError(errors, inQueue)) return false;
    stat = COMSTAT{0, inQueue, m_writer.Queued()}; // the output queue: what pending writes still hold
    return true;
}

bool PosixDevice::GetCommModemStatus(DWORD& status)
{
    if (!CheckPresent()) return false;
    int lines = 0;
    if (::ioctl(m_fd, TIOCMGET, &lines) != 0) {
        if (!NoModemLines(errno)) return Fail(errno);
        lines = 0; // no modem lines: every line reads off
    }
    status = ModemStatusOf(lines);
    return true;
}

LineRules PosixDevice::Rules() const
{
    std::lock_guard lock(m_lineMutex);
    return m_rules;
}

void PosixDevice::Pull()
{
    if (m_core.RemovedError() != 0) return;
    for (;;) {
        ssize_t got = 0;
        int error = 0;
        if (!m_core.Receive([&](const DeviceCore::Space& space) { return Fill(space, got, error); })) return;
        if (got > 0 || (got < 0 && error == EINTR)) continue;
        // End of file or a failing read: a terminal says so only when it has hung up.
        if (got == 0 || DeviceGone(error)) MarkRemoved();
        return;
    }
}

void PosixDevice::Arm()
{
    epoll_event line{};
    line.events = kLineEvents;
    line.data.fd = m_fd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_fd, &line); // fails only once the device is removed
}

// ---- The reader thread -------------------------------------------------------------------------------

void PosixDevice::RunReader(const std::stop_token& stop)
{
    const int wakeFd = static_cast<int>(m_wake.NativeHandle());
    epoll_event events[4];
    while (!stop.stop_requested()) {
        if (m_readable && m_core.RemovedError() == 0) Drain();
        // The registration disarms itself on each report; it is wanted again while a transfer waits.
        const LineRules rules = Rules();
        if (m_lineReported &&
            (m_core.HasPendingWait() || m_core.PendingReads() > 0 || rules.dsrSensitive || rules.dtrHandshake)) {
            m_lineReported = false;
            Arm();
        }
        const auto now = Clock::now();
        if (m_nextSample && now >= *m_nextSample && !SampleLines()) m_hangup = true;
        if (m_hangup && m_core.RemovedError() == 0) MarkRemoved();
        DriveDtr();
        m_core.ExpireDeadlines();

        // Sample while the mask selects an event only the counters or modem lines can show.
        const DWORD sampled = m_hasCounters ? kCounterEvents : (m_hasModemLines ? kModemEvents : 0);
        const bool sampling = (m_core.Mask() & sampled) != 0 && m_core.RemovedError() == 0;
        if (!sampling) m_nextSample.reset();
        else if (!m_nextSample || now >= *m_nextSample) m_nextSample = now + kLineSamplePeriod;

        const int n = ::epoll_wait(m_epoll, events, static_cast<int>(std::size(events)), Timeout(Clock::now()));
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == wakeFd) {
                m_wake.Reset();
                m_readable = true; // room may have appeared that a caller's Pull found missing
            } else {
                m_lineReported = true;
                if (events[i].events & EPOLLIN) m_readable = true;
                if (events[i].events & (EPOLLHUP | EPOLLERR)) m_readable = m_hangup = true;
            }
        }
    }
}

int PosixDevice::Timeout(Clock::time_point now) const
{
    std::optional<Clock::time_point> next = m_core.NextDeadline();
    if (m_nextSample && (!next || *m_nextSample < *next)) next = m_nextSample;
    if (!next) return -1;
    if (*next <= now) return 0;
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(
        std::chrono::ceil<std::chrono::milliseconds>(*next - now).count(), 60'000));
}

void PosixDevice::Drain()
{
    for (;;) {
        ssize_t got = 0;
        int error = 0;
        const bool room = m_core.Receive([&](const DeviceCore::Space& space) { return Fill(space, got, error); });
        if (!room) return; // full: the queue's wake hook brings us back when a read makes room
        if (got > 0) continue;
        if (got < 0 && error == EINTR) continue;
        if (got < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            m_readable = false; // the edge is used up; the next arrival raises another
            return;
        }
        // End of file or a failing read: a terminal says so only when it has hung up.
        m_readable = false;
        MarkRemoved();
        return;
    }
}

std::size_t PosixDevice::Fill(const DeviceCore::Space& space, ssize_t& got, int& error)
{
    // A snapshot taken before the read could be older than the terminal's settings: bytes the kernel
    // already escapes would then pass undecoded. SetCommState changes both under this lock.
    std::lock_guard lock(m_lineMutex);
    const LineRules& rules = m_rules;
    const bool discard = rules.dsrSensitive && [this] {
        int lines = 0;
        return ::ioctl(m_fd, TIOCMGET, &lines) == 0 && !(lines & TIOCM_DSR);
    }();
    if (!rules.markedErrors && !discard) {
        // The fast path: straight from the kernel into the queue's free room.
        iovec parts[2] = {{space.first, space.firstSize}, {space.second, space.secondSize}};
        got = ::readv(m_fd, parts, space.secondSize ? 2 : 1);
        error = errno;
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }

    m_staging.resize(std::max<std::size_t>(space.Size(), 1));
    got = ::read(m_fd, m_staging.data(), space.Size());
    error = errno;
    if (got <= 0 || discard) return 0; // bytes that arrive while DSR is off are ignored
    std::size_t size = static_cast<std::size_t>(got);
    if (rules.markedErrors) {
        if (!m_decoderActive) m_decoder.Reset();
        size = m_decoder.Decode(m_staging.data(), size, rules.errorChar);
    }
    m_decoderActive = rules.markedErrors;
    const std::size_t first = std::min(size, space.firstSize);
    std::memcpy(space.first, m_staging.data(), first);
    std::memcpy(space.second, m_staging.data() + first, size - first);
    return size;
}

bool PosixDevice::SampleLines()
{
    DWORD events = 0;
    DWORD errors = 0;
    int failure = 0;
    {
        std::lock_guard lock(m_lineMutex);
        if (m_hasCounters) {
            serial_icounter_struct now{};
            if (::ioctl(m_fd, TIOCGICOUNT, &now) != 0) {
                failure = errno;
            } else {
                const serial_icounter_struct& was = m_counts;
                if (now.cts != was.cts) events |= EV_CTS;
                if (now.dsr != was.dsr) events |= EV_DSR;
                if (now.dcd != was.dcd) events |= EV_RLSD;
                if (now.rng != was.rng) events |= EV_RING;
                if (now.frame != was.frame) errors |= CE_FRAME;
                if (now.parity != was.parity) errors |= CE_RXPARITY;
                if (now.overrun != was.overrun) errors |= CE_OVERRUN;
                if (now.brk != was.brk) errors |= CE_BREAK;
                if (now.buf_overrun != was.buf_overrun) errors |= CE_RXOVER;
                m_counts = now;
            }
        } else if (m_hasModemLines) {
            int lines = 0;
            if (::ioctl(m_fd, TIOCMGET, &lines) != 0) {
                failure = errno;
            } else {
                const DWORD status = ModemStatusOf(lines);
                events = ModemChangeEvents(m_lastModem, status);
                m_lastModem = status;
            }
        }
    }
    if (errors) m_core.AddErrors(errors);
    if (events) m_core.RaiseEvents(events);
    return !DeviceGone(failure);
}

// Input flow on DTR: drop it when fewer than XoffLim bytes are free, raise it again once the queue
// holds no more than XonLim.
void PosixDevice::DriveDtr()
{
    const LineRules rules = Rules();
    if (!rules.dtrHandshake || m_core.RemovedError() != 0) return;
    int dtr = TIOCM_DTR;
    if (m_dtrOn && m_core.FreeSpace() < rules.xoffLim) {
        if (::ioctl(m_fd, TIOCMBIC, &dtr) == 0) m_dtrOn = false;
        m_core.WakeWhenCountAtMost(rules.xonLim);
    } else if (!m_dtrOn && m_core.Count() <= rules.xonLim) {
        if (::ioctl(m_fd, TIOCMBIS, &dtr) == 0) m_dtrOn = true;
    }
}

// Any thread: the reader notices through the core and stops reading and sampling.
void PosixDevice::MarkRemoved()
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr); // a hung-up descriptor would report for ever
    m_core.Remove(kRemovedError);
}

} // namespace

std::unique_ptr<ISerialDevice> CreateSerialDevice() { return std::make_unique<PosixDevice>(); }

} // namespace cport::device
