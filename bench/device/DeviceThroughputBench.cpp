// SPDX-License-Identifier: GPL-3.0-or-later
// Bytes per second from a pseudo-terminal's far side to the reader: once through the system device
// (reader thread, input queue, "character received" wait, ClearCommError, ReadFile, as a port's event
// loop receives), once by plain blocking read() of the same pseudo-terminal. The ratio of the two is
// what the device layer costs.

#include "cport/Device.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace cport::device;

constexpr std::size_t kBytesPerRound = 8 * 1024 * 1024;
constexpr std::size_t kWriteChunk = 4096;

class PtyPair {
public:
    PtyPair()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[64] = {};
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
            ::ptsname_r(m_master, name, sizeof name) != 0) {
            std::abort();
        }
        m_slave = name;
    }
    ~PtyPair() { ::close(m_master); }
    const std::string& SlavePath() const { return m_slave; }

    // Writes `total` bytes in chunks, held back as the line fills.
    void Send(std::size_t total) const
    {
        const std::string chunk(kWriteChunk, 'U');
        for (std::size_t sent = 0; sent < total;) {
            const ssize_t n = ::write(m_master, chunk.data(), std::min(chunk.size(), total - sent));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) std::abort();
            sent += static_cast<std::size_t>(n);
        }
    }

private:
    int m_master = -1;
    std::string m_slave;
};

PtyPair& Pty()
{
    static PtyPair pty;
    return pty;
}

using Seconds = std::chrono::duration<double>;

// Receives one round by plain blocking read() of a raw descriptor, `chunk` bytes at most per call.
Seconds PlainReadRound(std::size_t chunk)
{
    const int fd = ::open(Pty().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    std::vector<char> buffer(chunk);
    const auto start = std::chrono::steady_clock::now();
    std::jthread writer([] { Pty().Send(kBytesPerRound); });
    for (std::size_t got = 0; got < kBytesPerRound;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) got += static_cast<std::size_t>(n);
        else if (errno != EINTR) std::abort();
    }
    writer.join();
    const Seconds took = std::chrono::steady_clock::now() - start;
    ::close(fd);
    return took;
}

// Receives one round through the system device with an input queue of `queueSize` bytes.
Seconds DeviceRound(DWORD queueSize)
{
    auto device = CreateSystemDevice();
    if (!device->Open(Pty().SlavePath()) || !device->SetupComm(queueSize, queueSize) ||
        !device->SetCommTimeouts(COMMTIMEOUTS{MAXDWORD, 0, 0, 0, 0}) || !device->SetCommMask(EV_RXCHAR)) {
        std::abort();
    }
    Event waitEvent(true), readEvent(true);
    Overlapped wait, read;
    wait.hEvent = &waitEvent;
    read.hEvent = &readEvent;
    std::vector<char> buffer(queueSize);
    const auto start = std::chrono::steady_clock::now();
    std::jthread writer([] { Pty().Send(kBytesPerRound); });
    for (std::size_t got = 0; got < kBytesPerRound;) {
        DWORD mask = 0, n = 0, errors = 0;
        device->WaitCommEvent(mask, wait);
        waitEvent.Wait();
        if (!device->GetOverlappedResult(wait, n, false)) std::abort();
        COMSTAT stat;
        if (!device->ClearCommError(errors, stat)) std::abort();
        if (!device->ReadFile(buffer.data(), stat.cbInQue, n, read)) std::abort();
        got += n;
    }
    writer.join();
    const Seconds took = std::chrono::steady_clock::now() - start;
    device->Close();
    return took;
}

Seconds Median(std::vector<Seconds> rounds)
{
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

// Each iteration runs one round of each, back to back, so that both see the same machine load; the
// medians of the rounds are compared. Counters: MB/s of each, and the device's share of plain read()'s
// rate.
void DeviceAgainstPlainRead(benchmark::State& state)
{
    const auto queueSize = static_cast<DWORD>(state.range(0));
    std::vector<Seconds> plain, device;
    for (auto _ : state) {
        plain.push_back(PlainReadRound(queueSize));
        device.push_back(DeviceRound(queueSize));
    }
    const double megabytes = kBytesPerRound / 1e6;
    state.counters["plain_MBps"] = megabytes / Median(plain).count();
    state.counters["device_MBps"] = megabytes / Median(device).count();
    state.counters["ratio"] = Median(plain).count() / Median(device).count();
}

BENCHMARK(DeviceAgainstPlainRead)->Arg(1024)->Arg(65536)->Iterations(9)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
