// SPDX-License-Identifier: GPL-3.0-or-later
// Reading saved record logs back: the logs the core writes in the Czech and the C locale, typed and
// untimed lines, and files that are not record logs.

#include "support/RecordingDisplay.h"
#include "support/TempDir.h"

#include "varmio/Monitor.h"
#include "varmio/RecordLog.h"
#include "varmio/RecordLogReader.h"

#include <gtest/gtest.h>

#include <fstream>

namespace varmio {
namespace {

using test::ReadFile;
using test::TempDir;

Regional Czech()
{
    Regional czech;
    czech.DecimalSeparator = ",";
    czech.ShortDateFormat = "%-d.%-m.%Y";
    czech.LongTimeFormat = "%H:%M:%S";
    return czech;
}

std::tm LocalTime(int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return t;
}

TrendTime Stamp(std::tm t) { return TrendTime(std::chrono::seconds(mktime(&t))); }

void WriteBytes(const std::string& path, const std::string& bytes) { ASSERT_TRUE(test::WriteFile(path, bytes)); }

// A monitor in `regional` logs frames across midnight; the saved log reads back value for value,
// whatever the reader's own locale, and is left as it was.
void ExpectLogReadsBack(const Regional& writer)
{
    test::RecordingDisplay display(true);
    Monitor monitor(display, writer);
    display.recordLog.emplace_back(CsvHeader);
    const auto send = [&](std::tm when, int msgType, int dataId, int value) {
        display.dateTime = writer.DateTimeText(when);
        for (int b : {0x35, 0x35, 0x35, msgType, dataId, value >> 8, value & 0xFF})
            monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
    };
    send(LocalTime(7, 23, 59, 58), kReadAck, 25, 0x2D80); // 45.5
    send(LocalTime(7, 23, 59, 59), kReadAck, 27, 0xFFF3); // -0.1
    send(LocalTime(8, 0, 0, 1), kReadAck, 0, 0x000A);     // heating, flame
    send(LocalTime(8, 0, 0, 1), kReadAck, 17, 0x00C0);    // 0.7, same second
    std::string text;
    for (const std::string& line : display.recordLog) text += line + "\n";
    TempDir dir;
    const std::string path = dir / "log.csv";
    WriteRecordLog(path, text);
    const std::string bytes = ReadFile(path);

    TrendStore store({.GapAfter = std::chrono::milliseconds(0)});
    const RecordLogReport report = ReadRecordLog(path, store, Regional{});
    EXPECT_EQ(report.Records, 4u);
    EXPECT_EQ(report.Skipped, 0u);
    EXPECT_EQ(ReadFile(path), bytes) << "the file is only read";
    const auto at = [&store](std::size_t series, std::tm when) { return store.ValueAt(series, Stamp(when))->Max; };
    EXPECT_EQ(at(tsNtc, LocalTime(7, 23, 59, 58)), 45.5);
    EXPECT_EQ(at(tsVenku, LocalTime(7, 23, 59, 58)), 0) << "the log's 0 before the first frame";
    EXPECT_EQ(at(tsVenku, LocalTime(7, 23, 59, 59)), -0.1);
    EXPECT_EQ(at(tsFlame, LocalTime(7, 23, 59, 59)), 0);
    EXPECT_EQ(at(tsFlame, LocalTime(8, 0, 0, 1)), 1);
    EXPECT_EQ(at(tsHeating, LocalTime(8, 0, 0, 1)), 1);
    EXPECT_EQ(at(tsHotWater, LocalTime(8, 0, 0, 1)), 0);
    EXPECT_EQ(at(tsModul, LocalTime(8, 0, 0, 1)), 0.7);
    EXPECT_EQ(store.LastTime(), Stamp(LocalTime(8, 0, 0, 1)));
}

TEST(RecordLogReaderTest, LogsSavedInTheCzechAndTheCLocaleReadBackValueForValue)
{
    ExpectLogReadsBack(Czech());
    ExpectLogReadsBack(Regional{});
}

TEST(RecordLogReaderTest, TypedLinesAreSkippedAndReportedUntimedOnesTakeTheNextTime)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    const std::string zeros = "0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0";
    WriteBytes(path, ToWindows1250(std::string(CsvHeader)) + "\r\n" + "; 20; 0; 0; 0; 0; 0; 0; 0; " + zeros +
                         "\r\n" + // before the first tick
                         "7.12.2026; 13:05:20; 21; 0; 0; 0; 0; 0; 0; 0; " + zeros + "\r\n" +
                         ToWindows1250("poznámka: kotel vypnut") + "\r\n" +      // typed by the user
                         "\r\n" + ToWindows1250(std::string(CsvHeader)) + "\n" + // a second header, LF only
                         "7.12.2026; 13:06:00; 22,5; 0; 0; 0; 0; 0; 0; 0; " + zeros + "\n");
    TrendStore store({.GapAfter = std::chrono::milliseconds(0)});
    const RecordLogReport report = ReadRecordLog(path, store, Regional{});
    EXPECT_EQ(report.Records, 3u);
    EXPECT_EQ(report.Skipped, 1u);
    EXPECT_EQ(report.FirstSkipped, 4u);
    EXPECT_EQ(report.FirstSkippedText, "poznámka: kotel vypnut");
    const TrendTime first = Stamp(LocalTime(7, 13, 5, 20));
    EXPECT_EQ(store.FirstTime(), first);
    EXPECT_EQ(store.ValueAt(tsLcd, first)->Max, 21) << "the untimed 20 came just before, in the same moment";
    EXPECT_EQ(store.ValueAt(tsLcd, first + std::chrono::seconds(40))->Max, 22.5);
}

TEST(RecordLogReaderTest, AFileThatIsNotARecordLogIsRefusedNamingTheLine)
{
    TempDir dir;
    const std::string path = dir / "other.csv";
    const auto message = [&path](const std::string& bytes) {
        WriteBytes(path, bytes);
        TrendStore store;
        try {
            ReadRecordLog(path, store, Regional{});
        } catch (const RecordLogError& error) {
            EXPECT_FALSE(store.HasData()) << "nothing read from a file that is not a log";
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message("a,b,c\r\n1,2,3\r\n").find("řádek 1 nelze přečíst („a,b,c“)"), std::string::npos);
    // Right header, then a record with a field too many, a flame field of "1", a date that does not exist.
    const std::string header = ToWindows1250(std::string(CsvHeader)) + "\r\n";
    const std::string zeros = "0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0";
    EXPECT_NE(message(header + "7.12.2026; 13:05:20; 1; 0; 0; 0; 0; 0; 0; 0; 0; " + zeros + "; 0\r\n").find("řádek 2"),
              std::string::npos);
    EXPECT_NE(
        message(header + "\r\n7.12.2026; 13:05:20; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 1; 0; 0; 0\r\n")
            .find("řádek 3"),
        std::string::npos);
    EXPECT_NE(message(header + "31.2.2026; 13:05:20; 0; 0; 0; 0; 0; 0; 0; 0; 0; " + zeros + "\r\n").find("řádek 2"),
              std::string::npos);
    EXPECT_NE(message("").find("prázdný"), std::string::npos);
    EXPECT_NE(message(std::string("\x7F"
                                  "ELF\0\0\0",
                                  7))
                  .find("řádek 1"),
              std::string::npos);
    EXPECT_THROW(
        {
            TrendStore store;
            ReadRecordLog(dir / "missing.csv", store, Regional{});
        },
        RecordLogError);
}

TEST(RecordLogReaderTest, DatesAndTimesAreReadOnlyAsTheirFormatWritesThem)
{
    Regional us;
    us.ShortDateFormat = "%m/%d/%Y";
    us.LongTimeFormat = "%r"; // 01:05:20 PM
    const auto afternoon = ParseLogDateTime("12/07/2026", "01:05:20 PM", us);
    ASSERT_TRUE(afternoon);
    EXPECT_EQ(afternoon->tm_hour, 13);
    EXPECT_EQ(afternoon->tm_mday, 7);
    EXPECT_EQ(ParseLogDateTime("12/07/2026", "12:05:20 AM", us)->tm_hour, 0);
    EXPECT_FALSE(ParseLogDateTime("12/7/2026", "01:05:20 PM", us)) << "the format writes two digits";
    EXPECT_FALSE(ParseLogDateTime("12/07/2026", "13:05:20", us));
    EXPECT_EQ(ParseLogDateTime("12/07/26", "13:05:20", Regional{})->tm_year, 126);
    EXPECT_FALSE(ParseLogDateTime("7.12.2026", "13:05:20", Regional{}));
    EXPECT_TRUE(ParseLogDateTime("7.12.2026", "13:05:20", Czech()));
    EXPECT_FALSE(ParseLogDateTime("7.12.2026", "25:05:20", Czech()));
}

} // namespace
} // namespace varmio
