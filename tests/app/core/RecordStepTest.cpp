// SPDX-License-Identifier: GPL-3.0-or-later
// The record step: the record log line, the change-only filter and the frame counter.

#include "MonitorFixture.h"

#include "varmio/RecordLog.h"

#include <string>

namespace varmio {
namespace {

using test::MonitorFixture;

constexpr const char* kZeros = "0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0";

class RecordStepTest : public MonitorFixture {};

TEST_F(RecordStepTest, FirstFrameIsLoggedWithTheDateTimeBoxText)
{
    display.dateTime = "7.12.2026; 13:05:20";
    SendFrame(4, 25, 11648);
    EXPECT_EQ(display.Box(Box::FlowTemperature), "45.5");
    ASSERT_EQ(display.recordLog.size(), 1u);
    EXPECT_EQ(display.recordLog[0],
              "7.12.2026; 13:05:20; 0; 0; 0; 45.5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0");
    EXPECT_EQ(display.Box(Box::FrameCount), "1");
    EXPECT_EQ(monitor.FrameCount(), 1);
}

TEST_F(RecordStepTest, FirstFrameIsLoggedEvenWhenItDecodesNothing)
{
    SendFrame(0, 3, 0);
    ASSERT_EQ(display.recordLog.size(), 1u);
    EXPECT_EQ(display.recordLog[0], std::string("; ") + kZeros) << "empty date-time box";
}

TEST_F(RecordStepTest, RepeatedFramesAreLoggedOnceAndAllCounted)
{
    for (int i = 0; i < 5; ++i) SendFrame(4, 25, 11648);
    EXPECT_EQ(display.recordLog.size(), 1u);
    EXPECT_EQ(display.rawLog.size(), 5u);
    EXPECT_EQ(display.Box(Box::FrameCount), "5");
}

TEST_F(RecordStepTest, UndecodedFrameIsLoggedOnlyWhenSomethingRecordedChanged)
{
    SendFrame(4, 25, 11648);
    SendFrame(0, 3, 0);
    EXPECT_EQ(display.recordLog.size(), 1u);

    display.checks[1][6] = true; // the user ticks "Diagnostika akt"
    SendFrame(0, 3, 0);
    ASSERT_EQ(display.recordLog.size(), 2u);
    EXPECT_EQ(display.recordLog[1], "; 0; 0; 0; 45.5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 1");

    display.checks[1][7] = true; // item 7 is not recorded
    SendFrame(0, 3, 0);
    EXPECT_EQ(display.recordLog.size(), 2u);
    EXPECT_EQ(monitor.FrameCount(), 4);
}

TEST_F(RecordStepTest, ChangeInAValueIsLoggedAndTheSameValueAgainIsNot)
{
    SendFrame(4, 25, 0x2D80);
    SendFrame(4, 25, 0x2D81); // 45.504 rounds to the same tenth: same record
    SendFrame(4, 25, 0x2DC0); // 45.75 rounds to 45.7
    SendFrame(4, 25, 0x2D80);
    ASSERT_EQ(display.recordLog.size(), 3u);
    EXPECT_EQ(display.recordLog[1].substr(0, 16), "; 0; 0; 0; 45.7;");
    EXPECT_EQ(display.recordLog[2].substr(0, 16), "; 0; 0; 0; 45.5;");
}

TEST_F(RecordStepTest, WithoutTheFilterEveryFrameIsLogged)
{
    display.changesOnly = false;
    for (int i = 0; i < 3; ++i) SendFrame(0, 3, 0);
    EXPECT_EQ(display.recordLog.size(), 3u);
}

TEST_F(RecordStepTest, FilterTurnedBackOnComparesWithTheFrameJustBeforeLoggedOrNot)
{
    SendFrame(4, 25, 0x2D80); // logged: first
    display.changesOnly = false;
    SendFrame(4, 25, 0x2D80); // logged: unfiltered repeat
    SendFrame(4, 25, 0x1E00); // logged: 30
    display.changesOnly = true;
    SendFrame(4, 25, 0x1E00); // same as the frame just before: not logged
    EXPECT_EQ(display.recordLog.size(), 3u);

    display.changesOnly = false;
    SendFrame(4, 17, 0x6400); // logged, and becomes the previous record although the filter is off
    display.changesOnly = true;
    SendFrame(4, 17, 0x6400);
    EXPECT_EQ(display.recordLog.size(), 4u);
    SendFrame(4, 17, 0x3200);
    EXPECT_EQ(display.recordLog.size(), 5u);
    EXPECT_EQ(monitor.FrameCount(), 7);
}

TEST_F(RecordStepTest, InitThenUndecodedFrameLogsZerosUnlessTheyWereZerosAlready)
{
    SendFrame(0, 3, 0);
    monitor.ResetValues();
    SendFrame(0, 3, 0);
    EXPECT_EQ(display.recordLog.size(), 1u) << "all values were 0 already";

    SendFrame(1, 56, 0x3200);
    monitor.ResetValues();
    SendFrame(0, 3, 0);
    ASSERT_EQ(display.recordLog.size(), 3u);
    EXPECT_EQ(display.recordLog[2], std::string("; ") + kZeros);
}

TEST_F(RecordStepTest, PreviousRecordIsTheLastBuiltNotTheLastLogged)
{
    SendFrame(4, 25, 0x2D80);
    display.changesOnly = true;
    SendFrame(4, 25, 0x2D80);
    EXPECT_EQ(monitor.PreviousRecordText(), monitor.BuildRecord());
    EXPECT_EQ(display.recordLog.back(), "; " + monitor.PreviousRecordText());
}

TEST(CsvHeaderTest, HasTwentyTwoColumnsAndIs155BytesInWindows1250)
{
    int columns = 1;
    for (char c : CsvHeader) columns += c == ';';
    EXPECT_EQ(columns, 22);
    const std::string bytes = ToWindows1250(CsvHeader);
    EXPECT_EQ(bytes.size(), 155u);
    EXPECT_EQ(bytes.substr(0, 34), "Date;Time;Lcd;Pt;Tuv;Ntc;Modul;STu");
    EXPECT_EQ(bytes.substr(bytes.size() - 15), "T2Ch\xA8On;Diag On");
    EXPECT_EQ(bytes.find("Topen\xED Ena;"), 54u);
    EXPECT_EQ(bytes.find("Topen\xED On;"), 105u);
}

} // namespace
} // namespace varmio
