// SPDX-License-Identifier: GPL-3.0-or-later
// The network device: a serial line behind a TCP serial bridge, given Win32 meanings.
//
// `socket://HOST:PORT` passes bytes unchanged; line settings are checked and kept here (the bridge has
// its own) and the modem lines read off. `rfc2217://HOST:PORT` speaks Telnet with the Com Port Control
// option (ComPortControl.h): the open waits until the server has taken the option, line settings are
// sent and the server's answers compared with them, a purge of the input asks the server to purge as
// well, and the server's modem-state and line-state notifications become modem-line events and line
// errors.
//
// Received bytes reach the DeviceCore's input queue as on a terminal device: a caller that comes for
// bytes first takes what the socket holds, and a reader thread, armed by a one-shot epoll registration
// only while a transfer waits (or an answer is awaited), serves the rest. A full queue stops reading,
// so TCP's window holds the bridge back; nothing is dropped. The connection has TCP keepalive, so a
// bridge that vanished without a word is noticed within about 30 s. An orderly close or a failure of
// the connection is a removal (ECONNRESET for a close, else the socket's error): the wait reports it
// once, the bytes received before it can still be read, later calls fail.
//
// Threads: see ISerialDevice. Locks are taken in one order: m_feedMutex (reading the socket), the core's
// lock, m_telnetMutex (the Telnet state, the modem status and the answer wait).

#include "common/DeviceCore.h"
#include "common/DeviceKinds.h"
#include "common/DeviceWriter.h"
#include "net/ComPortControl.h"
#include "net/NetConnect.h"

#include "cport/NetPort.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace cport::device {

namespace {

using Clock = std::chrono::steady_clock;
using namespace telnet;

// How long the server has to take the Com Port Control option, and to answer line settings.
constexpr auto kNegotiationTimeout = std::chrono::seconds(3);
constexpr auto kAnswerTimeout = std::chrono::seconds(3);
constexpr auto kSendTimeout = std::chrono::seconds(2);
// Keepalive: the first probe after 10 s of silence, then every 5 s; 4 unanswered probes end it (30 s).
constexpr int kKeepIdleS = 10;
constexpr int kKeepIntervalS = 5;
constexpr int kKeepCount = 4;
constexpr unsigned kUserTimeoutMs = 30'000; // unacknowledged commands give up as late
// A rate the server reports may differ this much (in 1/1000) from the one asked for.
constexpr std::uint64_t kRateTolerancePerMille = 30;
// The events the reader's one-shot registration reports.
constexpr std::uint32_t kLineEvents = EPOLLIN | EPOLLRDHUP | EPOLLET | EPOLLONESHOT;
// The line errors the server is asked to report.
constexpr std::uint8_t kLineStateMask = kLineOverrun | kLineParity | kLineFraming | kLineBreak;
constexpr std::size_t kMaxChunk = 64 * 1024;
// Data read past a full queue while line settings wait for their answers; beyond it the answer waits.
constexpr std::size_t kMaxBacklog = 256 * 1024;

bool Fail(int error)
{
    SetLastError(error);
    return false;
}

void KeepAlive(int fd)
{
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUserTimeoutMs, sizeof kUserTimeoutMs);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // commands are small and answered
}

// The Com Port Control values of a DCB.
std::uint8_t ParityValue(std::uint8_t parity)
{
    return static_cast<std::uint8_t>(parity + 1); // none, odd, even, mark, space = 1..5
}
std::uint8_t StopSizeValue(std::uint8_t stopBits)
{
    return stopBits == TWOSTOPBITS ? 2 : stopBits == ONE5STOPBITS ? 3 : 1;
}

// What one received chunk brought besides data, applied to the core outside its lock.
struct Notices {
    DWORD events = 0;
    DWORD errors = 0;
};

class NetDevice final : public ISerialDevice {
public:
    NetDevice()
    {
        m_core.SetWakeHook([this] { m_wake.Set(); });
    }
    ~NetDevice() override
    {
        if (m_fd >= 0) Close();
    }

    bool Open(const std::string& name) override;
    bool Close() override;
    bool IsOpen() const override { return m_fd >= 0; }
    bool SetupComm(DWORD inQueue, DWORD /*outQueue: the socket's own buffer holds what is sent*/) override
    {
        return CheckOpen() && m_core.SetQueueSize(inQueue);
    }
    bool SetCommState(const DCB& dcb) override;
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts) override
    {
        if (!CheckOpen() || !m_core.SetTimeouts(timeouts)) return false;
        m_writer.SetTimeouts(timeouts);
        return true;
    }
    bool SetCommMask(DWORD mask) override { return CheckOpen() && m_core.SetMask(mask); }
    bool WaitCommEvent(DWORD& mask, Overlapped& overlapped) override;
    bool ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped) override;
    bool WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped) override;
    bool GetOverlappedResult(Overlapped& overlapped, DWORD& transferred, bool wait) override
    {
        return m_core.GetOverlappedResult(overlapped, transferred, wait);
    }
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
    bool FailOpen(int error);
    bool NegotiateOption();
    bool SendOutboxLocked(); // m_telnetMutex held; false with the error set
    // The writer's send: data as it stands, or with 0xFF doubled under Telnet (see SendData).
    ssize_t SendData(const std::uint8_t* data, std::size_t size);
    bool AwaitAnswers(std::initializer_list<ComPortCommand> codes);

    // Takes what the socket holds into the queue (marking the removal when the connection has ended).
    void Pull();
    enum class Step : std::uint8_t { Data, Again, Full, Ended };
    // One read from the socket (or the backlog) into the queue; m_feedMutex is taken inside.
    Step ReceiveStep(int& ended);
    std::size_t Fill(const DeviceCore::Space& space, ssize_t& got, int& error, Notices& notices);
    bool ReadAside(ssize_t& got, int& error, Notices& notices); // false when the backlog is full
    std::size_t Parse(std::size_t got, Notices& notices);       // m_staging's first `got` bytes, in place
    void Apply(const Notices& notices);
    void Arm();
    void MarkRemoved(int error);

    // Reader thread.
    void RunReader(const std::stop_token& stop);
    void Drain();
    int Timeout(Clock::time_point now) const;

    int m_fd = -1;
    int m_epoll = -1;
    TNetPortKind m_kind = npRaw;
    Event m_wake{false};
    DeviceCore m_core;
    DeviceWriter m_writer{m_core}; // the transmit side, with its own thread
    std::jthread m_reader;
    // Every read of the socket holds m_feedMutex (taken before the core's lock), so reads from the
    // caller's and the reader's threads keep the stream's order.
    std::mutex m_feedMutex;
    std::vector<std::uint8_t> m_staging;
    std::vector<std::uint8_t> m_backlog; // data read past a full queue while answers are awaited

    std::mutex m_telnetMutex;
    std::condition_variable m_answered;
    ComPortClient m_telnet;
    DWORD m_modemStatus = 0; // MS_* bits the server last reported
    int m_awaitingAnswers = 0;
    bool m_owedIac = false;      // a data 0xFF went undoubled: its second 0xFF goes before anything else
    std::atomic<int> m_ended{0}; // the removal's error, readable under m_telnetMutex (the core's lock is not)

    // Reader thread only (and Open/Close, while it does not run).
    bool m_readable = false;
    bool m_lineReported = false;
};

// ---- Open and close --------------------------------------------------------------------------------

bool NetDevice::Open(const std::string& name)
{
    if (m_fd >= 0) return Fail(EBUSY);
    const std::optional<TNetPortAddress> address = ParseNetPortName(name);
    if (!address) return Fail(EINVAL);
    m_kind = address->Kind;
    m_core.Reset();
    m_wake.Reset();
    {
        std::lock_guard lock(m_telnetMutex);
        m_telnet = ComPortClient();
        m_owedIac = false;
        m_modemStatus = 0;
        m_awaitingAnswers = 0;
    }
    m_ended = 0;
    if (const int error = ConnectTcp(*address, m_fd)) return Fail(error);
    KeepAlive(m_fd);

    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) return FailOpen(errno);
    epoll_event line{};
    line.events = kLineEvents;
    line.data.fd = m_fd;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = static_cast<int>(m_wake.NativeHandle());
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_fd, &line) != 0 ||
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, wake.data.fd, &wake) != 0) {
        return FailOpen(errno);
    }
    if (m_kind == npRfc2217 && !NegotiateOption()) return FailOpen(GetLastError());

    m_readable = true; // bytes may already wait
    m_lineReported = false;
    m_reader = std::jthread([this](std::stop_token stop) { RunReader(stop); });
    m_writer.SetTimeouts({});
    m_writer.Start(
        m_fd, [this](const std::uint8_t* data, std::size_t size) { return SendData(data, size); },
        [this] { m_core.RaiseEvents(EV_TXEMPTY); });
    return true;
}

bool NetDevice::FailOpen(int error)
{
    if (m_epoll >= 0) ::close(m_epoll);
    m_epoll = -1;
    ::close(m_fd);
    m_fd = -1;
    m_core.Reset();
    return Fail(error);
}

// Offers the option and waits until the server takes it. A server that refuses it, or says nothing
// Telnet at all (a raw bridge), cannot carry line settings: the open fails as an unsupported protocol.
bool NetDevice::NegotiateOption()
{
    {
        std::lock_guard lock(m_telnetMutex);
        m_telnet.Start();
        if (!SendOutboxLocked()) return false;
    }
    const auto deadline = Clock::now() + kNegotiationTimeout;
    for (;;) {
        Pull();
        if (const int removed = m_core.RemovedError()) return Fail(removed);
        const bool dataCame = m_core.Count() > 0;
        {
            std::lock_guard lock(m_telnetMutex);
            // Refused, or data before any Telnet command (a raw bridge): no line settings can travel.
            if (m_telnet.Refused() || (!m_telnet.SawCommand() && dataCame)) return Fail(EPROTONOSUPPORT);
            if (m_telnet.Enabled()) {
                // Line errors are reported only when asked for; the modem-state mask, set to all, makes
                // the server report the lines as they are now.
                m_telnet.SendByte(cpSetLineStateMask, kLineStateMask);
                m_telnet.SendByte(cpSetModemStateMask, 0xFF);
                return SendOutboxLocked();
            }
        }
        pollfd p{m_fd, POLLIN, 0};
        const int left = Remaining(deadline);
        if (left == 0) return Fail(EPROTONOSUPPORT);
        if (::poll(&p, 1, left) < 0 && errno != EINTR) return Fail(errno);
    }
}

bool NetDevice::Close()
{
    if (!CheckOpen()) return false;
    m_writer.Stop();
    m_reader.request_stop();
    m_wake.Set();
    m_reader.join();
    m_core.AbortAll();
    ::close(m_epoll);
    m_epoll = -1;
    ::close(m_fd);
    m_fd = -1;
    m_wake.Reset();
    return true;
}

// ---- Settings ---------------------------------------------------------------------------------------

bool NetDevice::SetCommState(const DCB& dcb)
{
    if (!CheckPresent()) return false;
    if (const int error = CheckDcb(dcb)) return Fail(error);
    if (m_kind == npRfc2217) {
        {
            std::lock_guard lock(m_telnetMutex);
            for (const ComPortCommand code : {cpSetBaudRate, cpSetDataSize, cpSetParity, cpSetStopSize})
                m_telnet.ForgetAnswer(code);
            m_telnet.SendBaudRate(dcb.BaudRate);
            m_telnet.SendByte(cpSetDataSize, dcb.ByteSize);
            m_telnet.SendByte(cpSetParity, ParityValue(dcb.Parity));
            m_telnet.SendByte(cpSetStopSize, StopSizeValue(dcb.StopBits));
            // Flow control out, then in; then the output lines (a handshake leaves RTS to the server).
            m_telnet.SendByte(cpSetControl, (dcb.Flags & fOutxCtsFlow) ? 3 : (dcb.Flags & fOutX) ? 2 : 1);
            const DWORD rts = dcb.RtsControl();
            m_telnet.SendByte(cpSetControl, rts == RTS_CONTROL_HANDSHAKE ? 16 : (dcb.Flags & fInX) ? 15 : 14);
            m_telnet.SendByte(cpSetControl, dcb.DtrControl() == DTR_CONTROL_DISABLE ? 9 : 8);
            if (rts != RTS_CONTROL_HANDSHAKE) m_telnet.SendByte(cpSetControl, rts == RTS_CONTROL_DISABLE ? 12 : 11);
            if (!SendOutboxLocked()) return false;
        }
        // The lines' own answers are not awaited: a server in front of a line without modem lines gives none.
        if (!AwaitAnswers({cpSetBaudRate, cpSetDataSize, cpSetParity, cpSetStopSize})) return false;
        std::lock_guard lock(m_telnetMutex);
        const std::uint64_t rate = *m_telnet.Answer(cpSetBaudRate);
        const std::uint64_t diff = rate > dcb.BaudRate ? rate - dcb.BaudRate : dcb.BaudRate - rate;
        const bool same = diff * 1000 <= std::uint64_t{dcb.BaudRate} * kRateTolerancePerMille &&
                          *m_telnet.Answer(cpSetDataSize) == dcb.ByteSize &&
                          *m_telnet.Answer(cpSetParity) == ParityValue(dcb.Parity) &&
                          *m_telnet.Answer(cpSetStopSize) == StopSizeValue(dcb.StopBits);
        if (!same) return Fail(EINVAL); // the server holds other settings than those asked for
    }
    m_core.SetReceiveRules(ReceiveRulesOf(dcb));
    return true;
}

// Waits until the server has answered each of `codes`, reading on this thread and, while this one
// waits, on the reader's. False with ETIMEDOUT when an answer does not come, or with the removal.
bool NetDevice::AwaitAnswers(std::initializer_list<ComPortCommand> codes)
{
    {
        std::lock_guard lock(m_telnetMutex);
        ++m_awaitingAnswers;
    }
    m_wake.Set(); // the reader arms itself while answers are awaited
    Pull();
    const auto deadline = Clock::now() + kAnswerTimeout;
    std::unique_lock lock(m_telnetMutex);
    const bool answered = m_answered.wait_until(lock, deadline, [&] {
        return m_ended.load() != 0 || std::all_of(codes.begin(), codes.end(),
                                                  [&](ComPortCommand c) { return m_telnet.Answer(c).has_value(); });
    });
    --m_awaitingAnswers;
    if (const int removed = m_ended.load()) return Fail(removed);
    return answered || Fail(ETIMEDOUT);
}

bool NetDevice::SendOutboxLocked()
{
    std::vector<std::uint8_t> bytes = m_telnet.TakeOutput();
    if (m_owedIac) bytes.insert(bytes.begin(), IAC); // the second half of a data 0xFF comes first
    m_owedIac = false;
    const auto deadline = Clock::now() + kSendTimeout;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_fd, POLLOUT, 0};
            const int left = Remaining(deadline);
            if (left == 0 || ::poll(&p, 1, left) == 0) return Fail(ETIMEDOUT);
            continue;
        }
        return Fail(n < 0 ? errno : EPIPE);
    }
    return true;
}

// ---- Transfers and state ----------------------------------------------------------------------------

bool NetDevice::WaitCommEvent(DWORD& mask, Overlapped& overlapped)
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

bool NetDevice::ReadFile(void* buffer, DWORD count, DWORD& read, Overlapped& overlapped)
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

bool NetDevice::WriteFile(const void* buffer, DWORD count, DWORD& written, Overlapped& overlapped)
{
    written = 0;
    if (!CheckPresent()) {
        if (overlapped.hEvent) overlapped.hEvent->Reset();
        return false;
    }
    return m_writer.WriteFile(buffer, count, written, overlapped);
}

// Raw: one non-blocking send. Telnet: up to kTelnetChunk data bytes are escaped and sent as far as the
// socket takes them at once (under m_telnetMutex, so commands go between sends); the count is the data
// bytes that went. When the socket splits a doubled 0xFF, the byte still owed goes first with the next
// send of any kind (m_owedIac), so the Telnet stream never loses step, and the writer waits for room
// with its own timeouts and aborts rather than here.
ssize_t NetDevice::SendData(const std::uint8_t* data, std::size_t size)
{
    if (m_kind != npRfc2217) return ::send(m_fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    constexpr std::size_t kTelnetChunk = 2048;
    const std::size_t take = std::min(size, kTelnetChunk);
    std::vector<std::uint8_t> escaped;
    escaped.reserve(take * 2);
    for (std::size_t i = 0; i < take; ++i) {
        escaped.push_back(data[i]);
        if (data[i] == IAC) escaped.push_back(IAC);
    }
    std::lock_guard lock(m_telnetMutex);
    if (m_owedIac) {
        const ssize_t n = ::send(m_fd, &IAC, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            if (n == 0) errno = EAGAIN;
            return -1;
        }
        m_owedIac = false;
    }
    const ssize_t n = ::send(m_fd, escaped.data(), escaped.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) {
        if (n == 0) errno = EAGAIN;
        return -1;
    }
    std::size_t sent = 0; // data bytes
    for (std::size_t at = 0; at < static_cast<std::size_t>(n); ++sent) {
        const bool doubled = data[sent] == IAC;
        if (doubled && at + 1 == static_cast<std::size_t>(n)) m_owedIac = true;
        at += doubled ? 2 : 1;
    }
    return static_cast<ssize_t>(sent);
}

bool NetDevice::PurgeComm(DWORD flags)
{
    if (!CheckOpen()) return false;
    if (flags != 0 && (flags & ~DeviceCore::kValidPurgeFlags) == 0 && (flags & PURGE_TXABORT)) m_writer.Abort();
    const bool valid = flags != 0 && (flags & ~DeviceCore::kValidPurgeFlags) == 0;
    const std::uint8_t serverPurge =
        ((flags & PURGE_RXCLEAR) ? 1 : 0) | ((flags & PURGE_TXCLEAR) ? 2 : 0); // its receive and transmit buffers
    if (valid && serverPurge && m_kind == npRfc2217 && m_core.RemovedError() == 0) {
        std::lock_guard lock(m_telnetMutex);
        m_telnet.SendByte(cpPurgeData, serverPurge);
        SendOutboxLocked(); // a purge works on a connection that is failing too
    }
    // What the socket holds goes under the queue's lock, so no byte received before the purge is queued
    // after it. Commands among it are still obeyed; only the end of the connection is left for a read.
    std::lock_guard feed(m_feedMutex);
    return m_core.Purge(flags, [this] {
        m_backlog.clear();
        int waiting = 0;
        if (::ioctl(m_fd, FIONREAD, &waiting) != 0 || waiting <= 0) return;
        std::vector<std::uint8_t> scratch(static_cast<std::size_t>(waiting));
        const ssize_t n = ::recv(m_fd, scratch.data(), scratch.size(), MSG_DONTWAIT);
        if (n <= 0 || m_kind != npRfc2217) return;
        std::lock_guard lock(m_telnetMutex);
        m_telnet.Receive(scratch.data(), static_cast<std::size_t>(n), scratch.data());
        if (m_telnet.HasOutput()) SendOutboxLocked();
    });
}

bool NetDevice::ClearCommError(DWORD& errors, COMSTAT& stat)
{
    if (!CheckOpen()) return false;
    Pull();
    DWORD inQueue = 0;
    if (!m_core.ClearCommError(errors, inQueue)) return false;
    stat = COMSTAT{0, inQueue, m_writer.Queued()};
    return true;
}

bool NetDevice::GetCommModemStatus(DWORD& status)
{
    if (!CheckPresent()) return false;
    std::lock_guard lock(m_telnetMutex);
    status = m_modemStatus; // a raw bridge has no modem lines: all off
    return true;
}

// ---- Receiving --------------------------------------------------------------------------------------

void NetDevice::Pull()
{
    if (m_core.RemovedError() != 0) return;
    for (;;) {
        int ended = 0;
        const Step step = ReceiveStep(ended);
        if (step == Step::Data) continue;
        if (step == Step::Ended) MarkRemoved(ended);
        return;
    }
}

NetDevice::Step NetDevice::ReceiveStep(int& ended)
{
    std::lock_guard feed(m_feedMutex);
    ssize_t got = 0;
    int error = 0;
    Notices notices;
    if (!m_core.Receive([&](const DeviceCore::Space& space) { return Fill(space, got, error, notices); })) {
        // A full queue holds the stream back; but answers the server sends behind it are awaited now:
        // the bytes read meanwhile wait in the backlog, in order, until the queue has room.
        bool awaiting = false;
        {
            std::lock_guard lock(m_telnetMutex);
            awaiting = m_awaitingAnswers > 0;
        }
        if (!awaiting || !ReadAside(got, error, notices)) return Step::Full;
    }
    Apply(notices);
    if (got > 0 || (got < 0 && error == EINTR)) return Step::Data;
    if (got < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return Step::Again;
    ended = got == 0 ? ECONNRESET : error;
    return Step::Ended;
}

std::size_t NetDevice::Fill(const DeviceCore::Space& space, ssize_t& got, int& error, Notices& notices)
{
    if (!m_backlog.empty()) {
        const std::size_t n = std::min(m_backlog.size(), space.Size());
        const std::size_t first = std::min(n, space.firstSize);
        std::copy_n(m_backlog.begin(), first, space.first);
        std::copy_n(m_backlog.begin() + static_cast<std::ptrdiff_t>(first), n - first, space.second);
        m_backlog.erase(m_backlog.begin(), m_backlog.begin() + static_cast<std::ptrdiff_t>(n));
        got = static_cast<ssize_t>(n);
        return n;
    }
    if (m_kind == npRaw) {
        // The fast path: straight from the socket into the queue's free room.
        iovec parts[2] = {{space.first, space.firstSize}, {space.second, space.secondSize}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = space.secondSize ? 2 : 1;
        got = ::recvmsg(m_fd, &message, MSG_DONTWAIT);
        error = errno;
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }

    // The data of a chunk is never longer than the chunk, so a chunk as large as the room always fits.
    m_staging.resize(std::min(space.Size(), kMaxChunk));
    got = ::recv(m_fd, m_staging.data(), m_staging.size(), MSG_DONTWAIT);
    error = errno;
    if (got <= 0) return 0;
    const std::size_t size = Parse(static_cast<std::size_t>(got), notices);
    const std::size_t first = std::min(size, space.firstSize);
    std::copy_n(m_staging.data(), first, space.first);
    std::copy_n(m_staging.data() + first, size - first, space.second);
    return size;
}

bool NetDevice::ReadAside(ssize_t& got, int& error, Notices& notices)
{
    if (m_backlog.size() >= kMaxBacklog) return false;
    m_staging.resize(std::min(kMaxBacklog - m_backlog.size(), kMaxChunk));
    got = ::recv(m_fd, m_staging.data(), m_staging.size(), MSG_DONTWAIT);
    error = errno;
    if (got <= 0) return true;
    const std::size_t size = Parse(static_cast<std::size_t>(got), notices);
    m_backlog.insert(m_backlog.end(), m_staging.begin(), m_staging.begin() + static_cast<std::ptrdiff_t>(size));
    return true;
}

std::size_t NetDevice::Parse(std::size_t got, Notices& notices)
{
    std::lock_guard lock(m_telnetMutex);
    const std::size_t size = m_telnet.Receive(m_staging.data(), got, m_staging.data());
    for (const std::uint8_t report : m_telnet.TakeModemReports()) {
        const DWORD status = report & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
        // A line that changed and changed back between two reports shows only in the report's delta bits.
        notices.events |= ModemChangeEvents(m_modemStatus, status) | ((report & 0x01) ? EV_CTS : 0) |
                          ((report & 0x02) ? EV_DSR : 0) | ((report & 0x08) ? EV_RLSD : 0);
        m_modemStatus = status;
    }
    const std::uint8_t line = m_telnet.TakeLineState();
    notices.errors |= ((line & kLineOverrun) ? CE_OVERRUN : 0) | ((line & kLineParity) ? CE_RXPARITY : 0) |
                      ((line & kLineFraming) ? CE_FRAME : 0) | ((line & kLineBreak) ? CE_BREAK : 0);
    if (m_telnet.HasOutput()) SendOutboxLocked(); // a failing send shows as the connection's end
    if (m_awaitingAnswers > 0) m_answered.notify_all();
    return size;
}

void NetDevice::Apply(const Notices& notices)
{
    if (notices.errors) m_core.AddErrors(notices.errors);
    if (notices.events) m_core.RaiseEvents(notices.events);
}

void NetDevice::Arm()
{
    epoll_event line{};
    line.events = kLineEvents;
    line.data.fd = m_fd;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, m_fd, &line); // fails only once the connection has ended
}

void NetDevice::MarkRemoved(int error)
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m_fd, nullptr); // an ended connection would report for ever
    m_core.Remove(error);
    m_ended = error;
    std::lock_guard lock(m_telnetMutex);
    m_answered.notify_all();
}

// ---- The reader thread -------------------------------------------------------------------------------

void NetDevice::RunReader(const std::stop_token& stop)
{
    const int wakeFd = static_cast<int>(m_wake.NativeHandle());
    epoll_event events[4];
    while (!stop.stop_requested()) {
        if (m_readable && m_core.RemovedError() == 0) Drain();
        bool awaiting = false;
        {
            std::lock_guard lock(m_telnetMutex);
            awaiting = m_awaitingAnswers > 0;
        }
        // The registration disarms itself on each report; it is wanted again while a transfer waits and
        // nothing is known to be readable (a full queue leaves the socket readable: no use asking).
        if (m_lineReported && !m_readable && m_core.RemovedError() == 0 &&
            (m_core.HasPendingWait() || m_core.PendingReads() > 0 || awaiting)) {
            m_lineReported = false;
            Arm();
        }
        m_core.ExpireDeadlines();
        const int n = ::epoll_wait(m_epoll, events, static_cast<int>(std::size(events)), Timeout(Clock::now()));
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == wakeFd) {
                m_wake.Reset();
                m_readable = true; // room may have appeared that a caller's Pull found missing
            } else {
                m_lineReported = true;
                m_readable = true; // data, or the end of the connection, which a read tells
            }
        }
    }
}

void NetDevice::Drain()
{
    for (;;) {
        int ended = 0;
        const Step step = ReceiveStep(ended);
        if (step == Step::Data) continue;
        if (step == Step::Full) return; // the queue's wake hook brings us back when a read makes room
        m_readable = false;             // the next arrival raises another edge
        if (step == Step::Ended) MarkRemoved(ended);
        return;
    }
}

int NetDevice::Timeout(Clock::time_point now) const
{
    const std::optional<Clock::time_point> next = m_core.NextDeadline();
    if (!next) return -1;
    if (*next <= now) return 0;
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(
        std::chrono::ceil<std::chrono::milliseconds>(*next - now).count(), 60'000));
}

} // namespace

std::unique_ptr<ISerialDevice> CreateNetDevice() { return std::make_unique<NetDevice>(); }

} // namespace cport::device
