// SPDX-License-Identifier: GPL-3.0-or-later
// The second reading of every frame: decoding rules per value type, real frames from the captures,
// the message overview and the capped message log.

#include "MonitorFixture.h"
#include "support/TempDir.h"

#include "varmio/MessageOverview.h"
#include "varmio/OpenTherm.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace varmio {
namespace {

std::string Value(int msgType, int dataId, int raw)
{
    return FormatValue(DecodeFrame(static_cast<std::uint8_t>(msgType), static_cast<std::uint8_t>(dataId),
                                   static_cast<std::uint16_t>(raw)));
}

TEST(OpenThermDecodeTest, FixedPointIsTheExactSignedValueShownWithTwoDecimals)
{
    const DecodedFrame frame = DecodeFrame(kReadAck, 25, 0xFE80);
    ASSERT_EQ(frame.FieldCount, 1);
    EXPECT_EQ(frame.Fields[0].F88(), -1.5);
    EXPECT_EQ(DecodeFrame(kReadAck, 25, 0x36E6).Fields[0].F88(), 54.8984375);
    EXPECT_EQ(Value(kReadAck, 25, 0x36E6), "54.90 °C");
    EXPECT_EQ(Value(kReadAck, 17, 0x6400), "100.00 %");
    EXPECT_EQ(Value(kReadAck, 18, 0x0040), "0.25 bar");
    // Exact halves of a hundredth go away from zero; what rounds to zero has no sign.
    EXPECT_EQ(Value(kReadAck, 27, 0x0020), "0.13 °C");
    EXPECT_EQ(Value(kReadAck, 27, 0xFFE0), "-0.13 °C");
    EXPECT_EQ(Value(kReadAck, 27, 0xFFFF), "0.00 °C");
    EXPECT_EQ(Value(kReadAck, 27, 0x8000), "-128.00 °C");
    std::string withComma;
    AppendF88(withComma, 0x1580, ",");
    EXPECT_EQ(withComma, "21,50");
}

TEST(OpenThermDecodeTest, IntegerTypesKeepOrDropTheSign)
{
    EXPECT_EQ(Value(kReadAck, 116, 0xFFFF), "65535");                                       // u16
    EXPECT_EQ(Value(kReadAck, 33, 0xFFD8), "-40 °C");                                       // s16
    EXPECT_EQ(Value(kReadAck, 48, 0x3CFB), "Horní mez: 60 °C; Dolní mez: -5 °C");           // s8 / s8
    EXPECT_EQ(Value(kReadAck, 15, 0x180A), "Max. výkon kotle: 24 kW; Min. modulace: 10 %"); // u8 / u8
    EXPECT_EQ(DecodeFrame(kReadAck, 48, 0x3CFB).Fields[1].Value, -5);
    // An unused byte is no field at all.
    const DecodedFrame vent = DecodeFrame(kWriteData, 71, 0xAA32);
    ASSERT_EQ(vent.FieldCount, 1);
    EXPECT_EQ(vent.Fields[0].Value, 50);
}

TEST(OpenThermDecodeTest, FlagBytesNameTheirBits)
{
    EXPECT_EQ(Value(kReadAck, 0, 0x030A),
              "Termostat: Topení povoleno, TUV povoleno; Kotel: Topení aktivní, Plamen aktivní");
    EXPECT_EQ(Value(kReadAck, 5, 0x8000 | 0x04 << 8 | 42), "Poruchy: Nízký tlak vody, bit 7; OEM kód poruchy: 42");
    EXPECT_EQ(Value(kReadData, 0, 0x0000), "Termostat: žádný; Kotel: žádný");

    // Bit by bit: every named bit with its state, a reserved bit only when set.
    const std::string bits = FormatBits(DecodeFrame(kReadAck, 3, 0x0505));
    EXPECT_NE(bits.find("Konfigurace – TUV přítomna: ano\n"), std::string::npos) << bits;
    EXPECT_NE(bits.find("Konfigurace – Řízení zap/vyp (ne modulace): ne\n"), std::string::npos) << bits;
    EXPECT_NE(bits.find("Konfigurace – Chlazení podporováno: ano\n"), std::string::npos) << bits;
    EXPECT_NE(bits.find("\nID výrobce: 5"), std::string::npos) << bits;
    const std::string master = FormatBits(DecodeFrame(kReadData, 0, 0x8000));
    EXPECT_NE(master.find("Termostat – bit 7 (rezerva): ano"), std::string::npos) << master;
    EXPECT_EQ(std::count(master.begin(), master.end(), '\n'), 16 - 1) << master; // 7 named + 1 set reserved, 8 slave
}

TEST(OpenThermDecodeTest, DayAndTimeAndAnswersWithoutValue)
{
    const DecodedFrame dayTime = DecodeFrame(kWriteData, 20, (3 << 5 | 13) << 8 | 5);
    EXPECT_EQ(dayTime.Fields[0].Weekday(), 3);
    EXPECT_EQ(dayTime.Fields[0].Hour(), 13);
    EXPECT_EQ(FormatValue(dayTime), "St 13:05");
    EXPECT_EQ(Value(kWriteData, 20, 0x0000), "? 0:00");

    EXPECT_EQ(Value(kDataInvalid, 25, 0x1234), "neplatné");
    EXPECT_EQ(Value(kUnknownDataId, 25, 0x1234), "nepodporováno");
    EXPECT_TRUE(FormatBits(DecodeFrame(kUnknownDataId, 0, 0xFFFF)).empty());
}

TEST(OpenThermDecodeTest, UnknownIdsAndTypesDecodeAsRawBytes)
{
    for (int id : {40, 92, 128, 255}) {
        const DecodedFrame frame = DecodeFrame(kReadAck, static_cast<std::uint8_t>(id), 0x12FE);
        EXPECT_EQ(frame.Info, nullptr);
        ASSERT_EQ(frame.FieldCount, 2);
        EXPECT_EQ(FormatValue(frame), "Horní bajt: 18; Dolní bajt: 254");
    }
    EXPECT_EQ(MessageTypeName(kUnknownDataId), "UNKNOWN-DATAID");
    EXPECT_EQ(MessageDirection(3), Direction::ThermostatToBoiler);
    EXPECT_EQ(MessageDirection(kReadAck), Direction::BoilerToThermostat);
    EXPECT_EQ(MessageDirection(53), Direction::Unknown);
    EXPECT_TRUE(MessageTypeName(53).empty());
}

// ---- Real frames and the overview ----

class OverviewTest : public test::MonitorFixture {
protected:
    OverviewTest()
    {
        monitor.SetOnFrame([this](const Frame& frame) {
            overview.Add(frame, now);
            log.Add(frame, now);
        });
    }

    void Replay(const char* capture)
    {
        const std::string bytes =
            test::ReadFile(std::filesystem::path(VARMIO_SOURCE_DIR) / "data/captures/relay7" / capture);
        ASSERT_FALSE(bytes.empty()) << capture;
        for (char b : bytes) monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
    }

    std::string Answer(std::uint8_t id) const
    {
        const OverviewRow* row = overview.Find(id);
        if (row == nullptr || !row->HasAnswer) return "<none>";
        return FormatValue(DecodeFrame(row->AnswerType, id, row->AnswerRaw));
    }

    TimePoint now{};
    MessageOverview overview;
    MessageLog log;
};

TEST_F(OverviewTest, RealCapturesDecodeAsTheProtocolTableSays)
{
    Replay("otgwfw_logfile.bin");
    EXPECT_EQ(Answer(116), "7661"); // burner starts
    EXPECT_EQ(log.Added(), static_cast<std::uint64_t>(monitor.FrameCount()));
    EXPECT_EQ(log.Size(), 1884u);

    std::uint64_t counted = 0;
    for (std::size_t place = 0; place < overview.RowCount(); ++place) counted += overview.Row(place).Count;
    EXPECT_EQ(counted, 1884u);

    // The boiler water temperature of 0x36E6 in the other installation.
    bool seen = false;
    monitor.SetOnFrame([&seen](const Frame& frame) {
        if (frame.DataId == 25 && frame.MsgType == kReadAck && frame.DataValue == 0x36E6) {
            seen = true;
            EXPECT_EQ(FormatValue(DecodeFrame(frame)), "54.90 °C");
        }
    });
    Replay("tadox-viessmann_first_log.bin");
    Replay("tadox-viessmann_full_run_up_and_down.bin");
    EXPECT_TRUE(seen);
}

TEST_F(OverviewTest, RowsKeepTheLastRequestAndAnswerApart)
{
    now = TimePoint{std::chrono::seconds(100)};
    SendFrame(kReadData, 25, 0x7FFF);
    SendFrame(kReadAck, 25, 0x2D80);
    SendFrame(kReadData, 99, 0);
    now = TimePoint{std::chrono::seconds(200)};
    SendFrame(kUnknownDataId, 99, 0);
    SendFrame(53, 25, 0x0102); // not OpenTherm's type: counted only

    ASSERT_EQ(overview.RowCount(), 2u);
    EXPECT_EQ(overview.Row(0).DataId, 25);
    EXPECT_EQ(overview.PlaceOf(99), 1);
    const OverviewRow& boiler = *overview.Find(25);
    EXPECT_EQ(boiler.Count, 3u);
    EXPECT_EQ(boiler.RequestType, kReadData);
    EXPECT_EQ(boiler.RequestRaw, 0x7FFF);
    EXPECT_EQ(boiler.AnswerRaw, 0x2D80);
    EXPECT_EQ(boiler.LastSeen, now);
    EXPECT_EQ(Answer(25), "45.50 °C");
    EXPECT_EQ(Answer(99), "nepodporováno");
    EXPECT_EQ(overview.Find(26), nullptr);

    // The eight values keep their own rules beside the overview.
    EXPECT_EQ(display.Box(Box::FlowTemperature), "45.5");
    EXPECT_EQ(monitor.FrameCount(), 5);

    const auto changed = overview.TakeChanged();
    EXPECT_EQ(changed.count(), 2u);
    EXPECT_TRUE(changed.test(99));
    EXPECT_TRUE(overview.TakeChanged().none());
}

TEST_F(OverviewTest, OverviewAndLogStayBounded)
{
    for (int round = 0; round < 2; ++round)
        for (int id = 0; id < 256; ++id) SendFrame(kReadAck, id, round);
    EXPECT_EQ(overview.RowCount(), MessageOverview::kMaxRows);
    EXPECT_EQ(overview.Row(255).Count, 2u);

    MessageLog small(10, 4);
    for (int i = 0; i < 23; ++i) small.Add(Frame{kReadAck, 1, 0, 0, i}, now);
    // At 10 the next frame pushes out 4: 10, 7+4=11 -> 7, ..., so sizes stay within 7..10.
    EXPECT_EQ(small.Added(), 23u);
    EXPECT_LE(small.Size(), 10u);
    EXPECT_EQ(small.Dropped() + small.Size(), 23u);
    EXPECT_EQ(small.Dropped() % 4, 0u);
    EXPECT_EQ(small[0].Raw, small.Dropped());
    EXPECT_EQ(small[small.Size() - 1].Raw, 22);
}

} // namespace
} // namespace varmio
