// SPDX-License-Identifier: GPL-3.0-or-later
// What the publisher makes of decoded frames: the quantities' topics and Home Assistant configs obey
// the rules Home Assistant enforces, values are plain numbers or ON/OFF, faults are entities of their
// own; broker addresses and password files are read strictly.

#include "support/TempDir.h"
#include "varmio/mqtt/Publisher.h"
#include "varmio/mqtt/Quantities.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <stdexcept>

namespace varmio::mqtt {
namespace {

const Quantity& Find(std::string_view object)
{
    for (const Quantity& q : Quantities())
        if (q.Object == object) return q;
    throw std::runtime_error("no quantity " + std::string(object));
}

std::string Value(std::string_view object, std::uint8_t msgType, std::uint16_t raw)
{
    const Quantity& q = Find(object);
    std::string out = "stale";
    QuantityValue(q, DecodeFrame(msgType, q.DataId, raw), out);
    return out;
}

TEST(QuantitiesTest, EveryQuantityHasItsOwnTopicAndAConfigHomeAssistantAccepts)
{
    // The units Home Assistant accepts with each device class used, and the classes that forbid
    // "measurement".
    const std::map<std::string, std::set<std::string>> units{
        {"temperature", {"°C"}}, {"pressure", {"bar"}}, {"volume_flow_rate", {"L/min"}}, {"duration", {"h"}},
        {"power", {"W", "kW"}},  {"energy", {"kWh"}},   {"carbon_dioxide", {"ppm"}},     {"frequency", {"Hz"}}};
    const Discovery names{"home/boiler", "homeassistant", "1.0"};
    std::set<std::string> objects;
    ASSERT_GT(Quantities().size(), 100u);
    for (const Quantity& q : Quantities()) {
        SCOPED_TRACE(q.Object);
        EXPECT_TRUE(std::regex_match(q.Object, std::regex("[a-z0-9_]+")));
        EXPECT_TRUE(objects.insert(q.Object).second) << "object id used twice";
        EXPECT_TRUE(
            std::regex_match(ConfigTopic(names, q),
                             std::regex("homeassistant/(sensor|binary_sensor)/home_boiler/" + q.Object + "/config")));
        const nlohmann::json config = ConfigJson(names, q);
        EXPECT_EQ(config.at("unique_id"), "home_boiler_" + q.Object);
        EXPECT_EQ(config.at("state_topic"), "home/boiler/" + q.Object);
        EXPECT_EQ(config.at("availability_topic"), "home/boiler/status");
        EXPECT_FALSE(config.at("name").get<std::string>().empty());
        EXPECT_EQ(config.at("device").at("identifiers"), nlohmann::json::array({"home_boiler"}));
        const std::string deviceClass = config.value("device_class", "");
        if (q.Kind == Component::BinarySensor) {
            EXPECT_TRUE(deviceClass.empty() || deviceClass == "problem" || deviceClass == "heat" ||
                        deviceClass == "running");
            EXPECT_FALSE(config.contains("unit_of_measurement"));
        } else if (!deviceClass.empty()) {
            ASSERT_TRUE(units.contains(deviceClass)) << deviceClass;
            EXPECT_TRUE(units.at(deviceClass).contains(config.value("unit_of_measurement", ""))) << deviceClass;
            if (deviceClass == "energy" || deviceClass == "duration") {
                EXPECT_EQ(config.value("state_class", ""), "total_increasing");
            }
        }
    }
    // Faults are entities of their own.
    EXPECT_EQ(Find("status_slave_fault").DeviceClass, "problem");
    EXPECT_EQ(Find("asf_flags_oem_fault_code").Kind, Component::Sensor);
    EXPECT_EQ(Find("asf_flags_low_water_pressure").DeviceClass, "problem");
    // A data ID read entry by entry has no single present value.
    EXPECT_TRUE(QuantitiesOf(11).empty());
}

TEST(QuantitiesTest, ValuesArePlainNumbersOrOnOffAndOnlyPresentValuesCount)
{
    EXPECT_EQ(Value("tboiler", kReadAck, 0x36E6), "54.90");
    EXPECT_EQ(Value("toutside", kReadAck, 0xFE80), "-1.50");
    EXPECT_EQ(Value("texhaust", kReadAck, 0xFFF6), "-10"); // S16
    EXPECT_EQ(Value("burner_starts", kReadAck, 61234), "61234");
    // Status: thermostat CH and DHW enabled; boiler fault and flame.
    EXPECT_EQ(Value("status_master_ch_enable", kReadAck, 0x0309), "ON");
    EXPECT_EQ(Value("status_master_cooling_enable", kReadAck, 0x0309), "OFF");
    EXPECT_EQ(Value("status_slave_fault", kReadAck, 0x0309), "ON");
    EXPECT_EQ(Value("status_slave_flame_on", kReadAck, 0x0309), "ON");
    EXPECT_EQ(Value("status_slave_ch_active", kReadAck, 0x0309), "OFF");
    EXPECT_EQ(Value("asf_flags_low_water_pressure", kReadAck, 0x042A), "ON");
    EXPECT_EQ(Value("asf_flags_oem_fault_code", kReadAck, 0x042A), "42");
    // Tuesday 13:05.
    EXPECT_EQ(Value("day_time_weekday", kWriteData, (2 << 13) | (13 << 8) | 5), "2");
    EXPECT_EQ(Value("day_time_hour", kWriteData, (2 << 13) | (13 << 8) | 5), "13");
    EXPECT_EQ(Value("day_time_minute", kWriteData, (2 << 13) | (13 << 8) | 5), "5");

    for (std::uint8_t type = 0; type < 8; ++type)
        EXPECT_EQ(CarriesPresentValue(type), type == kReadAck || type == kWriteData) << int(type);
}

TEST(BrokerAddressTest, HostWithOrWithoutPortAndNothingElse)
{
    std::string problem;
    const auto plain = ParseBrokerAddress("broker.lan", &problem);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->Host, "broker.lan");
    EXPECT_FALSE(plain->Port);
    const auto withPort = ParseBrokerAddress("127.0.0.1:18883", &problem);
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->Host, "127.0.0.1");
    EXPECT_EQ(withPort->Port, 18883);
    const auto v6 = ParseBrokerAddress("[::1]:1884", &problem);
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->Host, "::1");
    EXPECT_EQ(v6->Port, 1884);
    EXPECT_EQ(ParseBrokerAddress("::1", &problem)->Host, "::1");
    for (const char* bad : {"", ":1883", "host:", "host:0", "host:65536", "host:18x", "[::1", "[::1]x", "[]:1"}) {
        problem.clear();
        EXPECT_FALSE(ParseBrokerAddress(bad, &problem)) << bad;
        EXPECT_NE(problem.find("HOST[:PORT]"), std::string::npos) << bad;
    }
}

TEST(PasswordFileTest, TheFirstLineWithoutItsLineEnd)
{
    const test::TempDir dir;
    ASSERT_TRUE(test::WriteFile(dir / "crlf", "s3cret pass\r\nsecond line\n"));
    EXPECT_EQ(ReadPasswordFile(dir / "crlf"), "s3cret pass");
    ASSERT_TRUE(test::WriteFile(dir / "bare", "s3cret"));
    EXPECT_EQ(ReadPasswordFile(dir / "bare"), "s3cret");
    ASSERT_TRUE(test::WriteFile(dir / "empty", ""));
    ASSERT_TRUE(test::WriteFile(dir / "blank", "\nsecond\n"));
    for (const std::string& bad : {dir / "empty", dir / "blank", dir / "missing"}) {
        try {
            ReadPasswordFile(bad);
            ADD_FAILURE() << bad << " was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
        }
    }
}

} // namespace
} // namespace varmio::mqtt
