// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's session: what goes to the output stream, and the date-time text kept like the
// window's clock, driven by an injected clock.

#include "LogSession.h"
#include "support/DateTime.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace varmio::logger {
namespace {

using namespace std::chrono_literals;

// The echo's lines, as standard output would show them.
class CapturedOutput final : public LineSink {
public:
    void Line(std::string_view line) override { m_text.append(line).append("\n"); }
    void KeptLine(std::string_view line) override { Line(line); }
    void Last(std::string_view line) override { Line(line); }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

// A clock the test moves by hand; each local reading is the minute 13:05 and the steady time's
// whole seconds.
struct ManualClock {
    std::chrono::steady_clock::time_point steady{};
    int readings = 0;

    Clock Make()
    {
        Clock clock;
        clock.Steady = [this] { return steady; };
        clock.Local = [this] {
            ++readings;
            const auto second = std::chrono::duration_cast<std::chrono::seconds>(steady.time_since_epoch()).count();
            return test::LocalTime(2026, 12, 7, 13, 5, static_cast<int>(second));
        };
        return clock;
    }
};

const std::vector<std::uint8_t> kFlowPacket = {0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80};

TEST(LogSessionTest, LinesReachTheOutputWhenFeedReturns)
{
    CapturedOutput out;
    LogOptions options;
    options.Timestamp = "T";
    options.All = true;
    LogSession session(options, Regional{}, {}, &out);
    session.Feed(std::span(kFlowPacket).first(5));
    EXPECT_EQ(out.Text(), std::string(CsvHeader) + "\n");
    session.Feed(std::span(kFlowPacket).subspan(5));
    session.Feed(kFlowPacket);
    EXPECT_EQ(out.Text(), std::string(CsvHeader) + "\n" +
                              "T; 0; 0; 0; 45.5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0\n"
                              "T; 0; 0; 0; 45.5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0\n");
}

TEST(LogSessionTest, ClockIsReadAtStartAndAgainOnEachSecondBeat)
{
    ManualClock clock;
    clock.steady += 10s;
    CapturedOutput out;
    LogOptions options;
    options.All = true;
    Regional regional;
    regional.ShortDateFormat = "%-d.%-m.%Y";
    LogSession session(options, regional, {}, &out, clock.Make());
    EXPECT_EQ(session.DateTimeText(), "7.12.2026; 13:05:10");

    clock.steady += 999ms; // before the first beat
    session.Feed(kFlowPacket);
    EXPECT_EQ(session.DateTimeText(), "7.12.2026; 13:05:10");
    clock.steady += 1ms; // on the beat
    session.Feed(kFlowPacket);
    EXPECT_EQ(session.DateTimeText(), "7.12.2026; 13:05:11");
    clock.steady += 3500ms; // beats missed while busy come as one
    session.Feed(kFlowPacket);
    EXPECT_EQ(session.DateTimeText(), "7.12.2026; 13:05:14");
    EXPECT_EQ(clock.readings, 3);
    clock.steady += 400ms; // the beat stays on the whole seconds from the start: next at 15 s
    session.Feed(kFlowPacket);
    EXPECT_EQ(session.DateTimeText(), "7.12.2026; 13:05:14");
    clock.steady += 100ms;
    session.Feed(kFlowPacket);
    EXPECT_EQ(session.DateTimeText(), "7.12.2026; 13:05:15");
    session.Finish();

    const std::string text = out.Text();
    EXPECT_NE(text.find("\n7.12.2026; 13:05:10; 0; 0; 0; 45.5;"), std::string::npos);
    EXPECT_NE(text.find("\n7.12.2026; 13:05:11; 0; 0; 0; 45.5;"), std::string::npos);
    EXPECT_NE(text.find("\n7.12.2026; 13:05:15; 0; 0; 0; 45.5;"), std::string::npos);
}

TEST(LogSessionTest, FixedTimestampNeverReadsTheClock)
{
    Clock clock;
    clock.Local = []() -> std::tm { throw std::logic_error("clock read"); };
    clock.Steady = []() -> std::chrono::steady_clock::time_point { throw std::logic_error("clock read"); };
    LogOptions options;
    options.Timestamp = "";
    LogSession session(options, Regional{}, {}, nullptr, clock);
    session.Feed(kFlowPacket);
    EXPECT_EQ(session.DateTimeText(), "");
    EXPECT_EQ(session.FrameCount(), 1);
}

// The values over time, for --chart: kept only when asked, each batch stamped with one wall-clock
// reading, every frame of it at that moment.
TEST(LogSessionTest, TrendsAreKeptWhenAskedAtTheWallClockOfEachBatch)
{
    EXPECT_EQ(LogSession(LogOptions{}, Regional{}, {}, nullptr).Trends(), nullptr);

    const TrendTime start(std::chrono::milliseconds(1'796'000'000'000));
    std::chrono::system_clock::time_point wall = start + 250us; // stamped to the millisecond
    Clock clock;
    clock.Wall = [&wall] { return wall; };
    LogOptions options;
    options.Timestamp = "T";
    options.KeepTrends = true;
    LogSession session(options, Regional{}, {}, nullptr, clock);
    session.Feed(kFlowPacket); // 45.5
    wall += 90s;
    session.Feed(std::vector<std::uint8_t>{0x35, 0x35, 0x35, 0x04, 0x19, 0x30, 0x00, 0x35, 0x35}); // 48.0
    wall += 30s;
    session.Feed(std::vector<std::uint8_t>{0x35, 0x04, 0x19, 0x31, 0x00}); // 49.0, completed in this batch

    const TrendStore* trends = session.Trends();
    ASSERT_NE(trends, nullptr);
    std::size_t flow = 0;
    while (flow < trends->SeriesCount() && trends->Info(flow).DataId != 0x19) ++flow;
    ASSERT_LT(flow, trends->SeriesCount());
    EXPECT_EQ(trends->FirstTime(), start);
    EXPECT_EQ(trends->LastTime(), start + 120s);
    const auto at = [&](std::chrono::milliseconds offset) { return trends->ValueAt(flow, start + offset)->Max; };
    EXPECT_DOUBLE_EQ(at(89'999ms), 45.5);
    EXPECT_DOUBLE_EQ(at(90s), 48.0);
    EXPECT_DOUBLE_EQ(at(119s), 48.0);
    EXPECT_DOUBLE_EQ(at(120s), 49.0);
}

} // namespace
} // namespace varmio::logger
