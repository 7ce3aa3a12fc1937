// The publisher against a real mosquitto broker: values, configs and availability retained; a change
// within a second waits and only the latest follows; Home Assistant coming online gets the configs
// again; values posted while the broker is away arrive when it is back; a refused login is told once
// however often it is retried.

#include "support/Eventually.h"
#include "support/Mosquitto.h"
#include "varmio/mqtt/Publisher.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace varmio::mqtt {
namespace {

using namespace std::chrono_literals;
using test::Eventually;
using test::RetainedMessages;

Frame At(std::uint8_t type, std::uint8_t id, std::uint16_t raw)
{
    return {type, id, static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw), raw};
}

class PublisherTest : public ::testing::Test {
protected:
    explicit PublisherTest(test::BrokerOptions brokerOptions = {}) : broker(brokerOptions) {}

    PublisherOptions Options()
    {
        PublisherOptions o;
        o.Host = "127.0.0.1";
        o.Port = broker.Port();
        o.MaxBackoff = 200ms;
        o.Report = [this](const std::string& line) {
            std::lock_guard lock(mutex);
            reports.push_back(line);
        };
        return o;
    }
    std::vector<std::string> Reports()
    {
        std::lock_guard lock(mutex);
        return reports;
    }
    bool Holds(const std::string& topic, const std::string& payload)
    {
        return Eventually([&] { return RetainedMessages(broker.Port(), "#")[topic] == payload; });
    }

    test::MosquittoBroker broker;
    std::mutex mutex;
    std::vector<std::string> reports;
};

TEST_F(PublisherTest, ValuesConfigsAndAvailabilityAreRetainedAndAFinishLeavesOffline)
{
    Publisher publisher(Options());
    publisher.Post(At(kReadAck, 25, 0x36E6));
    publisher.Post(At(kReadData, 25, 0x1000)); // a request carries no present value
    publisher.Post(At(kReadAck, 0, 0x0309));
    publisher.Post(At(kWriteData, 24, 0x1480));
    ASSERT_TRUE(Holds("varmio/status", "online"));
    ASSERT_TRUE(Holds("varmio/tboiler", "54.90"));
    EXPECT_TRUE(Holds("varmio/tr", "20.50"));
    EXPECT_TRUE(Holds("varmio/status_slave_fault", "ON"));

    const auto configs = RetainedMessages(broker.Port(), "homeassistant/#");
    EXPECT_EQ(configs.size(), 2 + QuantitiesOf(0).size()) << "one config per quantity seen, no more";
    const auto config = nlohmann::json::parse(configs.at("homeassistant/sensor/varmio/tboiler/config"));
    EXPECT_EQ(config.at("unique_id"), "varmio_tboiler");
    EXPECT_EQ(config.at("state_topic"), "varmio/tboiler");
    EXPECT_EQ(config.at("unit_of_measurement"), "°C");
    EXPECT_EQ(config.at("device_class"), "temperature");
    EXPECT_EQ(config.at("state_class"), "measurement");
    EXPECT_TRUE(config.at("device").contains("name"));
    const auto fault = nlohmann::json::parse(configs.at("homeassistant/binary_sensor/varmio/status_slave_fault/config"));
    EXPECT_EQ(fault.at("device_class"), "problem");
    EXPECT_EQ(fault.at("payload_on"), "ON");

    publisher.Post(At(kReadAck, 25, 0x3700)); // within the second: held, then sent by Finish
    publisher.Finish();
    const auto held = RetainedMessages(broker.Port(), "varmio/#");
    EXPECT_EQ(held.at("varmio/tboiler"), "55.00");
    EXPECT_EQ(held.at("varmio/status"), "offline");
    EXPECT_EQ(Reports(), std::vector<std::string>{});
}

TEST_F(PublisherTest, AChangeWithinASecondWaitsAndOnlyTheLatestFollows)
{
    test::Subscription subscription(broker.Port(), "varmio/tboiler");
    Publisher publisher(Options());
    publisher.Post(At(kReadAck, 25, 40 * 256));
    ASSERT_TRUE(subscription.WaitFor("varmio/tboiler", "40.00"));
    publisher.Post(At(kReadAck, 25, 41 * 256));
    publisher.Post(At(kReadAck, 25, 42 * 256));
    ASSERT_TRUE(subscription.WaitFor("varmio/tboiler", "42.00"));
    const auto history = subscription.History("varmio/tboiler");
    ASSERT_EQ(history.size(), 2u) << "41.00 was published, or 40.00 twice";
    EXPECT_GE(history[1].first - history[0].first, 900ms);
}

TEST_F(PublisherTest, HomeAssistantComingOnlineGetsTheConfigsAgain)
{
    const std::string topic = "homeassistant/sensor/varmio/tboiler/config";
    Publisher publisher(Options());
    publisher.Post(At(kReadAck, 25, 0x36E6));
    ASSERT_TRUE(Eventually([&] { return RetainedMessages(broker.Port(), "homeassistant/#").contains(topic); }));
    ASSERT_TRUE(test::PublishMessage(broker.Port(), topic, "", true)); // removes the config
    ASSERT_FALSE(RetainedMessages(broker.Port(), "homeassistant/#").contains(topic));
    ASSERT_TRUE(test::PublishMessage(broker.Port(), "homeassistant/status", "online", false));
    EXPECT_TRUE(Eventually([&] { return RetainedMessages(broker.Port(), "homeassistant/#").contains(topic); }));
}

TEST_F(PublisherTest, ValuesPostedWhileTheBrokerIsAwayArriveWhenItIsBack)
{
    Publisher publisher(Options());
    publisher.Post(At(kReadAck, 25, 0x3000));
    ASSERT_TRUE(Holds("varmio/tboiler", "48.00"));
    broker.Stop();
    for (std::uint16_t raw = 0; raw < 20'000; ++raw) {
        publisher.Post(At(kReadAck, 25, raw));
        publisher.Post(At(kReadAck, 0, raw & 0xFF));
    }
    publisher.Post(At(kReadAck, 17, 0x4080));
    broker.Start(); // a fresh broker: it has lost everything retained
    EXPECT_TRUE(Holds("varmio/tboiler", "78.12")); // 19999 / 256
    EXPECT_TRUE(Holds("varmio/rel_mod_level", "64.50"));
    EXPECT_TRUE(Holds("varmio/status", "online"));
    EXPECT_TRUE(RetainedMessages(broker.Port(), "homeassistant/#").contains("homeassistant/sensor/varmio/rel_mod_level/config"));
    const auto told = Reports();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(told[0].find("connection lost"), std::string::npos) << told[0];
    EXPECT_NE(told[1].find("connected"), std::string::npos) << told[1];
}

class PublisherLoginTest : public PublisherTest {
protected:
    PublisherLoginTest() : PublisherTest({"varmio", "right"}) {}
};

TEST_F(PublisherLoginTest, ARefusedLoginIsToldOnceHoweverOftenItIsRetried)
{
    PublisherOptions options = Options();
    options.User = "varmio";
    options.Password = "wrong";
    options.MaxBackoff = 50ms;
    Publisher publisher(options);
    publisher.Post(At(kReadAck, 25, 0x36E6));
    auto refusals = [&] {
        const std::string log = broker.Log();
        std::size_t count = 0;
        for (std::size_t at = log.find("not authorised"); at != std::string::npos; at = log.find("not authorised", at + 1))
            ++count;
        return count;
    };
    ASSERT_TRUE(Eventually([&] { return refusals() >= 3; })) << broker.Log();
    const auto told = Reports();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("MQTT broker " + broker.Address() + ": the broker refused the user name or password"),
              std::string::npos)
        << told[0];
}

} // namespace
} // namespace varmio::mqtt
