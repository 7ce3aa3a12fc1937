// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Trends: the monitored quantities over time, for the chart. Each series keeps the moments its value
// changed, in bounded memory however long the program runs:
//
//   - full resolution (every change, to the millisecond) for the last 24 hours before the newest
//     sample, in a ring of at most kDefaultFullCapacity samples per series (12 bytes each);
//   - before that, minimum, maximum and closing value per minute, in at most kDefaultBucketCapacity
//     buckets per series (12 bytes each). When a run outgrows them (91 days), neighbouring buckets
//     merge pairwise and the buckets cover two minutes, then four, and so on.
//
// So one series never takes more than SeriesCeilingBytes() (4.6 MiB with the defaults), whatever
// the run length and the bus rate; the eleven standard series stay under 50 MiB, and a store holds
// at most kMaxSeries series. A real bus polls
// one data ID about once a second, far below the ring's 3 changes a second over a day.
//
// Adding a sample costs O(1) amortised (plus O(1) per minute of time it closes). A query for a time
// range at a pixel resolution costs O(columns × log n) plus the buckets it covers, not the samples:
// runs of samples are summarised per block of 64.
//
// Not synchronised: use a store from one thread (the main thread for the window's live store).

#include "varmio/Monitor.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace varmio {

using TrendTime = std::chrono::sys_time<std::chrono::milliseconds>;

// What a series measures, for the chart's axes and bands.
enum class TrendKind : std::uint8_t {
    Temperature, // °C, the left axis
    Percent,     // %, the right axis
    State,       // 0 or 1, a band under the curves
    Other,       // any other decoded number
};

// How a frame's data value becomes a series' stored integer (its shown value is integer / Divisor).
enum class TrendReading : std::uint8_t {
    Tenths,       // unsigned f8.8 rounded to tenths, as the value boxes show it
    SignedTenths, // two's complement f8.8 rounded to tenths
    Bit,          // one bit of the data value (Bit), 0 or 1
    F88,          // signed f8.8, exact (Divisor 256)
    U16,
    S16,
    HighU8,
    LowU8,
    HighS8,
    LowS8,
};

// One series: its captions and the frames that feed it. A frame feeds the series when its data ID
// is DataId and bit MsgType of MsgTypes is set.
struct TrendSeriesInfo {
    std::string Key;     // ASCII, stable ("Ntc", "Flame", "id33")
    std::string Caption; // Czech, UTF-8
    std::string Unit;    // UTF-8 ("°C", "%"); empty for states
    TrendKind Kind = TrendKind::Other;
    double Divisor = 1.0; // shown value = stored integer / Divisor (exact k / 10 for tenths)
    std::uint8_t DataId = 0;
    std::uint8_t MsgTypes = 0;
    TrendReading Reading = TrendReading::U16;
    std::uint8_t Bit = 0;
};

// The integer a frame's data value gives under `reading` (bit is used by TrendReading::Bit).
std::int32_t ReadTrendValue(TrendReading reading, std::uint8_t bit, std::uint16_t dataValue);

// The standard series, in this order: the eight values of the record (fed exactly as the value
// boxes are: same data ID, same message type, same rounding), then the slave's flame,
// heating-active and hot-water-active bits (data ID 0 in READ-ACK frames).
enum StandardSeries : std::uint8_t {
    tsLcd,
    tsPt,
    tsTuv,
    tsNtc,
    tsModul,
    tsSTuv,
    tsPtPozadavek,
    tsVenku,
    tsFlame,
    tsHeating,
    tsHotWater,
};
inline constexpr std::size_t kStandardSeriesCount = 11;
const std::array<TrendSeriesInfo, kStandardSeriesCount>& StandardTrendSeries();

// The series a decoded data ID adds: one per number the protocol table gives it (a whole f8.8, a
// 16-bit count, or each numeric byte), fed by the answer a read gets (READ-ACK) or the value a
// write sends (WRITE-DATA), as the table says the thermostat uses the ID. None for the IDs the
// standard series already take, for flags and for IDs the table does not know. Made to be a
// TrendStore's SeriesResolver.
std::vector<TrendSeriesInfo> DecodedTrendSeries(std::uint8_t dataId);

// One point of a query's polyline. A NaN Value breaks the line: nothing is known from there until
// the next point (the bus was silent, or the series had no value yet).
struct TrendPoint {
    TrendTime Time;
    double Value;
};

// The value of a series at one moment: Min == Max at full resolution, the minute's range before.
struct TrendValue {
    double Min;
    double Max;
};

// The samples of one series. Values are integers in the series' units; kGap marks "unknown from
// here on".
class TrendSeries {
public:
    static constexpr std::int32_t kGap = std::numeric_limits<std::int32_t>::min();

    TrendSeries(std::size_t fullCapacity, std::size_t bucketCapacity);

    // Records `value` at `t` (ms since the epoch, never before the last sample) when it differs
    // from the value in effect. Returns whether a sample was added.
    bool Add(std::int64_t t, std::int32_t value);
    // Folds the samples whose time in effect ended at or before `horizon` into minute buckets.
    void Retire(std::int64_t horizon);

    bool Empty() const { return m_size == 0 && m_buckets.empty(); }
    std::int32_t Last() const { return m_size == 0 ? kGap : ValueAt(m_size - 1); }
    std::size_t FullSize() const { return m_size; }
    std::size_t BucketCount() const { return m_buckets.size(); }
    std::int64_t BucketWidth() const { return m_bucketWidth; }
    // Where full resolution begins: times before it are read from the buckets.
    std::int64_t FullStart() const { return m_size == 0 ? m_coarseEnd : TimeAt(0); }
    std::int64_t FirstTime() const;
    std::size_t MemoryBytes() const;

    // The value in effect at t, known or not; `end` is the last moment anything is known.
    std::optional<std::pair<std::int32_t, std::int32_t>> RangeAt(std::int64_t t, std::int64_t end) const;
    // Appends the polyline of [from, to] in `columns` columns to `out`, values / divisor; nothing is
    // drawn past `end`.
    void Query(std::int64_t from, std::int64_t to, int columns, std::int64_t end, double divisor,
               std::vector<TrendPoint>& out) const;

private:
    struct Bucket {
        std::int32_t Min = std::numeric_limits<std::int32_t>::max();
        std::int32_t Max = std::numeric_limits<std::int32_t>::min();
        std::int32_t Close = kGap; // the value in effect at the bucket's end
    };
    struct Block {
        std::int32_t Min = std::numeric_limits<std::int32_t>::max();
        std::int32_t Max = std::numeric_limits<std::int32_t>::min();
        bool HasGap = false;
    };
    static constexpr int kBlockShift = 6; // blocks of 64 samples

    std::size_t Physical(std::size_t i) const { return (m_head + i) & (m_times.size() - 1); }
    std::int64_t TimeAt(std::size_t i) const { return m_times[Physical(i)]; }
    std::int32_t ValueAt(std::size_t i) const { return m_values[Physical(i)]; }
    // The first logical index whose time is above (or not below) t.
    std::size_t UpperBound(std::int64_t t) const;
    std::size_t LowerBound(std::int64_t t) const;
    void Push(std::int64_t t, std::int32_t value);
    void PopFront();
    void Fold(std::int64_t from, std::int64_t to, std::int32_t value);
    void HalveBuckets();
    std::int64_t BucketIndex(std::int64_t t) const;
    Block& BlockOf(std::uint64_t seq) { return m_blocks[(seq >> kBlockShift) & (m_blocks.size() - 1)]; }
    const Block& BlockOf(std::uint64_t seq) const { return m_blocks[(seq >> kBlockShift) & (m_blocks.size() - 1)]; }
    // Widens `summary` by the logical samples from i0 up to the first break before i1; returns
    // where it stopped (the break's index, or i1).
    std::size_t Summary(std::size_t i0, std::size_t i1, Block& summary) const;
    void QueryBuckets(std::int64_t from, std::int64_t to, std::int64_t step, std::int64_t end, double divisor,
                      std::int32_t& current, std::vector<TrendPoint>& out) const;
    void QueryFull(std::int64_t from, std::int64_t to, std::int64_t step, std::int64_t end, double divisor,
                   std::int32_t& current, std::vector<TrendPoint>& out) const;

    std::size_t m_fullCapacity;
    std::size_t m_bucketCapacity;
    // Full resolution: a ring (power-of-two size, grown up to m_fullCapacity) of times and values.
    std::vector<std::int64_t> m_times;
    std::vector<std::int32_t> m_values;
    std::size_t m_head = 0;
    std::size_t m_size = 0;
    std::uint64_t m_firstSeq = 0; // the sequence number of logical sample 0
    std::vector<Block> m_blocks;  // per 64 sequence numbers, a ring
    // Before full resolution: buckets of m_bucketWidth from m_origin, up to m_coarseEnd.
    std::vector<Bucket> m_buckets;
    std::int64_t m_origin = 0;
    std::int64_t m_bucketWidth = 60'000;
    std::int64_t m_coarseEnd = std::numeric_limits<std::int64_t>::min();
};

// The store: the standard series plus any added ones, fed by frames or by samples.
class TrendStore {
public:
    static constexpr std::size_t kDefaultFullCapacity = std::size_t{1} << 18;
    static constexpr std::size_t kDefaultBucketCapacity = std::size_t{1} << 17;
    static constexpr std::chrono::hours kFullResolution{24};
    // A store holds at most this many series; a data ID offered beyond it is not recorded.
    static constexpr std::size_t kMaxSeries = 64;

    struct Options {
        // Silence on the bus longer than this breaks every line (0: never, as for a saved log, where
        // a missing line means nothing changed).
        std::chrono::milliseconds GapAfter{std::chrono::minutes(2)};
        std::size_t FullCapacity = kDefaultFullCapacity;
        std::size_t BucketCapacity = kDefaultBucketCapacity;
    };

    // Asked once per data ID that no series takes yet, at its first frame: the series to record
    // for it (none: the ID is not recorded). The hook through which decoded IDs become series.
    using SeriesResolver = std::function<std::vector<TrendSeriesInfo>(std::uint8_t dataId)>;

    TrendStore();
    explicit TrendStore(Options options);

    // One completed frame seen at `when`; a time before the last one counts as the last one.
    // Allocates only when a ring or the bucket list grows.
    void AddFrame(const Frame& frame, TrendTime when);
    // One value of a series at `when` (integer in the series' units), as a saved log gives it.
    void AddValue(std::size_t series, std::int32_t value, TrendTime when);
    // Moves the newest time on without a value (a log line that changed nothing recorded here).
    void Touch(TrendTime when);

    // Adds a series; returns its index, or nullopt when the store is full. Its first sample is the
    // next frame that feeds it.
    std::optional<std::size_t> AddSeries(TrendSeriesInfo info);
    void SetSeriesResolver(SeriesResolver resolver) { m_resolver = std::move(resolver); }

    std::size_t SeriesCount() const { return m_infos.size(); }
    const TrendSeriesInfo& Info(std::size_t series) const { return m_infos[series]; }
    const TrendSeries& Series(std::size_t series) const { return m_series[series]; }
    bool HasData() const { return m_hasTime; }
    // The first and last moments anything was recorded (meaningful when HasData).
    TrendTime FirstTime() const { return TrendTime(std::chrono::milliseconds(m_firstTime)); }
    TrendTime LastTime() const { return TrendTime(std::chrono::milliseconds(m_lastTime)); }

    // The series' polyline over [from, to] for a plot `columns` pixels wide: at most four points
    // per column plus the two ends; every column's minimum and maximum are among them. The second
    // form replaces the content of `out`, reusing its room.
    std::vector<TrendPoint> Query(std::size_t series, TrendTime from, TrendTime to, int columns) const;
    void Query(std::size_t series, TrendTime from, TrendTime to, int columns, std::vector<TrendPoint>& out) const;
    // The series' value at `when`; nullopt when nothing is known then.
    std::optional<TrendValue> ValueAt(std::size_t series, TrendTime when) const;

    std::size_t MemoryBytes() const;
    // The most one series can take with these options.
    static std::size_t SeriesCeilingBytes(const Options& options);

private:
    void Advance(std::int64_t t);
    void Resolve(std::uint8_t dataId);

    Options m_options;
    std::vector<TrendSeriesInfo> m_infos;
    std::vector<TrendSeries> m_series;
    std::array<std::vector<std::uint8_t>, 256> m_byDataId; // series fed by each data ID
    std::array<bool, 256> m_resolved{};
    SeriesResolver m_resolver;
    bool m_hasTime = false;
    std::int64_t m_firstTime = 0;
    std::int64_t m_lastTime = 0;
    std::int64_t m_nextRetire = 0;
};

} // namespace varmio
