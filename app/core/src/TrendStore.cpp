// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/TrendStore.h"

#include "varmio/OpenTherm.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace varmio {
namespace {

constexpr std::int64_t kMinute = 60'000;
constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

std::size_t PowerOfTwoAtLeast(std::size_t n, std::size_t least) { return std::bit_ceil(std::max(n, least)); }

std::int64_t Ms(TrendTime t) { return t.time_since_epoch().count(); }
TrendTime FromMs(std::int64_t ms) { return TrendTime(std::chrono::milliseconds(ms)); }

// Builds a polyline, leaving out points that repeat the one before.
class Polyline {
public:
    Polyline(std::vector<TrendPoint>& out, double divisor) : m_out(out), m_divisor(divisor) {}

    void Point(std::int64_t t, std::int32_t value)
    {
        if (value == TrendSeries::kGap) {
            Break(t);
            return;
        }
        const double v = value / m_divisor;
        if (!m_out.empty() && Ms(m_out.back().Time) == t && m_out.back().Value == v) return;
        m_out.push_back({FromMs(t), v});
    }
    void Break(std::int64_t t)
    {
        if (m_out.empty() || std::isnan(m_out.back().Value)) return;
        m_out.push_back({FromMs(t), kNoValue});
    }

private:
    std::vector<TrendPoint>& m_out;
    double m_divisor;
};

// Emits a column (or bucket group) that holds several values: the value it came in with and its two
// extremes (the nearer one first, so the line does not cross the column twice) at `t`, and the value
// it left with at `closeTime`.
void EmitRange(Polyline& line, std::int64_t t, std::int32_t current, std::int32_t min, std::int32_t max,
               std::int32_t close, std::int64_t closeTime)
{
    if (current != TrendSeries::kGap) line.Point(t, current);
    const bool minFirst =
        current == TrendSeries::kGap || std::abs(std::int64_t{current} - min) <= std::abs(std::int64_t{current} - max);
    line.Point(t, minFirst ? min : max);
    line.Point(t, minFirst ? max : min);
    line.Point(closeTime, close);
}

} // namespace

std::int32_t ReadTrendValue(TrendReading reading, std::uint8_t bit, std::uint16_t dataValue)
{
    switch (reading) {
    case TrendReading::Tenths: return FixedToTenthsInt(dataValue, false);
    case TrendReading::SignedTenths: return FixedToTenthsInt(dataValue, true);
    case TrendReading::Bit: return (dataValue >> (bit & 15)) & 1;
    case TrendReading::F88:
    case TrendReading::S16: return static_cast<std::int16_t>(dataValue);
    case TrendReading::U16: return dataValue;
    case TrendReading::HighU8: return dataValue >> 8;
    case TrendReading::LowU8: return dataValue & 0xFF;
    case TrendReading::HighS8: return static_cast<std::int8_t>(dataValue >> 8);
    case TrendReading::LowS8: return static_cast<std::int8_t>(dataValue & 0xFF);
    }
    return 0;
}

const std::array<TrendSeriesInfo, kStandardSeriesCount>& StandardTrendSeries()
{
    static const std::array<TrendSeriesInfo, kStandardSeriesCount> series = [] {
        // Keys are the record log's column names; captions those of the value boxes and check lists.
        constexpr std::array<std::string_view, 8> keys{"Lcd",   "Pt",   "Tuv",         "Ntc",
                                                       "Modul", "STuv", "PtPozadavek", "Venku"};
        constexpr std::array<std::string_view, 8> captions{
            "LCD Aktuální (24)", "Výstup do PT (1)",     "TUV k dispozici (26)", "Výstup z komory (25)",
            "Modulace (17)",     "Start ohřev TUV (56)", "Požadavek PT (16)",    "Venkovní T (27)"};
        std::array<TrendSeriesInfo, kStandardSeriesCount> all;
        for (std::size_t i = 0; i < kValueSlots.size(); ++i) {
            const ValueSlot& slot = kValueSlots[i];
            const bool percent = i == tsModul;
            all[i] = {std::string(keys[i]),
                      std::string(captions[i]),
                      percent ? "%" : "°C",
                      percent ? TrendKind::Percent : TrendKind::Temperature,
                      10.0,
                      slot.DataId,
                      static_cast<std::uint8_t>(1u << slot.MsgType),
                      slot.Signed ? TrendReading::SignedTenths : TrendReading::Tenths,
                      0};
        }
        // The slave status flags of data ID 0 in READ-ACK frames, the bits the check list shows.
        const auto state = [](const char* key, const char* caption, std::uint8_t bit) {
            return TrendSeriesInfo{key,
                                   caption,
                                   "",
                                   TrendKind::State,
                                   1.0,
                                   0,
                                   static_cast<std::uint8_t>(1u << kReadAck),
                                   TrendReading::Bit,
                                   bit};
        };
        all[tsFlame] = state("Flame", "Plamen aktivní", 3);
        all[tsHeating] = state("Heating", "Topení aktivní", 1);
        all[tsHotWater] = state("HotWater", "TUV aktivní", 2);
        return all;
    }();
    return series;
}

std::vector<TrendSeriesInfo> DecodedTrendSeries(std::uint8_t dataId)
{
    std::vector<TrendSeriesInfo> infos;
    const DataIdInfo* info = FindDataId(dataId);
    if (info == nullptr) return infos;
    for (const TrendSeriesInfo& standard : StandardTrendSeries()) {
        if (standard.DataId == dataId) return infos;
    }
    std::uint8_t types = 0;
    if (info->Dir != Access::Write) types |= 1u << kReadAck;
    if (info->Dir != Access::Read) types |= 1u << kWriteData;
    const std::string id = std::to_string(dataId);
    const auto add = [&](const FieldInfo& field, TrendReading reading, double divisor, const char* part) {
        const std::string_view what = field.Caption.empty() ? info->Description : field.Caption;
        const TrendKind kind = field.Unit == "°C"  ? TrendKind::Temperature
                               : field.Unit == "%" ? TrendKind::Percent
                                                   : TrendKind::Other;
        infos.push_back({"id" + id + part, std::string(what) + " (" + id + ")", std::string(field.Unit), kind, divisor,
                         dataId, types, reading, 0});
    };
    switch (info->High.Type) {
    case ValueType::F88: add(info->High, TrendReading::F88, 256.0, ""); return infos;
    case ValueType::U16: add(info->High, TrendReading::U16, 1.0, ""); return infos;
    case ValueType::S16: add(info->High, TrendReading::S16, 1.0, ""); return infos;
    case ValueType::U8: add(info->High, TrendReading::HighU8, 1.0, "hi"); break;
    case ValueType::S8: add(info->High, TrendReading::HighS8, 1.0, "hi"); break;
    default: break;
    }
    if (info->Low.Type == ValueType::U8) add(info->Low, TrendReading::LowU8, 1.0, "lo");
    if (info->Low.Type == ValueType::S8) add(info->Low, TrendReading::LowS8, 1.0, "lo");
    return infos;
}

// ---- TrendSeries -----------------------------------------------------------------------------

TrendSeries::TrendSeries(std::size_t fullCapacity, std::size_t bucketCapacity)
    : m_fullCapacity(PowerOfTwoAtLeast(fullCapacity, 2)), m_bucketCapacity(std::max<std::size_t>(bucketCapacity, 2))
{
}

bool TrendSeries::Add(std::int64_t t, std::int32_t value)
{
    if (value == Last()) return false; // nothing changed (a gap before any value included)
    if (m_size == m_fullCapacity) {
        // A bus faster than the ring: its oldest samples go to the buckets early.
        Fold(TimeAt(0), TimeAt(1), ValueAt(0));
        PopFront();
    }
    Push(t, value);
    return true;
}

void TrendSeries::Push(std::int64_t t, std::int32_t value)
{
    if (m_size == m_times.size()) {
        // Grow the ring (doubling, up to the capacity) and lay it out from index 0 again.
        const std::size_t size = std::min(m_fullCapacity, PowerOfTwoAtLeast(m_times.size() * 2, 64));
        std::vector<std::int64_t> times(size);
        std::vector<std::int32_t> values(size);
        for (std::size_t i = 0; i < m_size; ++i) {
            times[i] = TimeAt(i);
            values[i] = ValueAt(i);
        }
        m_times = std::move(times);
        m_values = std::move(values);
        m_head = 0;
        m_blocks.assign(PowerOfTwoAtLeast((size >> kBlockShift) + 2, 2), Block{});
        for (std::size_t i = 0; i < m_size; ++i) {
            Block& block = BlockOf(m_firstSeq + i);
            const std::int32_t v = ValueAt(i);
            if (v == kGap) block.HasGap = true;
            else block.Min = std::min(block.Min, v), block.Max = std::max(block.Max, v);
        }
    }
    const std::uint64_t seq = m_firstSeq + m_size;
    const std::size_t at = Physical(m_size);
    m_times[at] = t;
    m_values[at] = value;
    ++m_size;
    Block& block = BlockOf(seq);
    if ((seq & ((1u << kBlockShift) - 1)) == 0) block = Block{};
    if (value == kGap) {
        block.HasGap = true;
    } else {
        block.Min = std::min(block.Min, value);
        block.Max = std::max(block.Max, value);
    }
}

void TrendSeries::PopFront()
{
    m_head = (m_head + 1) & (m_times.size() - 1);
    --m_size;
    ++m_firstSeq;
}

void TrendSeries::Retire(std::int64_t horizon)
{
    // The last sample always stays: its value is still in effect, its end unknown.
    while (m_size >= 2 && TimeAt(1) <= horizon) {
        Fold(TimeAt(0), TimeAt(1), ValueAt(0));
        PopFront();
    }
}

std::int64_t TrendSeries::BucketIndex(std::int64_t t) const { return FloorDiv(t - m_origin, m_bucketWidth); }

void TrendSeries::HalveBuckets()
{
    const std::size_t merged = (m_buckets.size() + 1) / 2;
    for (std::size_t j = 0; j < merged; ++j) {
        Bucket bucket = m_buckets[2 * j];
        if (2 * j + 1 < m_buckets.size()) {
            const Bucket& second = m_buckets[2 * j + 1];
            bucket.Min = std::min(bucket.Min, second.Min);
            bucket.Max = std::max(bucket.Max, second.Max);
            bucket.Close = second.Close;
        }
        m_buckets[j] = bucket;
    }
    m_buckets.resize(merged);
    m_bucketWidth *= 2;
}

void TrendSeries::Fold(std::int64_t from, std::int64_t to, std::int32_t value)
{
    if (m_buckets.empty()) m_origin = FloorDiv(from, kMinute) * kMinute;
    // A value that lasted no time at all (two samples in one millisecond) still counts in its bucket.
    const std::int64_t lastMoment = to > from ? to - 1 : from;
    while (BucketIndex(lastMoment) >= static_cast<std::int64_t>(m_bucketCapacity)) HalveBuckets();
    const auto first = static_cast<std::size_t>(BucketIndex(from));
    const auto last = static_cast<std::size_t>(BucketIndex(lastMoment));
    if (m_buckets.size() <= last) m_buckets.resize(last + 1);
    for (std::size_t k = first; k <= last; ++k) {
        Bucket& bucket = m_buckets[k];
        if (value != kGap) {
            bucket.Min = std::min(bucket.Min, value);
            bucket.Max = std::max(bucket.Max, value);
        }
        bucket.Close = value;
    }
    m_coarseEnd = to;
}

std::int64_t TrendSeries::FirstTime() const
{
    if (!m_buckets.empty()) return m_origin;
    return m_size == 0 ? 0 : TimeAt(0);
}

std::size_t TrendSeries::MemoryBytes() const
{
    return sizeof *this + m_times.capacity() * sizeof(std::int64_t) + m_values.capacity() * sizeof(std::int32_t) +
           m_blocks.capacity() * sizeof(Block) + m_buckets.capacity() * sizeof(Bucket);
}

std::size_t TrendSeries::UpperBound(std::int64_t t) const
{
    std::size_t lo = 0, hi = m_size;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (TimeAt(mid) <= t) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

std::size_t TrendSeries::LowerBound(std::int64_t t) const
{
    std::size_t lo = 0, hi = m_size;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (TimeAt(mid) < t) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

std::optional<std::pair<std::int32_t, std::int32_t>> TrendSeries::RangeAt(std::int64_t t, std::int64_t end) const
{
    if (t > end) return std::nullopt;
    if (m_size > 0 && t >= TimeAt(0)) {
        const std::int32_t v = ValueAt(UpperBound(t) - 1);
        if (v == kGap) return std::nullopt;
        return std::pair{v, v};
    }
    if (m_buckets.empty() || t < m_origin || t >= m_coarseEnd) return std::nullopt;
    const Bucket& bucket = m_buckets[static_cast<std::size_t>(BucketIndex(t))];
    if (bucket.Min > bucket.Max) return std::nullopt;
    return std::pair{bucket.Min, bucket.Max};
}

std::size_t TrendSeries::Summary(std::size_t i0, std::size_t i1, Block& summary) const
{
    constexpr std::uint64_t kBlock = std::uint64_t{1} << kBlockShift;
    std::uint64_t s = m_firstSeq + i0;
    const std::uint64_t end = m_firstSeq + i1;
    while (s < end) {
        if ((s & (kBlock - 1)) == 0 && s + kBlock <= end && !BlockOf(s).HasGap) {
            // A whole block, all of it still in the ring: its summary stands for its 64 samples.
            const Block& block = BlockOf(s);
            summary.Min = std::min(summary.Min, block.Min);
            summary.Max = std::max(summary.Max, block.Max);
            s += kBlock;
            continue;
        }
        const std::int32_t v = ValueAt(static_cast<std::size_t>(s - m_firstSeq));
        if (v == kGap) break;
        summary.Min = std::min(summary.Min, v);
        summary.Max = std::max(summary.Max, v);
        ++s;
    }
    return static_cast<std::size_t>(s - m_firstSeq);
}

void TrendSeries::QueryBuckets(std::int64_t from, std::int64_t to, std::int64_t step, std::int64_t end, double divisor,
                               std::int32_t& current, std::vector<TrendPoint>& out) const
{
    Polyline line(out, divisor);
    const std::int64_t stop = std::min({to, end, m_coarseEnd});
    if (m_buckets.empty() || stop < from) return;
    std::int64_t k = std::max<std::int64_t>(0, BucketIndex(from));
    const std::int64_t lastBucket =
        std::min<std::int64_t>(BucketIndex(stop), static_cast<std::int64_t>(m_buckets.size()) - 1);
    while (k <= lastBucket) {
        // A group: the buckets that start in one column (or one bucket, when buckets are wider).
        const std::int64_t start = std::max(from, m_origin + k * m_bucketWidth);
        const std::int64_t column = (start - from) / step;
        const std::int64_t columnEnd = from + (column + 1) * step;
        Bucket group;
        bool first = true;
        while (k <= lastBucket && (first || m_origin + k * m_bucketWidth < columnEnd)) {
            const Bucket& bucket = m_buckets[static_cast<std::size_t>(k)];
            group.Min = std::min(group.Min, bucket.Min);
            group.Max = std::max(group.Max, bucket.Max);
            group.Close = bucket.Close;
            first = false;
            ++k;
        }
        if (group.Min > group.Max) { // nothing known in the whole group
            if (current != kGap) line.Point(start, current);
            line.Break(start);
        } else if (group.Min != group.Max || group.Min != current || group.Close != current) {
            EmitRange(line, start, current, group.Min, group.Max, group.Close, start);
        }
        current = group.Close;
    }
}

void TrendSeries::QueryFull(std::int64_t from, std::int64_t to, std::int64_t step, std::int64_t end, double divisor,
                            std::int32_t& current, std::vector<TrendPoint>& out) const
{
    Polyline line(out, divisor);
    const std::int64_t stop = std::min(to, end);
    // The sample in effect at `from` is already `current`; full resolution may also begin later.
    std::size_t i = from >= TimeAt(0) ? UpperBound(from) : 0;
    const std::size_t last = UpperBound(stop);
    while (i < last) {
        const std::int64_t column = (TimeAt(i) - from) / step;
        const std::size_t next = std::min(last, LowerBound(from + (column + 1) * step));
        while (i < next) {
            // The run of samples up to the next break is drawn as one; the break on its own.
            Block summary;
            const std::size_t gap = Summary(i, next, summary);
            if (gap - i <= 2) {
                // Few changes: every corner of the steps, exactly.
                for (; i < gap; ++i) {
                    if (current != kGap) line.Point(TimeAt(i), current);
                    current = ValueAt(i);
                    line.Point(TimeAt(i), current);
                }
            } else {
                // The value it left with goes where the run's last change happened.
                const std::int32_t close = ValueAt(gap - 1);
                EmitRange(line, TimeAt(i), current, summary.Min, summary.Max, close, TimeAt(gap - 1));
                current = close;
                i = gap;
            }
            if (i < next) { // the break itself
                if (current != kGap) line.Point(TimeAt(i), current);
                current = kGap;
                line.Break(TimeAt(i));
                ++i;
            }
        }
    }
}

void TrendSeries::Query(std::int64_t from, std::int64_t to, int columns, std::int64_t end, double divisor,
                        std::vector<TrendPoint>& out) const
{
    if (to <= from || from > end || Empty()) return;
    const std::int64_t step = std::max<std::int64_t>(1, (to - from + columns - 1) / std::max(columns, 1));
    const std::int64_t stop = std::min(to, end);
    Polyline line(out, divisor);

    // The value in effect where the range begins.
    std::int32_t current = kGap;
    if (m_size > 0 && from >= TimeAt(0)) {
        current = ValueAt(UpperBound(from) - 1);
    } else if (!m_buckets.empty() && from >= m_origin && from < m_coarseEnd) {
        const Bucket& bucket = m_buckets[static_cast<std::size_t>(BucketIndex(from))];
        // Within a bucket only its range is known: start from its nearer end, the range follows.
        current = bucket.Min > bucket.Max ? kGap : bucket.Min;
    }
    if (current != kGap) line.Point(from, current);

    if (from < m_coarseEnd) QueryBuckets(from, to, step, end, divisor, current, out);
    if (m_size > 0 && stop >= TimeAt(0)) QueryFull(from, to, step, end, divisor, current, out);
    if (current != kGap) line.Point(stop, current);
}

// ---- TrendStore ------------------------------------------------------------------------------

TrendStore::TrendStore() : TrendStore(Options{}) {}

TrendStore::TrendStore(Options options) : m_options(options)
{
    m_infos.reserve(kMaxSeries);
    m_series.reserve(kMaxSeries);
    for (const TrendSeriesInfo& info : StandardTrendSeries()) AddSeries(info);
}

std::optional<std::size_t> TrendStore::AddSeries(TrendSeriesInfo info)
{
    if (m_infos.size() >= kMaxSeries) return std::nullopt;
    const std::size_t index = m_infos.size();
    m_byDataId[info.DataId].push_back(static_cast<std::uint8_t>(index));
    m_infos.push_back(std::move(info));
    m_series.emplace_back(m_options.FullCapacity, m_options.BucketCapacity);
    return index;
}

void TrendStore::Advance(std::int64_t t)
{
    if (!m_hasTime) {
        m_hasTime = true;
        m_firstTime = m_lastTime = t;
        m_nextRetire = t + kMinute;
        return;
    }
    // Silence on the bus: nothing is known between the last frame and this one.
    if (m_options.GapAfter.count() > 0 && t - m_lastTime > m_options.GapAfter.count()) {
        for (TrendSeries& series : m_series) series.Add(m_lastTime + 1, TrendSeries::kGap);
    }
    m_lastTime = t;
    if (t >= m_nextRetire) {
        const std::int64_t horizon = t - std::chrono::duration_cast<std::chrono::milliseconds>(kFullResolution).count();
        for (TrendSeries& series : m_series) series.Retire(horizon);
        m_nextRetire = t + kMinute;
    }
}

void TrendStore::Resolve(std::uint8_t dataId)
{
    m_resolved[dataId] = true;
    if (!m_resolver) return;
    for (TrendSeriesInfo& info : m_resolver(dataId)) {
        info.DataId = dataId;
        if (!AddSeries(std::move(info))) break;
    }
}

void TrendStore::AddFrame(const Frame& frame, TrendTime when)
{
    const std::int64_t t = m_hasTime ? std::max(Ms(when), m_lastTime) : Ms(when);
    Advance(t);
    if (!m_resolved[frame.DataId]) Resolve(frame.DataId);
    const auto raw = static_cast<std::uint16_t>(frame.DataValue);
    for (const std::uint8_t index : m_byDataId[frame.DataId]) {
        const TrendSeriesInfo& info = m_infos[index];
        if (frame.MsgType > 7 || (info.MsgTypes & (1u << frame.MsgType)) == 0) continue;
        m_series[index].Add(t, ReadTrendValue(info.Reading, info.Bit, raw));
    }
}

void TrendStore::AddValue(std::size_t series, std::int32_t value, TrendTime when)
{
    Touch(when);
    m_series[series].Add(m_lastTime, value);
}

void TrendStore::Touch(TrendTime when) { Advance(m_hasTime ? std::max(Ms(when), m_lastTime) : Ms(when)); }

void TrendStore::Query(std::size_t series, TrendTime from, TrendTime to, int columns,
                       std::vector<TrendPoint>& out) const
{
    out.clear();
    if (!m_hasTime) return;
    m_series[series].Query(Ms(from), Ms(to), columns, m_lastTime, m_infos[series].Divisor, out);
}

std::vector<TrendPoint> TrendStore::Query(std::size_t series, TrendTime from, TrendTime to, int columns) const
{
    std::vector<TrendPoint> out;
    Query(series, from, to, columns, out);
    return out;
}

std::optional<TrendValue> TrendStore::ValueAt(std::size_t series, TrendTime when) const
{
    if (!m_hasTime) return std::nullopt;
    const auto range = m_series[series].RangeAt(Ms(when), m_lastTime);
    if (!range) return std::nullopt;
    const double divisor = m_infos[series].Divisor;
    return TrendValue{range->first / divisor, range->second / divisor};
}

std::size_t TrendStore::MemoryBytes() const
{
    std::size_t bytes = sizeof *this;
    for (const TrendSeries& series : m_series) bytes += series.MemoryBytes();
    for (const TrendSeriesInfo& info : m_infos)
        bytes += sizeof info + info.Key.capacity() + info.Caption.capacity() + info.Unit.capacity();
    for (const auto& list : m_byDataId) bytes += list.capacity();
    return bytes;
}

std::size_t TrendStore::SeriesCeilingBytes(const Options& options)
{
    const std::size_t ring = PowerOfTwoAtLeast(options.FullCapacity, 2);
    const std::size_t blocks = PowerOfTwoAtLeast((ring >> 6) + 2, 2);
    return sizeof(TrendSeries) + sizeof(TrendSeriesInfo) + 64 + ring * (sizeof(std::int64_t) + sizeof(std::int32_t)) +
           blocks * 12 + std::max<std::size_t>(options.BucketCapacity, 2) * 12;
}

} // namespace varmio
