// SPDX-License-Identifier: GPL-3.0-or-later
// Value decoding: the eight values and the two status lists.

#include "MonitorFixture.h"

#include <string>

namespace varmio {
namespace {

using test::MonitorFixture;

class ValueDecodingTest : public MonitorFixture {};

TEST_F(ValueDecodingTest, EachValueComesFromItsDataIdAndMessageTypeIntoItsBoxAndRecordField)
{
    struct Case {
        int dataId;
        int msgType;
        Box box;
        std::size_t slot;
    };
    const Case cases[] = {
        {24, 1, Box::RoomTemperature, 0}, {1, 1, Box::ControlSetpoint, 1},     {26, 4, Box::DhwTemperature, 2},
        {25, 4, Box::FlowTemperature, 3}, {17, 4, Box::RelativeModulation, 4}, {56, 1, Box::DhwSetpoint, 5},
        {16, 1, Box::RoomSetpoint, 6},    {27, 4, Box::OutsideTemperature, 7},
    };
    int value = 0x0100;
    for (const Case& c : cases) {
        SendFrame(c.msgType, c.dataId, value);
        const std::string expected = std::to_string(value / 256);
        EXPECT_EQ(display.Box(c.box), expected) << "data ID " << c.dataId;
        EXPECT_DOUBLE_EQ(monitor.StoredValues()[c.slot], value / 256.0) << "data ID " << c.dataId;
        value += 0x0100;
    }
    EXPECT_EQ(monitor.BuildRecord(), "1; 2; 3; 4; 5; 6; 7; 8; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0");
}

TEST_F(ValueDecodingTest, ListedDataIdInAnotherMessageTypeDecodesNothing)
{
    SendFrame(4, 24, 0x1580); // room temperature is only taken from WRITE-DATA
    SendFrame(1, 25, 0x1580); // boiler water temperature only from READ-ACK
    SendFrame(0, 27, 0x1580); // a master's READ-DATA of the outside temperature
    SendFrame(6, 26, 0x1580);
    EXPECT_EQ(display.Box(Box::RoomTemperature), "<unset>");
    EXPECT_EQ(display.Box(Box::FlowTemperature), "<unset>");
    EXPECT_EQ(display.Box(Box::OutsideTemperature), "<unset>");
    EXPECT_EQ(display.Box(Box::DhwTemperature), "<unset>");
    for (double v : monitor.StoredValues()) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(monitor.FrameCount(), 4);
}

TEST_F(ValueDecodingTest, OutsideTemperatureIsSignedAndOthersAreNot)
{
    const std::pair<int, const char*> outside[] = {
        {0xFF00, "-1"},  {0x8000, "-128"}, {0xFFF4, "0"},    {0xFFF3, "-0.1"},
        {0x0140, "1.2"}, {0x01C0, "1.7"},  {0xFAC0, "-5.2"}, {0x7FFF, "128"},
    };
    for (auto [value, text] : outside) {
        SendFrame(4, 27, value);
        EXPECT_EQ(display.Box(Box::OutsideTemperature), text) << std::hex << value;
    }
    SendFrame(4, 25, 0xFFFF);
    EXPECT_EQ(display.Box(Box::FlowTemperature), "256");
    SendFrame(1, 24, 0xFF00); // a negative room temperature is read unsigned
    EXPECT_EQ(display.Box(Box::RoomTemperature), "255");
}

TEST_F(ValueDecodingTest, ModulationHalvesGoTowardZero)
{
    SendFrame(4, 17, 0x6400);
    EXPECT_EQ(display.Box(Box::RelativeModulation), "100");
    SendFrame(4, 17, 0x0040);
    EXPECT_EQ(display.Box(Box::RelativeModulation), "0.2");
    SendFrame(4, 17, 0x00C0);
    EXPECT_EQ(display.Box(Box::RelativeModulation), "0.7");
    SendFrame(4, 17, 0x0041);
    EXPECT_EQ(display.Box(Box::RelativeModulation), "0.3");
}

TEST_F(ValueDecodingTest, MasterStatusSetsItemsZeroToSixFromTheHighByte)
{
    display.checks[0] = {false, false, true, true, true, true, true, true};
    SendFrame(0, 0, 0x0300);
    const std::array<bool, 8> expected = {true, true, false, false, false, false, false, true};
    EXPECT_EQ(display.checks[0], expected) << "item 7 is never touched";
    EXPECT_EQ(monitor.BuildRecord(), "0; 0; 0; 0; 0; 0; 0; 0; 1; 1; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0");

    SendFrame(0, 0, 0x7F00 | 0x8000 | 0x00FF); // bit 15 and the low byte belong to no master item
    EXPECT_EQ(display.checks[0], (std::array<bool, 8>{true, true, true, true, true, true, true, true}));
    EXPECT_EQ(display.checks[1], (std::array<bool, 8>{}));
}

TEST_F(ValueDecodingTest, SlaveStatusSetsItemsZeroToSixFromTheLowByteAndFlameReadsTen)
{
    SendFrame(4, 0, 0x000A);
    const std::array<bool, 8> expected = {false, true, false, true, false, false, false, false};
    EXPECT_EQ(display.checks[1], expected);
    EXPECT_EQ(display.checks[0], (std::array<bool, 8>{}));
    EXPECT_EQ(monitor.BuildRecord(), "0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 1; 0; 10; 0; 0; 0");

    SendFrame(4, 0, 0xFF7F); // bit 7 and the high byte belong to no slave item
    EXPECT_EQ(display.checks[1], (std::array<bool, 8>{true, true, true, true, true, true, true, false}));
    EXPECT_EQ(display.checks[0], (std::array<bool, 8>{}));
}

TEST_F(ValueDecodingTest, StatusInOtherMessageTypesChangesNoCheckMark)
{
    display.checks[0][2] = true;
    display.checks[1][5] = true;
    for (int type : {1, 2, 3, 5, 6, 7, 0x35, 255}) SendFrame(type, 0, 0xFFFF);
    EXPECT_EQ(display.checks[0], (std::array<bool, 8>{false, false, true}));
    EXPECT_EQ(display.checks[1], (std::array<bool, 8>{false, false, false, false, false, true}));
}

TEST_F(ValueDecodingTest, RecordReadsCheckMarksToggledByHand)
{
    display.checks[0] = {true, false, false, false, true, true, true, true}; // items 5..7 are not recorded
    display.checks[1] = {true, true, true, true, true, true, true, true};    // item 7 is not recorded
    EXPECT_EQ(monitor.BuildRecord(), "0; 0; 0; 0; 0; 0; 0; 0; 1; 0; 0; 0; 1; 1; 1; 1; 10; 1; 1; 1");
}

TEST_F(ValueDecodingTest, FreshRecordIsTwentyZeros)
{
    EXPECT_EQ(monitor.BuildRecord(), "0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0");
}

TEST_F(ValueDecodingTest, InitZeroesTheValuesAndEmptiesTheirBoxesOnly)
{
    SendFrame(4, 25, 0x2D80);
    SendFrame(1, 16, 0x1580);
    SendFrame(4, 0, 0x0008);
    const std::int64_t frames = monitor.FrameCount();
    monitor.ResetValues();
    for (Box box : {Box::RoomTemperature, Box::ControlSetpoint, Box::DhwTemperature, Box::FlowTemperature,
                    Box::RelativeModulation, Box::DhwSetpoint, Box::RoomSetpoint, Box::OutsideTemperature}) {
        EXPECT_EQ(display.Box(box), "") << static_cast<int>(box);
    }
    for (double v : monitor.StoredValues()) EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(display.checks[1][3]) << "check marks stay";
    EXPECT_EQ(monitor.FrameCount(), frames);
    EXPECT_EQ(display.Box(Box::FrameCount), "3");
    EXPECT_EQ(display.Box(Box::FrameDataId), "0") << "the Data group stays";
    EXPECT_EQ(monitor.PreviousRecordText(), "0; 0; 0; 45.5; 0; 0; 21.5; 0; 0; 0; 0; 0; 0; 0; 0; 0; 10; 0; 0; 0");
}

TEST_F(ValueDecodingTest, RegionalDecimalSeparatorIsUsedInBoxesAndRecord)
{
    Regional czech;
    czech.DecimalSeparator = ",";
    test::RecordingDisplay local;
    Monitor m(local, czech);
    for (int b : {0x35, 0x35, 0x35, 4, 27, 0xFA, 0xC0}) m.ProcessFrameByte(static_cast<std::uint8_t>(b));
    EXPECT_EQ(local.Box(Box::OutsideTemperature), "-5,2");
    EXPECT_EQ(m.BuildRecord(), "0; 0; 0; 0; 0; 0; 0; -5,2; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0; 0");
    EXPECT_DOUBLE_EQ(m.StoredValues()[7], -5.2);
}

} // namespace
} // namespace varmio
