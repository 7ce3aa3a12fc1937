// SPDX-License-Identifier: GPL-3.0-or-later
// The network ports: throughput from a loopback TCP writer to a port's OnRxChar handler against plain
// recv() of the same kind of connection in the same run, and the latency from a relay packet written
// to a serial line to the handler that receives it through ser2net.
//
//   bench_net --benchmark_filter=Receive   bytes per second: plain recv(), the port's OnRxChar reads of
//                                          socket://, and their ratio (port / plain), for two input
//                                          queue sizes and a handler that drains the port
//   bench_net --benchmark_filter=Latency   microseconds from write() on the pseudo-terminal behind
//                                          ser2net to the handler's read of the whole packet (median and
//                                          99th percentile), through rfc2217:// and socket://, and
//                                          by plain recv() on ser2net's raw port

#include "support/NetTestSupport.h"

#include "cport/ComPort.h"
#include "cport/MainThread.h"
#include "common/Throughput.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using varmio::test::LoopbackServer;
using varmio::test::Ser2net;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kStreamBytes = 64u << 20;

// Accepts one connection and sends `total` bytes as fast as the connection takes them.
std::jthread StartWriter(LoopbackServer& server, std::size_t total)
{
    return std::jthread([&server, total] {
        if (!server.Accept()) return;
        std::string chunk(64 * 1024, '\0');
        for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7);
        for (std::size_t sent = 0; sent < total; sent += chunk.size())
            if (!server.Send(chunk.substr(0, std::min(chunk.size(), total - sent)))) return;
    });
}

int ConnectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    return fd;
}

double PlainRecvBytesPerSecond()
{
    LoopbackServer server;
    const auto start = Clock::now();
    auto writer = StartWriter(server, kStreamBytes);
    const int fd = ConnectTo(server.Port());
    std::vector<char> buffer(64 * 1024);
    std::size_t received = 0;
    while (received < kStreamBytes) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) break;
        received += static_cast<std::size_t>(n);
    }
    const std::chrono::duration<double> took = Clock::now() - start;
    writer.join();
    ::close(fd);
    return static_cast<double>(received) / took.count();
}

// `drain`: the handler reads until nothing is left, with a 64 KiB buffer, as varmio-log does; else it
// reads the count the event announced, as the port benchmark's handler does.
double PortBytesPerSecond(std::int32_t inputSize, bool drain)
{
    LoopbackServer server;
    cport::TComPort port;
    port.SetPort("socket://127.0.0.1:" + std::to_string(server.Port()));
    port.Buffer().SetInputSize(inputSize);
    std::vector<std::uint8_t> buffer;
    std::size_t received = 0;
    // The handler reads every byte that is waiting, on the main thread.
    port.SetOnRxChar([&](cport::TObject*, std::int32_t count) {
        if (!drain) {
            buffer.resize(static_cast<std::size_t>(count));
            received += static_cast<std::size_t>(port.ReadData(buffer.data(), count));
            return;
        }
        buffer.resize(64 * 1024);
        while (const std::int32_t got = port.ReadData(buffer.data(), static_cast<std::int32_t>(buffer.size())))
            received += static_cast<std::size_t>(got);
    });
    const auto start = Clock::now();
    auto writer = StartWriter(server, kStreamBytes);
    port.OpenPort();
    cport::THeadlessEventLoop loop;
    loop.RunUntil([&] { return received >= kStreamBytes; }, 120000);
    const std::chrono::duration<double> took = Clock::now() - start;
    port.ClosePort();
    writer.join();
    return static_cast<double>(received) / took.count();
}

// Arguments: the port's input queue size (1024 is the main window's), and 1 when the handler drains
// the port (varmio-log), 0 when it reads the announced count. Plain and port rounds take turns and the
// medians are compared, so that a machine busy with other work weighs on both alike.
void BM_ReceiveThroughput(benchmark::State& state)
{
    std::vector<double> plain, viaPort;
    for (auto _ : state) {
        plain.push_back(PlainRecvBytesPerSecond());
        viaPort.push_back(PortBytesPerSecond(static_cast<std::int32_t>(state.range(0)), state.range(1) == 1));
    }
    varmio::bench::SetThroughputCounters(state, plain, viaPort);
}
BENCHMARK(BM_ReceiveThroughput)
    ->Args({1024, 0})
    ->Args({65536, 0})
    ->Args({65536, 1})
    ->Iterations(9)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void Report(benchmark::State& state, std::vector<double> micros)
{
    std::sort(micros.begin(), micros.end());
    if (micros.empty()) return;
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

const std::uint8_t kPacket[7] = {0x35, 0x35, 0x35, 0x01, 0x00, 0x18, 0x80};

void PlainLatency(benchmark::State& state, int master, std::uint16_t port)
{
    const int fd = ConnectTo(port);
    std::uint8_t buffer[64];
    std::vector<double> micros;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (::write(master, kPacket, sizeof kPacket) != static_cast<ssize_t>(sizeof kPacket)) break;
        for (std::size_t got = 0; got < sizeof kPacket;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    ::close(fd);
    Report(state, std::move(micros));
}

void PortLatency(benchmark::State& state, int master, const std::string& name)
{
    cport::TComPort port;
    port.SetPort(name);
    port.SetBaudRate(cport::br19200);
    std::size_t received = 0;
    std::uint8_t buffer[64];
    port.SetOnRxChar([&](cport::TObject*, std::int32_t count) {
        received += static_cast<std::size_t>(port.ReadData(buffer, std::min<std::int32_t>(count, 64)));
    });
    port.OpenPort();
    cport::THeadlessEventLoop loop;
    std::vector<double> micros;
    for (auto _ : state) {
        received = 0;
        const auto start = Clock::now();
        if (::write(master, kPacket, sizeof kPacket) != static_cast<ssize_t>(sizeof kPacket)) break;
        loop.RunUntil([&] { return received >= sizeof kPacket; }, 5000);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    port.ClosePort();
    Report(state, std::move(micros));
}

// Argument: 1 for rfc2217://, 0 for socket://, 2 for plain recv() on ser2net's raw port (what ser2net
// itself takes: it gathers a few character times of a serial line before it sends). One 7-byte relay
// packet at a time: written on the pseudo-terminal's far side, timed until the handler (or recv()) has
// all seven bytes.
void BM_Ser2netLatency(benchmark::State& state)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    const std::string slave = ::ptsname(master);
    const int keeper = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC); // keeps the line up
    {
        Ser2net bridge(slave, "19200n81");
        if (!bridge.Running()) state.SkipWithError("ser2net did not start (is it installed?)");
        else if (state.range(0) == 2) PlainLatency(state, master, bridge.RawPort());
        else if (state.range(0) == 1)
            PortLatency(state, master, "rfc2217://127.0.0.1:" + std::to_string(bridge.Rfc2217Port()));
        else PortLatency(state, master, "socket://127.0.0.1:" + std::to_string(bridge.RawPort()));
    }
    ::close(keeper);
    ::close(master);
}
BENCHMARK(BM_Ser2netLatency)->Arg(1)->Arg(0)->Arg(2)->Iterations(300)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
