// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Throughput of the component against the plain system calls: the two take turns, a round each per
// iteration, and the medians are compared, so that a machine busy with other work weighs on both alike.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace varmio::bench {

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Counters from rounds in bytes per second: plain_MBps, port_MBps and their ratio (port / plain).
inline void SetThroughputCounters(benchmark::State& state, const std::vector<double>& plain,
                                  const std::vector<double>& viaPort)
{
    state.counters["plain_MBps"] = Median(plain) / 1e6;
    state.counters["port_MBps"] = Median(viaPort) / 1e6;
    state.counters["ratio"] = Median(viaPort) / Median(plain);
}

} // namespace varmio::bench
