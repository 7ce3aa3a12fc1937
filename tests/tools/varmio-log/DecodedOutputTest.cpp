// SPDX-License-Identifier: GPL-3.0-or-later
// The logger's decoded output: the readable line and the JSON object of a frame.
#include "DecodedOutput.h"

#include "varmio/OpenTherm.h"

#include <gtest/gtest.h>

namespace varmio::logger {
namespace {

Frame MakeFrame(int msgType, int dataId, int raw)
{
    return Frame{static_cast<std::uint8_t>(msgType), static_cast<std::uint8_t>(dataId),
                 static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw & 0xFF), raw};
}

TEST(DecodedOutputTest, ReadableLineCarriesTimeDirectionTypeIdNameValueAndRaw)
{
    EXPECT_EQ(DecodedLine(MakeFrame(kReadAck, 25, 0x36E6), "7.12.2026; 13:05:20", ","),
              "7.12.2026; 13:05:20  kotel→termostat  READ-ACK        25 Tboiler: 54,90 °C  (raw 14054)");
    EXPECT_EQ(DecodedLine(MakeFrame(53, 200, 0x0102), "t", "."),
              "t  ?  TYPE-53        200 ?: Horní bajt: 1; Dolní bajt: 2  (raw 258)");
}

TEST(DecodedOutputTest, JsonHoldsTypedFieldsAndUnits)
{
    const nlohmann::ordered_json boiler = FrameJson(MakeFrame(kReadAck, 25, 0x36E6), "now");
    EXPECT_EQ(boiler["time"], "now");
    EXPECT_EQ(boiler["type_name"], "READ-ACK");
    EXPECT_EQ(boiler["direction"], "boiler_to_thermostat");
    EXPECT_EQ(boiler["name"], "Tboiler");
    EXPECT_EQ(boiler["fields"]["value"].get<double>(), 54.8984375); // exact, not the rounded text
    EXPECT_EQ(boiler["unit"], "°C");
    EXPECT_EQ(boiler["text"], "54.90 °C");
    EXPECT_EQ(boiler["raw"], 0x36E6);

    const nlohmann::ordered_json status = FrameJson(MakeFrame(kReadAck, 0, 0x0108), "now");
    EXPECT_EQ(status["fields"]["master"]["ch_enable"], true);
    EXPECT_EQ(status["fields"]["slave"]["flame_on"], true);
    EXPECT_EQ(status["fields"]["slave"]["fault"], false);
    EXPECT_TRUE(status["unit"].is_null());

    const nlohmann::ordered_json capacity = FrameJson(MakeFrame(kReadAck, 15, 0x180A), "now");
    EXPECT_EQ(capacity["fields"]["max_capacity"], 24);
    EXPECT_EQ(capacity["units"]["min_modulation"], "%");

    const nlohmann::ordered_json dayTime = FrameJson(MakeFrame(kWriteData, 20, (7 << 5 | 23) << 8 | 59), "now");
    EXPECT_EQ(dayTime["fields"], (nlohmann::ordered_json{{"weekday", 7}, {"hour", 23}, {"minute", 59}}));
}

TEST(DecodedOutputTest, JsonOfAnswersWithoutValueUnknownIdsAndBadTextStaysValid)
{
    const nlohmann::ordered_json unsupported = FrameJson(MakeFrame(kUnknownDataId, 14, 0), "now");
    EXPECT_TRUE(unsupported["fields"].is_null());
    EXPECT_EQ(unsupported["text"], "nepodporováno");

    const nlohmann::ordered_json unknown = FrameJson(MakeFrame(53, 200, 0x12FE), "now");
    EXPECT_TRUE(unknown["name"].is_null());
    EXPECT_TRUE(unknown["type_name"].is_null());
    EXPECT_TRUE(unknown["direction"].is_null());
    EXPECT_EQ(unknown["fields"], (nlohmann::ordered_json{{"hb", 0x12}, {"lb", 0xFE}}));

    // A time stamp that is not UTF-8 is replaced, and the line still parses.
    const std::string line = FrameJsonLine(MakeFrame(kReadAck, 25, 0), "bad \xFF time");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(line)["time"], "bad \xEF\xBF\xBD time");
}

} // namespace
} // namespace varmio::logger
