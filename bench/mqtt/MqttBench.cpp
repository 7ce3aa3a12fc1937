// SPDX-License-Identifier: GPL-3.0-or-later
// The publisher's hand-off while the broker is away: what one Post costs on the logging thread, and
// that memory does not grow with the outage: the process's resident memory before and after 100 000
// and 10 000 000 changing frames, and the allocations made meanwhile (by both threads: the
// publisher's thread allocates a little for each connection attempt and frees it again).

#include "support/CountingNew.h"
#include "varmio/mqtt/Publisher.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace varmio;

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// A loopback port nobody listens on: the broker is away for the whole run.
int ClosedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

void BM_PostWhileTheBrokerIsAway(benchmark::State& state)
{
    mqtt::PublisherOptions options;
    options.Host = "127.0.0.1";
    options.Port = ClosedPort();
    options.MaxBackoff = std::chrono::milliseconds(50); // many attempts during the run
    mqtt::Publisher publisher(options);
    constexpr std::uint8_t kIds[] = {0, 1, 5, 17, 18, 24, 25, 26, 27, 28, 56, 116, 120};
    std::uint32_t n = 0;
    const long residentBefore = ResidentKiB();
    const long allocationsBefore = varmio::test::AllocationCount();
    for (auto _ : state) {
        const std::uint8_t id = kIds[n % std::size(kIds)];
        const auto raw = static_cast<std::uint16_t>(n * 7919u);
        publisher.Post({id == 0 || id == 5 || id == 17 || id == 25 ? kReadAck : kWriteData, id,
                        static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw), raw});
        ++n;
    }
    state.counters["allocations"] = static_cast<double>(varmio::test::AllocationCount() - allocationsBefore);
    state.counters["grown_KiB"] = static_cast<double>(ResidentKiB() - residentBefore);
}
// Ten and a thousand times the frames: the same memory (compare grown_KiB).
BENCHMARK(BM_PostWhileTheBrokerIsAway)->Iterations(100'000);
BENCHMARK(BM_PostWhileTheBrokerIsAway)->Iterations(10'000'000);

} // namespace

BENCHMARK_MAIN();
