// Frames per second through ProcessFrameByte, with value decoding, record building and the change
// filter, on the real captures; and the heap allocations per frame (to be 0).

#include "CountingNew.h"
#include "varmio/Monitor.h"

#include <benchmark/benchmark.h>

#include <array>
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
    bool IsChecked(StatusList list, int item) const override { return m_checks[Index(list)][static_cast<std::size_t>(item)]; }
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
    static std::size_t Index(StatusList list) { return list == StatusList::CheckListBox1 ? 0 : 1; }
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

void ProcessCaptures(benchmark::State& state, bool changesOnly)
{
    const std::vector<std::uint8_t>& bytes = Captures();
    if (bytes.empty()) {
        state.SkipWithError("no captures found");
        return;
    }
    BenchDisplay display;
    display.changesOnly = changesOnly;
    Monitor monitor(display, Regional{});
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

void BM_CapturesChangesOnly(benchmark::State& state) { ProcessCaptures(state, true); }
void BM_CapturesEveryFrameLogged(benchmark::State& state) { ProcessCaptures(state, false); }

BENCHMARK(BM_CapturesChangesOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CapturesEveryFrameLogged)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
