// SPDX-License-Identifier: GPL-3.0-or-later
// Log files: Windows-1250 bytes, CR LF line ends, and the errors of creating and writing them.

#include "support/TempDir.h"

#include "varmio/Monitor.h"
#include "varmio/RecordLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace varmio {
namespace {

using test::ReadFile;
using test::TempDir;

TEST(Windows1250Test, CzechLettersMapAndOthersBecomeCountedQuestionMarks)
{
    std::size_t unmappable = 99;
    EXPECT_EQ(ToWindows1250("Počet záznamů € ¨", &unmappable), "Po\xE8"
                                                               "et z\xE1znam\xF9 \x80 \xA8");
    EXPECT_EQ(unmappable, 0u);
    EXPECT_EQ(ToWindows1250("a日b😀c", &unmappable), "a?b?c");
    EXPECT_EQ(unmappable, 2u);
}

TEST(Windows1250Test, MalformedUtf8BecomesOneQuestionMarkPerBadSequence)
{
    std::size_t unmappable = 0;
    // A stray continuation byte, a lead byte cut short by ASCII, an overlong "/", a surrogate, a
    // lead byte at the very end.
    EXPECT_EQ(ToWindows1250("a\x80"
                            "b\xC3"
                            "c\xC0\xAF"
                            "d\xED\xA0\x80"
                            "e\xC3",
                            &unmappable),
              "a?b?c??d?e?");
    EXPECT_EQ(unmappable, 6u);
}

TEST(OfferedRecordLogNameTest, CharactersAFileNameCannotHoldBecomeDashesAndCsvIsTheExtension)
{
    EXPECT_EQ(OfferedRecordLogName("12/08/26"), "12-08-26 Zelb.csv");
    EXPECT_EQ(OfferedRecordLogName("8.12.2026"), "8.12.2026 Zelb.csv");
    EXPECT_EQ(OfferedRecordLogName("a\\b:c*d?e\"f<g>h|i\tj"), "a-b-c-d-e-f-g-h-i-j Zelb.csv");
    EXPECT_EQ(OfferedRecordLogName("8. pros\xC3\xADnce"), "8. pros\xC3\xADnce Zelb.csv") << "letters stay";
}

TEST(WriteRecordLogTest, HeaderAloneIsWrittenWithCrLf)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    EXPECT_EQ(WriteRecordLog(path, CsvHeader), 0u);
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(bytes.size(), 157u);
    EXPECT_EQ(bytes, ToWindows1250(CsvHeader) + "\r\n");
}

TEST(WriteRecordLogTest, EveryLineBreakBecomesCrLfAndAFinalBreakAddsNoLine)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    WriteRecordLog(path, "a\nb\r\nc\rd\n\ne");
    EXPECT_EQ(ReadFile(path), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    WriteRecordLog(path, "a\r\n");
    EXPECT_EQ(ReadFile(path), "a\r\n");
    WriteRecordLog(path, "a\n\n");
    EXPECT_EQ(ReadFile(path), "a\r\n\r\n");
    WriteRecordLog(path, "");
    EXPECT_EQ(ReadFile(path), "");
}

TEST(WriteRecordLogTest, ReplacesAnExistingLongerFile)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    std::ofstream(path) << std::string(100000, 'x');
    WriteRecordLog(path, "short");
    EXPECT_EQ(ReadFile(path), "short\r\n");
}

TEST(WriteRecordLogTest, LargeTextIsWrittenWhole)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    std::string text;
    std::string expected;
    for (int i = 0; i < 50000; ++i) {
        const std::string line = "7.12.2026; 13:05:20; " + std::to_string(i) + "; Topení";
        text += line + "\n";
        expected += ToWindows1250(line) + "\r\n";
    }
    WriteRecordLog(path, text);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(WriteRecordLogTest, UnmappableCharactersAreWrittenAsQuestionMarksAndCounted)
{
    TempDir dir;
    const std::string path = dir / "log.csv";
    EXPECT_EQ(WriteRecordLog(path, "日本\nok"), 2u);
    EXPECT_EQ(ReadFile(path), "??\r\nok\r\n");
}

// The message of the FileError that `write` throws, or "" when it throws none.
template <typename Write>
std::string ErrorOf(Write write)
{
    try {
        write();
    } catch (const FileError& e) {
        return e.what();
    }
    return "";
}

TEST(WriteRecordLogTest, CreationErrorsNameTheFullPathAndTheSystemError)
{
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    const std::string missing = ErrorOf([] { WriteRecordLog("missing/../missing/log.csv", "x"); });
    std::filesystem::current_path(previous);
    EXPECT_EQ(missing, "Cannot create file \"" + (dir / "missing/log.csv") + "\". No such file or directory");

    EXPECT_EQ(ErrorOf([&] { WriteRecordLog(dir.Path().string(), "x"); }),
              "Cannot create file \"" + dir.Path().string() + "\". Is a directory");
    EXPECT_EQ(ErrorOf([&] { LogFileWriter writer(dir / "no/such/folder.log"); }),
              "Cannot create file \"" + (dir / "no/such/folder.log") + "\". No such file or directory");
}

TEST(WriteRecordLogTest, FullDeviceIsAStreamWriteError)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(ErrorOf([] { WriteRecordLog("/dev/full", CsvHeader); }), "Stream write error");
    LogFileWriter full("/dev/full");
    EXPECT_EQ(ErrorOf([&] { full.WriteLine("x"); }), "Stream write error");
}

TEST(LogFileWriterTest, EachLineReachesTheFileBeforeWriteLineReturns)
{
    TempDir dir;
    const std::string path = dir / "raw.log";
    LogFileWriter writer(path);
    EXPECT_EQ(ReadFile(path), "") << "created empty";
    writer.WriteLine("  [Type: 4]  [25] :11648");
    EXPECT_EQ(ReadFile(path), "  [Type: 4]  [25] :11648\r\n");
    writer.WriteLine("Plamen ✓");
    EXPECT_EQ(ReadFile(path), "  [Type: 4]  [25] :11648\r\nPlamen ?\r\n");
    EXPECT_EQ(writer.Unmappable(), 1u);
    writer.Close();
    EXPECT_THROW(writer.WriteLine("after close"), FileError);
}

} // namespace
} // namespace varmio
