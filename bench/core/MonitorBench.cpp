// SPDX-License-Identifier: GPL-3.0-or-later
// Frames per second through ProcessFrameByte, with value decoding, record building and the change
// filter, on the real captures; and the heap allocations per frame (to be 0). The second reading
// (every frame decoded to typed values, into the message overview and the message log, stamped with
// the clock as the window does) is measured beside it: it is to cost under 20 % of the frame rate.

#include "support/CountingNew.h"
#include "varmio/MessageOverview.h"
#include "varmio/Monitor.h"
#include "varmio/OpenTherm.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using namespace varmio;

// Keeps the check marks and takes the lines as a window would be handed them, storing none, so
// that the figure is the core's own cost.
class BenchDisplay : public IDisplay {
public:
    void SetBoxText(Box, std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
    bool IsChecked(StatusList list, int item) const override
    {
        return m_checks[Index(list)][static_cast<std::size_t>(item)];
    }
    void SetChecked(StatusList list, int item, bool checked) override
    {
        m_checks[Index(list)][static_cast<std::size_t>(item)] = checked;
    }
    void AppendRawLog(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
    void AppendRecordLog(std::string_view line) override
    {
        benchmark::DoNotOptimize(line.data());
        ++recordLines;
    }
    bool ChangesOnly() const override { return changesOnly; }
    std::string_view DateTimeText() const override { return "7.12.2026; 13:05:20"; }

    bool changesOnly = true;
    long recordLines = 0;

private:
    static std::size_t Index(StatusList list) { return list == StatusList::Master ? 0 : 1; }
    std::array<std::array<bool, 8>, 2> m_checks{};
};

const std::vector<std::uint8_t>& Captures()
{
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> all;
        const auto folder = std::filesystem::path(VARMIO_SOURCE_DIR) / "data/captures/relay7";
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            all.insert(all.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return all;
    }();
    return bytes;
}

void ProcessCaptures(benchmark::State& state, bool changesOnly, bool secondReading = false)
{
    const std::vector<std::uint8_t>& bytes = Captures();
    if (bytes.empty()) {
        state.SkipWithError("no captures found");
        return;
    }
    BenchDisplay display;
    display.changesOnly = changesOnly;
    Monitor monitor(display, Regional{});
    MessageOverview overview;
    MessageLog log;
    if (secondReading) {
        // Stamped with a clock reading per frame: the worst case (the window reads it per batch).
        monitor.SetOnFrame([&overview, &log](const Frame& frame) {
            const TimePoint now = std::chrono::system_clock::now();
            const DecodedFrame decoded = DecodeFrame(frame);
            benchmark::DoNotOptimize(decoded);
            overview.Add(frame, now);
            log.Add(frame, now);
        });
    }
    for (std::uint8_t b : bytes) monitor.ProcessFrameByte(b); // warm the buffers

    const std::int64_t framesBefore = monitor.FrameCount();
    const long allocationsBefore = test::AllocationCount();
    const long linesBefore = display.recordLines;
    for (auto _ : state) {
        for (std::uint8_t b : bytes) monitor.ProcessFrameByte(b);
    }
    const auto frames = static_cast<double>(monitor.FrameCount() - framesBefore);
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["allocs/frame"] = static_cast<double>(test::AllocationCount() - allocationsBefore) / frames;
    state.counters["lines/frame"] = static_cast<double>(display.recordLines - linesBefore) / frames;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes.size()));
}

// The second reading's cost against the first alone: a monitor with and one without it take turns
// over the captures, so that both see the same machine load; medians of the rounds' CPU times are
// compared.
void BM_SecondReadingOverhead(benchmark::State& state)
{
    const std::vector<std::uint8_t>& bytes = Captures();
    if (bytes.empty()) {
        state.SkipWithError("no captures found");
        return;
    }
    BenchDisplay plainDisplay;
    BenchDisplay readingDisplay;
    Monitor plain(plainDisplay, Regional{});
    Monitor reading(readingDisplay, Regional{});
    MessageOverview overview;
    MessageLog log;
    TimePoint now{};
    reading.SetOnFrame([&overview, &log, &now](const Frame& frame) {
        const DecodedFrame decoded = DecodeFrame(frame);
        benchmark::DoNotOptimize(decoded);
        overview.Add(frame, now);
        log.Add(frame, now);
    });
    // The thread's own CPU time, so that being preempted on a busy machine does not count.
    const auto cpuSeconds = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    };
    // As the window feeds the core: receive batches of at most 33 bytes, the frames of a batch
    // stamped with one clock reading taken when it arrives.
    constexpr std::size_t kBatch = 33;
    const auto pass = [&bytes, &cpuSeconds, &now](Monitor& monitor, bool stamp) {
        const double start = cpuSeconds();
        for (std::size_t at = 0; at < bytes.size(); at += kBatch) {
            if (stamp) now = std::chrono::system_clock::now();
            const std::size_t end = std::min(bytes.size(), at + kBatch);
            for (std::size_t i = at; i < end; ++i) monitor.ProcessFrameByte(bytes[i]);
        }
        return cpuSeconds() - start;
    };
    pass(plain, false); // warm both
    pass(reading, true);
    std::vector<double> plainTimes;
    std::vector<double> readingTimes;
    for (auto _ : state) {
        plainTimes.push_back(pass(plain, false));
        readingTimes.push_back(pass(reading, true));
    }
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double framesPerPass = static_cast<double>(plain.FrameCount()) / static_cast<double>(plainTimes.size() + 1);
    const double plainMedian = median(plainTimes);
    const double readingMedian = median(readingTimes);
    state.counters["plain frames/s"] = framesPerPass / plainMedian;
    state.counters["with overview frames/s"] = framesPerPass / readingMedian;
    // The share of the core's frame rate the second reading takes away.
    state.counters["cost %"] = 100.0 * (1.0 - plainMedian / readingMedian);
}

void BM_CapturesChangesOnly(benchmark::State& state) { ProcessCaptures(state, true); }
void BM_CapturesEveryFrameLogged(benchmark::State& state) { ProcessCaptures(state, false); }

void BM_CapturesChangesOnlyWithOverview(benchmark::State& state) { ProcessCaptures(state, true, true); }

BENCHMARK(BM_CapturesChangesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapturesChangesOnlyWithOverview)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecondReadingOverhead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CapturesEveryFrameLogged)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
