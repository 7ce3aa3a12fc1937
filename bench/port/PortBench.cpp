// SPDX-License-Identifier: GPL-3.0-or-later
// Receiving through the port against reading the same pseudo-terminal directly, and the event
// thread's wake-ups while the port is open and idle.
//
//   port_bench --benchmark_filter=Receive   bytes per second: plain read(), the port's OnRxChar reads,
//                                           and their ratio (port / plain), for two input queue sizes
//   port_bench --benchmark_filter=Write     bytes per second: plain write() on the slave, the port's
//                                           WriteData, and their ratio (port / plain), 64 KiB a call
//   port_bench --benchmark_filter=Idle      context switches per second of the threads the open port
//                                           added (its event thread and the device's reader)

#include "cport/ComPort.h"
#include "cport/MainThread.h"
#include "common/Throughput.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kStreamBytes = 8u << 20;

struct Pty {
    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) throw std::runtime_error("no pty");
        path = ptsname(master);
    }
    ~Pty() { ::close(master); }
    int master = -1;
    std::string path;
};

// The slave opened and made raw, as a plain program reading a serial line does.
int OpenRaw(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Writes `total` bytes to the master as fast as the line takes them.
std::jthread StartWriter(int master, std::size_t total)
{
    return std::jthread([master, total] {
        std::vector<std::uint8_t> chunk(64 * 1024);
        for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
        for (std::size_t sent = 0; sent < total;) {
            const ssize_t n = ::write(master, chunk.data(), std::min(chunk.size(), total - sent));
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    });
}

double PlainReadBytesPerSecond(Pty& pty)
{
    const int fd = OpenRaw(pty.path);
    std::vector<std::uint8_t> buffer(64 * 1024);
    const auto start = std::chrono::steady_clock::now();
    auto writer = StartWriter(pty.master, kStreamBytes);
    std::size_t received = 0;
    while (received < kStreamBytes) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) break;
        received += static_cast<std::size_t>(n);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    writer.join();
    ::close(fd);
    return static_cast<double>(received) / took.count();
}

double PortBytesPerSecond(Pty& pty, std::int32_t inputSize)
{
    cport::TComPort port;
    port.SetPort(pty.path);
    port.SetBaudRate(cport::br19200);
    port.Buffer().SetInputSize(inputSize);
    std::vector<std::uint8_t> buffer;
    std::size_t received = 0;
    // The handler reads every byte that is waiting, on the main thread.
    port.SetOnRxChar([&](cport::TObject*, std::int32_t count) {
        buffer.resize(static_cast<std::size_t>(count));
        received += static_cast<std::size_t>(port.ReadData(buffer.data(), count));
    });
    port.OpenPort();
    cport::THeadlessEventLoop loop;
    const auto start = std::chrono::steady_clock::now();
    auto writer = StartWriter(pty.master, kStreamBytes);
    loop.RunUntil([&] { return received >= kStreamBytes; }, 120000);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    writer.join();
    port.ClosePort();
    return static_cast<double>(received) / took.count();
}

// Argument: the port's input queue size (Buffer.InputSize). 1024 is the main window's: each event then
// carries at most 1 KiB, and the cost of an event (three threads take part) sets the pace. The two
// ways of reading take turns, five rounds each, and the medians are compared, so that a machine busy
// with other work weighs on both alike.
void BM_ReceiveThroughput(benchmark::State& state)
{
    Pty pty;
    std::vector<double> plain, viaPort;
    for (auto _ : state) {
        plain.push_back(PlainReadBytesPerSecond(pty));
        viaPort.push_back(PortBytesPerSecond(pty, static_cast<std::int32_t>(state.range(0))));
    }
    varmio::bench::SetThroughputCounters(state, plain, viaPort);
}
BENCHMARK(BM_ReceiveThroughput)->Arg(1024)->Arg(65536)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Reads `total` bytes from the master as fast as they come.
std::jthread StartReader(int master, std::size_t total)
{
    return std::jthread([master, total] {
        std::vector<std::uint8_t> buffer(64 * 1024);
        for (std::size_t got = 0; got < total;) {
            const ssize_t n = ::read(master, buffer.data(), buffer.size());
            if (n <= 0) return;
            got += static_cast<std::size_t>(n);
        }
    });
}

double PlainWriteBytesPerSecond(Pty& pty)
{
    const int fd = OpenRaw(pty.path);
    std::vector<std::uint8_t> chunk(64 * 1024, 0x5A);
    const auto start = std::chrono::steady_clock::now();
    auto reader = StartReader(pty.master, kStreamBytes);
    for (std::size_t sent = 0; sent < kStreamBytes;) {
        const ssize_t n = ::write(fd, chunk.data(), std::min(chunk.size(), kStreamBytes - sent));
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    reader.join();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    ::close(fd);
    return static_cast<double>(kStreamBytes) / took.count();
}

double PortWriteBytesPerSecond(Pty& pty)
{
    cport::TComPort port;
    port.SetPort(pty.path);
    port.SetEvents({});
    port.OpenPort();
    std::vector<std::uint8_t> chunk(64 * 1024, 0x5A);
    const auto start = std::chrono::steady_clock::now();
    auto reader = StartReader(pty.master, kStreamBytes);
    for (std::size_t sent = 0; sent < kStreamBytes;) {
        const auto count = static_cast<std::int32_t>(std::min(chunk.size(), kStreamBytes - sent));
        const std::int32_t n = port.WriteData(chunk.data(), count);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    reader.join();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    port.ClosePort();
    return static_cast<double>(kStreamBytes) / took.count();
}

// The two ways of writing take turns, five rounds each, on the same pseudo-terminal; the medians are
// compared (target: ratio >= 0.8).
void BM_WriteThroughput(benchmark::State& state)
{
    Pty pty;
    std::vector<double> plain, viaPort;
    for (auto _ : state) {
        plain.push_back(PlainWriteBytesPerSecond(pty));
        viaPort.push_back(PortWriteBytesPerSecond(pty));
    }
    varmio::bench::SetThroughputCounters(state, plain, viaPort);
}
BENCHMARK(BM_WriteThroughput)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

std::set<std::string> ThreadIds()
{
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(entry.path().filename());
    return ids;
}

long ContextSwitches(const std::string& tid)
{
    std::ifstream status("/proc/self/task/" + tid + "/status");
    long total = 0;
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::strtol(line.c_str() + 24, nullptr, 10);
        if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) total += std::strtol(line.c_str() + 27, nullptr, 10);
    }
    return total;
}

void BM_IdleWakeups(benchmark::State& state)
{
    Pty pty;
    cport::TComPort port;
    port.SetPort(pty.path);
    const auto before = ThreadIds();
    port.OpenPort();
    std::vector<std::string> added;
    for (const auto& id : ThreadIds())
        if (!before.count(id)) added.push_back(id);
    // Let both threads reach their waits before counting.
    cport::THeadlessEventLoop loop;
    loop.RunUntil([] { return false; }, 200);
    long first = 0;
    for (const auto& id : added) first += ContextSwitches(id);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) loop.RunUntil([] { return false; }, 1000);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    long last = 0;
    for (const auto& id : added) last += ContextSwitches(id);
    state.counters["threads"] = static_cast<double>(added.size());
    state.counters["wakeups_per_s"] = static_cast<double>(last - first) / took.count();
    port.ClosePort();
}
BENCHMARK(BM_IdleWakeups)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
