// SPDX-License-Identifier: GPL-3.0-or-later
// varmio-log --json and --decode run as a program on the real captures: one valid JSON object (or one
// readable line) per frame, as many as the independent model counts, values that agree with the
// protocol's rules applied here to the raw word.

#include "ReferenceLog.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varmio {
namespace {

using test::ChildOptions;
using test::ChildProcess;
using test::ChildResult;

using namespace std::string_literals;

constexpr const char* kStamp = "7.12.2026; 13:05:20";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start)); // an unended last line counts too
    return lines;
}

class LoggerDecodeTest : public ::testing::Test {
protected:
    ChildResult Run(std::vector<std::string> args)
    {
        ChildOptions options;
        options.outFile = dir / "out";
        options.errFile = dir / "err";
        options.cLocale = true;
        return ChildProcess(VARMIO_LOG_PROGRAM, std::move(args), options).Finish();
    }

    test::TempDir dir;
};

TEST_F(LoggerDecodeTest, JsonIsOneValidObjectPerFrameOnEveryCapture)
{
    const std::filesystem::path captures = std::filesystem::path(VARMIO_SOURCE_DIR) / "data/captures/relay7";
    int files = 0;
    bool burnerStarts = false;
    bool boilerWater = false;
    for (const auto& entry : std::filesystem::directory_iterator(captures)) {
        const std::string name = entry.path().filename().string();
        const std::string bytes = test::ReadFile(entry.path());
        const long frames = reference::Replay({bytes.begin(), bytes.end()}, kStamp, false).Frames;
        const ChildResult r = Run({"--replay", entry.path().string(), "--json", "--timestamp", kStamp});
        ASSERT_EQ(r.exitCode, 0) << name << ": " << r.err;
        // Standard output holds the objects only; the summary goes to standard error.
        EXPECT_EQ(r.err, "Frames: " + std::to_string(frames) + "\n") << name;
        const std::vector<std::string> lines = Lines(r.out);
        ASSERT_EQ(static_cast<long>(lines.size()), frames) << name;
        for (const std::string& line : lines) {
            const nlohmann::json frame = nlohmann::json::parse(line, nullptr, false);
            ASSERT_FALSE(frame.is_discarded()) << name << ": " << line;
            ASSERT_TRUE(frame.is_object()) << line;
            EXPECT_EQ(frame["time"], kStamp);
            const int id = frame["id"];
            const int raw = frame["raw"];
            const nlohmann::json& fields = frame["fields"];
            if (fields.is_null()) continue; // DATA-INVALID, UNKNOWN-DATAID
            // The rules, applied here to the raw word: f8.8 temperatures, u16 counters, s16 exhaust.
            if (id == 25 || id == 26 || id == 28 || id == 56) {
                EXPECT_EQ(fields["value"].get<double>(), static_cast<std::int16_t>(raw) / 256.0) << line;
            } else if (id >= 116 && id <= 123) {
                EXPECT_EQ(fields["value"], raw) << line;
            } else if (id == 33) {
                EXPECT_EQ(fields["value"], static_cast<std::int16_t>(raw)) << line;
            }
            if (name == "otgwfw_logfile.bin" && id == 116 && frame["type"] == 4) {
                burnerStarts = true;
                EXPECT_EQ(fields["value"], 7661);
            }
            if (name.rfind("tadox-viessmann", 0) == 0 && id == 25 && raw == 0x36E6 && frame["type"] == 4) {
                boilerWater = true;
                EXPECT_EQ(frame["text"], "54.90 °C");
            }
        }
        ++files;
    }
    EXPECT_EQ(files, 9);
    EXPECT_TRUE(burnerStarts);
    EXPECT_TRUE(boilerWater);
}

TEST_F(LoggerDecodeTest, DecodeIsOneReadableLinePerFrameThenTheSummary)
{
    // A status answer, the boiler water temperature, an unsupported ID, and a fourth sync byte taken
    // as the message type.
    const std::string input = "\x35\x35\x35\x04\x00\x03\x0A"
                              "\x35\x35\x35\x04\x19\x2D\x80"
                              "\x35\x35\x35\x07\x0E\x00\x00"
                              "\x35\x35\x35\x35\x00\x01\x02"s;
    test::WriteFile(dir / "in.bin", input);
    const ChildResult r =
        Run({"--replay", dir / "in.bin", "--decode", "--timestamp", kStamp, "--records", dir / "r.csv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u) << r.out;
    EXPECT_EQ(lines[0], std::string(kStamp) +
                            "  kotel→termostat  READ-ACK         0 Status: Termostat: Topení povoleno, "
                            "TUV povoleno; Kotel: Topení aktivní, Plamen aktivní  (raw 778)");
    EXPECT_EQ(lines[1], std::string(kStamp) + "  kotel→termostat  READ-ACK        25 Tboiler: 45.50 °C  (raw 11648)");
    EXPECT_NE(lines[2].find("UNKNOWN-DATAID  14 Max rel-mod setting: nepodporováno"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("?  TYPE-53"), std::string::npos) << lines[3];
    EXPECT_EQ(lines[4], "Frames: 4");
    // The record log file is written as ever beside it.
    EXPECT_EQ(Lines(test::ReadFile(dir / "r.csv")).size(), 3u); // header and two changed records

    EXPECT_EQ(Run({"--replay", dir / "in.bin", "--decode", "--json"}).exitCode, 2);
}

} // namespace
} // namespace varmio
