// SPDX-License-Identifier: GPL-3.0-or-later
// The trend store: fed by the same rules as the value boxes, bounded over a month, and queries that
// keep every column's extremes.

#include "varmio/TrendStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

namespace varmio {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

const TrendTime kStart{std::chrono::sys_days{std::chrono::year{2026} / 12 / 7}};

Frame MakeFrame(int msgType, int dataId, int value)
{
    return Frame{static_cast<std::uint8_t>(msgType), static_cast<std::uint8_t>(dataId),
                 static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF), value & 0xFFFF};
}

double At(const TrendStore& store, std::size_t series, TrendTime t)
{
    const auto v = store.ValueAt(series, t);
    return v ? v->Max : NAN;
}

TEST(TrendStoreTest, FramesFeedTheSeriesByTheValueBoxesRulesAndOnlyChangesAreKept)
{
    TrendStore store;
    store.AddFrame(MakeFrame(kReadAck, 25, 0x2D80), kStart);                // 45.5
    store.AddFrame(MakeFrame(kReadAck, 25, 0x2D80), kStart + seconds(1));   // unchanged
    store.AddFrame(MakeFrame(kWriteData, 25, 0x1000), kStart + seconds(2)); // wrong type for 25
    store.AddFrame(MakeFrame(kReadAck, 27, 0xFFF3), kStart + seconds(3));   // signed: -0.1
    store.AddFrame(MakeFrame(kReadAck, 17, 0x00C0), kStart + seconds(4));   // halves toward zero: 0.7
    store.AddFrame(MakeFrame(kWriteData, 24, 0x1440), kStart + seconds(5)); // 20.25 -> 20.2
    store.AddFrame(MakeFrame(kReadAck, 0, 0x000A), kStart + seconds(6));    // heating and flame on
    store.AddFrame(MakeFrame(kReadData, 0, 0x0004), kStart + seconds(7));   // master status: no slave bits
    store.AddFrame(MakeFrame(kReadAck, 0, 0x0004), kStart + seconds(8));    // hot water only

    EXPECT_EQ(store.Series(tsNtc).FullSize(), 1u);
    EXPECT_DOUBLE_EQ(At(store, tsNtc, kStart + seconds(2)), 45.5);
    EXPECT_DOUBLE_EQ(At(store, tsVenku, kStart + seconds(3)), -0.1);
    EXPECT_DOUBLE_EQ(At(store, tsModul, kStart + seconds(4)), 0.7);
    EXPECT_DOUBLE_EQ(At(store, tsLcd, kStart + seconds(5)), 20.2);
    EXPECT_TRUE(std::isnan(At(store, tsLcd, kStart + seconds(4)))) << "no value before the first frame";
    EXPECT_EQ(At(store, tsFlame, kStart + seconds(7)), 1);
    EXPECT_EQ(At(store, tsHeating, kStart + seconds(7)), 1);
    EXPECT_EQ(At(store, tsHotWater, kStart + seconds(7)), 0);
    EXPECT_EQ(At(store, tsFlame, kStart + seconds(8)), 0);
    EXPECT_EQ(At(store, tsHotWater, kStart + seconds(8)), 1);
    EXPECT_TRUE(std::isnan(At(store, tsNtc, kStart + seconds(9)))) << "nothing is known after the last frame";
}

TEST(TrendStoreTest, SilenceBreaksTheLinesUnlessGapsAreOffAndTimeNeverRunsBack)
{
    TrendStore live;
    live.AddFrame(MakeFrame(kReadAck, 25, 40 * 256), kStart);
    live.AddFrame(MakeFrame(kReadAck, 25, 40 * 256), kStart + minutes(10));
    EXPECT_TRUE(std::isnan(At(live, tsNtc, kStart + minutes(5))));
    EXPECT_DOUBLE_EQ(At(live, tsNtc, kStart + minutes(10)), 40);
    const auto line = live.Query(tsNtc, kStart, kStart + minutes(10), 100);
    EXPECT_TRUE(std::any_of(line.begin(), line.end(), [](const TrendPoint& p) { return std::isnan(p.Value); }));

    TrendStore saved({.GapAfter = milliseconds(0)});
    saved.AddValue(tsNtc, 400, kStart);
    saved.AddValue(tsNtc, 410, kStart + minutes(10));
    saved.AddValue(tsNtc, 420, kStart + minutes(5)); // earlier than the last: taken as the last
    EXPECT_DOUBLE_EQ(At(saved, tsNtc, kStart + minutes(5)), 40);
    EXPECT_DOUBLE_EQ(At(saved, tsNtc, kStart + minutes(10)), 42);
    EXPECT_EQ(saved.LastTime(), kStart + minutes(10));
}

TEST(TrendStoreTest, RangesAtTheEdgesStartAndStopWhereTheDataDoes)
{
    TrendStore store;
    store.AddValue(tsPt, 500, kStart + minutes(1));
    store.AddValue(tsPt, 600, kStart + minutes(2));
    store.Touch(kStart + minutes(3));

    EXPECT_TRUE(store.Query(tsPt, kStart - hours(1), kStart, 50).empty());
    EXPECT_TRUE(store.Query(tsPt, kStart + minutes(4), kStart + minutes(5), 50).empty());
    EXPECT_TRUE(store.Query(tsNtc, kStart, kStart + minutes(5), 50).empty()) << "a series with no value";
    const auto line = store.Query(tsPt, kStart, kStart + hours(1), 1000);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.front().Time, kStart + minutes(1));
    EXPECT_EQ(line.front().Value, 50);
    EXPECT_EQ(line.back().Time, kStart + minutes(3));
    EXPECT_EQ(line.back().Value, 60);
    // A range that starts inside the data starts with the value in effect there.
    const auto inside = store.Query(tsPt, kStart + seconds(90), kStart + minutes(3), 10);
    EXPECT_EQ(inside.front().Time, kStart + seconds(90));
    EXPECT_EQ(inside.front().Value, 50);
    EXPECT_DOUBLE_EQ(At(store, tsPt, kStart + minutes(2) - milliseconds(1)), 50);
    EXPECT_DOUBLE_EQ(At(store, tsPt, kStart + minutes(2)), 60);
}

// The values a step function's line touches over [c0, c1): the one it arrives with (a change at c0
// itself is drawn as a vertical from the value before) and every change inside.
struct Reference {
    std::map<std::int64_t, double> steps; // time -> value (NaN: unknown from here)

    std::pair<double, double> Extremes(std::int64_t c0, std::int64_t c1) const
    {
        double lo = INFINITY, hi = -INFINITY;
        auto it = steps.upper_bound(c0 - 1);
        if (it != steps.begin() && !std::isnan(std::prev(it)->second)) lo = hi = std::prev(it)->second;
        for (; it != steps.end() && it->first < c1; ++it) {
            if (std::isnan(it->second)) continue;
            lo = std::min(lo, it->second);
            hi = std::max(hi, it->second);
        }
        return {lo, hi};
    }
};

TEST(TrendStoreTest, EveryColumnKeepsItsMinimumAndMaximumAtAFewPointsPerColumn)
{
    std::mt19937 random(7);
    TrendStore store;
    Reference reference;
    std::int64_t t = 0;
    std::int64_t previous = -1;
    for (int i = 0; i < 20'000; ++i) {
        t += std::uniform_int_distribution<int>(1, 3000)(random);
        // Now and then a silence long enough to break the line.
        if (i % 5000 == 4999) t += milliseconds(minutes(5)).count();
        int value = std::uniform_int_distribution<int>(0, 300)(random);
        if (i == 12'345) value = 5000; // a one-sample spike
        const TrendTime when = kStart + milliseconds(t);
        if (previous >= 0 && t - previous > milliseconds(minutes(2)).count())
            reference.steps[previous + 1] = NAN; // silence
        previous = t;
        store.AddValue(tsNtc, value, when);
        if (reference.steps.empty() || !(std::prev(reference.steps.end())->second == value / 10.0))
            reference.steps[t] = value / 10.0;
    }
    ASSERT_LT(t, milliseconds(hours(24)).count()) << "all of it at full resolution";
    const std::int64_t end = t;

    for (const int columns : {7, 100, 997, 5000}) {
        const std::int64_t from = std::uniform_int_distribution<std::int64_t>(0, end / 3)(random);
        const std::int64_t to = std::uniform_int_distribution<std::int64_t>(end / 2, end + 60'000)(random);
        const auto line = store.Query(tsNtc, kStart + milliseconds(from), kStart + milliseconds(to), columns);
        const std::int64_t step = (to - from + columns - 1) / columns;
        std::size_t p = 0;
        double carried = NAN; // the value the line carries into the column
        for (std::int64_t c0 = from; c0 < std::min(to, end); c0 += step) {
            const std::int64_t c1 = c0 + step;
            double lo = INFINITY, hi = -INFINITY;
            if (!std::isnan(carried)) lo = hi = carried;
            int count = 0;
            int breaks = 0;
            for (; p < line.size() && (line[p].Time - kStart).count() < c1; ++p, ++count) {
                carried = line[p].Value;
                breaks += std::isnan(carried);
                if (std::isnan(carried)) continue;
                lo = std::min(lo, carried);
                hi = std::max(hi, carried);
            }
            const auto [trueLo, trueHi] = reference.Extremes(c0, std::min(c1, std::min(to, end) + 1));
            ASSERT_EQ(lo, trueLo) << columns << " columns, column at " << c0;
            ASSERT_EQ(hi, trueHi) << columns << " columns, column at " << c0;
            // Four points, one more at either end of the range, five more for each break.
            ASSERT_LE(count, (c0 == from || c1 >= std::min(to, end) ? 5 : 4) + 5 * breaks);
        }
        if (columns < 1000) {
            EXPECT_TRUE(std::any_of(line.begin(), line.end(), [](const TrendPoint& q) { return q.Value == 500; }))
                << "the spike survives " << columns << " columns";
        }
    }
}

TEST(TrendStoreTest, AMonthOfABusyBusStaysBoundedWithMinutesBeforeTheLastDay)
{
    // Every second a frame; the boiler temperature changes at each of its frames, the flame toggles.
    TrendStore store;
    const int seconds30Days = 30 * 24 * 3600;
    for (int s = 0; s < seconds30Days; ++s) {
        const TrendTime when = kStart + seconds(s);
        switch (s % 4) {
        case 0: store.AddFrame(MakeFrame(kReadAck, 25, (40 + s % 7) * 256), when); break;
        case 1: store.AddFrame(MakeFrame(kReadAck, 0, (s / 4) % 2 == 0 ? 0x0A : 0x02), when); break;
        case 2: store.AddFrame(MakeFrame(kWriteData, 24, (20 + s % 3) * 256), when); break;
        default: store.AddFrame(MakeFrame(kReadAck, 17, (s % 100) * 256), when); break;
        }
    }
    const TrendSeries& ntc = store.Series(tsNtc);
    EXPECT_LE(ntc.FullSize(), 24u * 3600 / 4 + 16) << "full resolution only for the last day";
    EXPECT_GE(ntc.FullSize(), 24u * 3600 / 4 - 16);
    EXPECT_EQ(ntc.BucketWidth(), 60'000);
    EXPECT_NEAR(static_cast<double>(ntc.BucketCount()), 29 * 24 * 60, 2);
    EXPECT_LT(store.MemoryBytes(), 20u << 20);
    EXPECT_LT(store.MemoryBytes(), kStandardSeriesCount * TrendStore::SeriesCeilingBytes({}));

    // Two weeks back the minute shows the range the values took, the flame both ways.
    const TrendTime old = kStart + hours(24 * 14) + seconds(30);
    const auto ntcThen = store.ValueAt(tsNtc, old);
    ASSERT_TRUE(ntcThen);
    EXPECT_EQ(ntcThen->Min, 40);
    EXPECT_EQ(ntcThen->Max, 46);
    EXPECT_EQ(store.ValueAt(tsFlame, old)->Min, 0);
    EXPECT_EQ(store.ValueAt(tsFlame, old)->Max, 1);
    // The whole month in 800 columns: minutes, the last day's samples, a handful of points each.
    const auto line = store.Query(tsNtc, kStart, store.LastTime(), 800);
    EXPECT_LE(line.size(), 4u * 800 + 2);
    EXPECT_EQ(std::count_if(line.begin(), line.end(), [](const TrendPoint& p) { return p.Value == 46; }) > 700, true);
}

TEST(TrendStoreTest, AFloodBeyondTheCapacitiesFoldsEarlyAndMergesBucketsKeepingExtremes)
{
    TrendStore store({.FullCapacity = 256, .BucketCapacity = 64});
    // Ten changes a second for three hours: far beyond 256 samples and 64 one-minute buckets.
    for (int i = 0; i < 3 * 3600 * 10; ++i) {
        const int value = i == 50'000 ? -999 : i % 10;
        store.AddValue(tsVenku, value, kStart + milliseconds(i * 100));
    }
    const TrendSeries& venku = store.Series(tsVenku);
    EXPECT_LE(venku.FullSize(), 256u);
    EXPECT_LE(venku.BucketCount(), 64u);
    EXPECT_EQ(venku.BucketWidth(), 4 * 60'000) << "180 minutes in at most 64 buckets";
    EXPECT_LE(store.MemoryBytes(),
              kStandardSeriesCount * TrendStore::SeriesCeilingBytes({.FullCapacity = 256, .BucketCapacity = 64}));
    const auto line = store.Query(tsVenku, kStart, store.LastTime(), 30);
    const auto [lo, hi] = std::minmax_element(
        line.begin(), line.end(), [](const TrendPoint& a, const TrendPoint& b) { return a.Value < b.Value; });
    EXPECT_DOUBLE_EQ(lo->Value, -99.9) << "the spike folded into a bucket is still drawn";
    EXPECT_DOUBLE_EQ(hi->Value, 0.9);
}

TEST(TrendStoreTest, TheResolverIsAskedOncePerDataIdAndItsSeriesAreFed)
{
    TrendStore store;
    int asked = 0;
    store.SetSeriesResolver([&asked](std::uint8_t dataId) {
        ++asked;
        std::vector<TrendSeriesInfo> infos;
        if (dataId == 28) // return water temperature, exact f8.8
            infos.push_back({"id28", "Zpátečka (28)", "°C", TrendKind::Temperature, 256.0, 0, 1u << kReadAck,
                             TrendReading::F88, 0});
        return infos;
    });
    store.AddFrame(MakeFrame(kReadAck, 28, 0x2A40), kStart);
    store.AddFrame(MakeFrame(kReadAck, 28, 0x2B00), kStart + seconds(1));
    store.AddFrame(MakeFrame(kReadAck, 99, 1), kStart + seconds(2));
    store.AddFrame(MakeFrame(kReadAck, 99, 2), kStart + seconds(3));
    EXPECT_EQ(asked, 2);
    ASSERT_EQ(store.SeriesCount(), kStandardSeriesCount + 1);
    EXPECT_EQ(store.Info(kStandardSeriesCount).DataId, 28);
    EXPECT_DOUBLE_EQ(At(store, kStandardSeriesCount, kStart), 42.25);
    EXPECT_DOUBLE_EQ(At(store, kStandardSeriesCount, kStart + seconds(1)), 43);
}

TEST(DecodedTrendSeriesTest, NumbersOfTheTableBecomeSeriesButNotTheStandardOnesOrFlags)
{
    const auto ret = DecodedTrendSeries(28); // read: an f8.8 in READ-ACK answers
    ASSERT_EQ(ret.size(), 1u);
    EXPECT_EQ(ret[0].Reading, TrendReading::F88);
    EXPECT_EQ(ret[0].MsgTypes, 1u << kReadAck);
    EXPECT_EQ(ret[0].Kind, TrendKind::Temperature);
    EXPECT_EQ(DecodedTrendSeries(14).at(0).MsgTypes, 1u << kWriteData); // written by the thermostat
    EXPECT_TRUE(DecodedTrendSeries(25).empty()) << "a standard series takes it";
    EXPECT_TRUE(DecodedTrendSeries(0).empty()) << "flags";
    EXPECT_TRUE(DecodedTrendSeries(200).empty()) << "unknown to the table";
    for (int id = 0; id < 256; ++id) {
        for (const TrendSeriesInfo& info : DecodedTrendSeries(static_cast<std::uint8_t>(id))) {
            EXPECT_NE(info.MsgTypes, 0) << id;
            EXPECT_FALSE(info.Caption.empty()) << id;
        }
    }
}

} // namespace
} // namespace varmio
