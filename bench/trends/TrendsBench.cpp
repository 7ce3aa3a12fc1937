// SPDX-License-Identifier: GPL-3.0-or-later
// The trend store's costs: adding a frame (steady state, with a day of history being folded into
// minutes), the monitor core's frame rate with and without the store fed from its frames, and a
// 24-hour query at 1000 columns over 1 000 and over 1 000 000 samples (to cost about the same: the
// cost follows the columns, not the history). With the window built, the chart's full redraw of
// the same two views (query, series, rendering) is measured too.

#include "varmio/Monitor.h"
#include "varmio/TrendStore.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>

#ifdef VARMIO_BENCH_CHART
#include "varmio/TrendChart.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#endif

namespace {

using namespace varmio;
using std::chrono::milliseconds;

const TrendTime kStart{std::chrono::sys_days{std::chrono::year{2026} / 12 / 7}};

Frame MakeFrame(std::uint8_t msgType, std::uint8_t dataId, int value)
{
    return Frame{msgType, dataId, static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF),
                 value & 0xFFFF};
}

// A busy bus: a frame every 100 ms, every one changing its series.
Frame BusyFrame(std::int64_t i)
{
    switch (i % 4) {
    case 0: return MakeFrame(kReadAck, 25, static_cast<int>(0x2800 + (i * 37) % 0x800));
    case 1: return MakeFrame(kReadAck, 0, (i / 4) % 2 == 0 ? 0x0A : 0x02);
    case 2: return MakeFrame(kWriteData, 24, static_cast<int>(0x1400 + (i * 13) % 0x200));
    default: return MakeFrame(kReadAck, 17, static_cast<int>((i * 7) % 0x6400));
    }
}

void BM_AddFrame(benchmark::State& state)
{
    TrendStore store;
    std::int64_t i = 0;
    // Two days first, so that every added frame also pushes the oldest ones into minutes.
    for (; i < 2 * 864'000; ++i) store.AddFrame(BusyFrame(i), kStart + milliseconds(i * 100));
    for (auto _ : state) {
        store.AddFrame(BusyFrame(i), kStart + milliseconds(i * 100));
        ++i;
    }
    state.counters["MiB"] = static_cast<double>(store.MemoryBytes()) / (1 << 20);
}
BENCHMARK(BM_AddFrame);

// The core with a display that only keeps the check marks; the store, when fed, hangs on the
// frame hook as in the window.
class BenchDisplay : public IDisplay {
public:
    void SetBoxText(Box, std::string_view text) override { benchmark::DoNotOptimize(text.data()); }
    bool IsChecked(StatusList list, int item) const override
    {
        return m_checks[static_cast<std::size_t>(list)][static_cast<std::size_t>(item)];
    }
    void SetChecked(StatusList list, int item, bool checked) override
    {
        m_checks[static_cast<std::size_t>(list)][static_cast<std::size_t>(item)] = checked;
    }
    void AppendRawLog(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
    void AppendRecordLog(std::string_view line) override { benchmark::DoNotOptimize(line.data()); }
    bool ChangesOnly() const override { return true; }
    std::string_view DateTimeText() const override { return "7.12.2026; 13:05:20"; }

private:
    std::array<std::array<bool, 8>, 2> m_checks{};
};

void BM_CoreFrames(benchmark::State& state)
{
    const bool withTrends = state.range(0) != 0;
    BenchDisplay display;
    Monitor monitor(display, Regional{});
    TrendStore store;
    TrendTime now = kStart;
    if (withTrends) monitor.SetOnFrame([&store, &now](const Frame& frame) { store.AddFrame(frame, now); });
    std::int64_t i = 0;
    for (auto _ : state) {
        const Frame frame = BusyFrame(i++);
        now += milliseconds(100);
        for (const int b :
             {0x35, 0x35, 0x35, int{frame.MsgType}, int{frame.DataId}, int{frame.ValueHigh}, int{frame.ValueLow}})
            monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CoreFrames)->Arg(0)->Arg(1)->ArgName("trends");

// One series with `samples` changes spread over the last 24 hours.
TrendStore DayOf(std::int64_t samples)
{
    TrendStore store;
    const std::int64_t day = 24 * 3600 * 1000;
    for (std::int64_t i = 0; i < samples; ++i)
        store.AddValue(tsNtc, static_cast<std::int32_t>(400 + (i * 7919) % 200),
                       kStart + milliseconds(i * day / samples));
    return store;
}

void BM_Query24h(benchmark::State& state)
{
    const TrendStore store = DayOf(state.range(0));
    std::vector<TrendPoint> points;
    for (auto _ : state) {
        store.Query(tsNtc, store.FirstTime(), store.LastTime(), 1000, points);
        benchmark::DoNotOptimize(points.data());
    }
    state.counters["points"] = static_cast<double>(points.size());
}
BENCHMARK(BM_Query24h)->Arg(1000)->Arg(1'000'000)->ArgName("samples")->Unit(benchmark::kMicrosecond);

#ifdef VARMIO_BENCH_CHART
// The chart's whole redraw of a 24-hour view: every series queried, handed to the chart, painted.
void BM_ChartRedraw24h(benchmark::State& state)
{
    TrendStore store = DayOf(state.range(0));
    TrendChart chart(store, Regional{});
    chart.resize(1200, 600);
    chart.ShowRange(store.FirstTime(), store.LastTime());
    QImage image(1200, 600, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        chart.Refresh();
        QPainter painter(&image);
        chart.Render(painter, image.rect());
    }
}
BENCHMARK(BM_ChartRedraw24h)->Arg(1000)->Arg(1'000'000)->ArgName("samples")->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef VARMIO_BENCH_CHART
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
#endif
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
