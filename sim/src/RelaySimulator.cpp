// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/RelaySimulator.h"
#include "varmio/relaysim/CaptureReplay.h"
#include "varmio/relaysim/Conversation.h"
#include "varmio/relaysim/Packet.h"
#include "varmio/relaysim/PseudoTerminal.h"
#include "varmio/relaysim/TcpBridge.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace varmio::relaysim {

namespace {

using Clock = Pacer::Clock;

// Unpaced, bytes go out in runs of about this size; paced, each run as it falls due.
constexpr std::size_t kBatchBytes = 4096;
constexpr std::chrono::milliseconds kDrainCheck{250};

std::unique_ptr<IByteSource> MakeSource(const RelayOptions& options)
{
    if (options.ReplayFile) return std::make_unique<CaptureFileReplay>(*options.ReplayFile, options.Loop);
    return std::make_unique<Conversation>(options.Seed, options.StartTimeOfDay);
}

bool IsEnd(RelayState state)
{
    return state == RelayState::Finished || state == RelayState::Stopped || state == RelayState::Failed;
}

} // namespace

RelaySimulator::RelaySimulator(const RelayOptions& options) : RelaySimulator(MakeSource(options), options) {}

RelaySimulator::RelaySimulator(std::unique_ptr<IByteSource> source, const RelayOptions& options)
    : m_source(std::move(source)), m_pacer(options.Speed)
{
    if (!m_source) throw std::invalid_argument("the relay simulator needs a byte source");
    if (options.TcpPort) {
        if (!options.LinkPath.empty()) throw std::invalid_argument("a TCP bridge has no device to link to");
        m_device = std::make_unique<TcpBridge>(*options.TcpPort);
    } else {
        auto device = std::make_unique<PseudoTerminal>();
        if (!options.LinkPath.empty()) device->MakeLink(options.LinkPath, options.ForceLink);
        m_device = std::move(device);
    }
    m_stopSignal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopSignal < 0) throw std::system_error(errno, std::generic_category(), "cannot make the stop signal");
}

RelaySimulator::~RelaySimulator()
{
    Stop();
    ::close(m_stopSignal);
}

void RelaySimulator::Start()
{
    m_thread = std::jthread([this] {
        try {
            Run();
        } catch (...) {
            // Kept by Run() for Error().
        }
    });
}

void RelaySimulator::RequestStop() noexcept
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_stopSignal, &one, sizeof one);
}

void RelaySimulator::Stop()
{
    RequestStop();
    if (m_thread.joinable()) m_thread.join();
}

RelayState RelaySimulator::Run()
{
    RelayState end;
    try {
        end = RunStream();
    } catch (...) {
        {
            std::lock_guard lock(m_mutex);
            m_error = std::current_exception();
        }
        SetState(RelayState::Failed);
        throw;
    }
    SetState(end);
    return end;
}

RelayState RelaySimulator::RunStream()
{
    if (!AwaitReader(RelayState::WaitingForReader)) return RelayState::Stopped;
    m_pacer.Start(Clock::now());
    SetState(RelayState::Sending);

    std::vector<std::uint8_t> pending;
    pending.reserve(kBatchBytes + kPacketSize);
    std::size_t written = 0;
    TimedBytes next;
    bool haveNext = m_source->Next(next);
    for (;;) {
        const auto now = Clock::now();
        while (haveNext && pending.size() < kBatchBytes && m_pacer.DueAt(next.At) <= now) {
            pending.insert(pending.end(), next.Bytes.begin(), next.Bytes.end());
            haveNext = m_source->Next(next);
        }
        if (pending.empty() && !haveNext) break;

        std::optional<Clock::time_point> deadline;
        if (pending.empty()) deadline = m_pacer.DueAt(next.At);
        switch (WaitFor(!pending.empty(), deadline)) {
        case Wake::Stop: return RelayState::Stopped;
        case Wake::Notice:
            m_device->TakeNotices();
            if (m_device->Readers() == 0) {
                m_pacer.Pause(Clock::now());
                if (!AwaitReader(RelayState::Paused)) return RelayState::Stopped;
                m_pacer.Resume(Clock::now());
                SetState(RelayState::Sending);
            }
            break;
        case Wake::Writable: {
            const std::size_t n = m_device->Write(std::span<const std::uint8_t>(pending).subspan(written));
            written += n;
            m_bytesSent += n;
            if (written == pending.size()) {
                pending.clear();
                written = 0;
            }
            break;
        }
        case Wake::Timeout: break;
        }
    }
    return Drain() ? RelayState::Finished : RelayState::Stopped;
}

bool RelaySimulator::AwaitReader(RelayState waitingState)
{
    m_device->TakeNotices();
    if (m_device->Readers() > 0) return true;
    SetState(waitingState);
    while (m_device->Readers() == 0) {
        if (WaitFor(false, std::nullopt) == Wake::Stop) return false;
        m_device->TakeNotices();
    }
    return true;
}

bool RelaySimulator::Drain()
{
    SetState(RelayState::Draining);
    // Every read by the reader wakes us to look at the queue again; the notice of a read that empties
    // the queue after we looked is still pending when we wait, so none is missed. The slow look
    // besides is for kernels that would not report reads on terminals.
    m_device->NoticeReads(true);
    while (!m_device->InputQueueEmpty()) {
        if (WaitFor(false, Clock::now() + kDrainCheck) == Wake::Stop) return false;
        m_device->TakeNotices();
    }
    return true;
}

RelaySimulator::Wake RelaySimulator::WaitFor(bool writable, std::optional<Clock::time_point> deadline)
{
    pollfd fds[3] = {
        {m_stopSignal, POLLIN, 0},
        {m_device->WatchFd(), POLLIN, 0},
        {m_device->WriteFd(), POLLOUT, 0},
    };
    timespec timeout{};
    if (deadline) {
        const auto left = std::max(Clock::duration::zero(), *deadline - Clock::now());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        timeout.tv_sec = static_cast<time_t>(seconds.count());
        timeout.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count());
    }
    const int ready = ::ppoll(fds, writable ? 3 : 2, deadline ? &timeout : nullptr, nullptr);
    if (ready < 0) {
        if (errno == EINTR) return Wake::Timeout;
        throw std::system_error(errno, std::generic_category(), "cannot wait on " + DevicePath());
    }
    if (fds[0].revents != 0) return Wake::Stop;
    if (fds[1].revents != 0) return Wake::Notice;
    if (writable && fds[2].revents != 0) return Wake::Writable;
    return Wake::Timeout;
}

void RelaySimulator::SetState(RelayState state)
{
    m_state = state;
    if (m_onStateChange) m_onStateChange(this, state);
    // Waiters see the change only once the handler has run.
    {
        std::lock_guard lock(m_mutex);
        m_notifiedState = state;
    }
    m_stateChanged.notify_all();
}

bool RelaySimulator::WaitForState(RelayState wanted, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    m_stateChanged.wait_for(lock, timeout, [&] { return m_notifiedState == wanted || IsEnd(m_notifiedState); });
    return m_notifiedState == wanted;
}

std::exception_ptr RelaySimulator::Error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

} // namespace varmio::relaysim
