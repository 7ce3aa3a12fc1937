// SPDX-License-Identifier: GPL-3.0-or-later
// The publisher against a real mosquitto broker, for what the logger's own tests (a replay, a broker
// away and back) do not show: a change within a second waits and only the latest follows; Home
// Assistant coming online gets the configs again; a refused login is told once however often it is
// retried.

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
using test::EventuallyRetained;
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

    test::MosquittoBroker broker;
    std::mutex mutex;
    std::vector<std::string> reports;
};

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
    ASSERT_TRUE(
        EventuallyRetained(broker.Port(), "homeassistant/#", [&](const auto& held) { return held.contains(topic); }));
    ASSERT_TRUE(test::PublishMessage(broker.Port(), topic, "", true)); // removes the config
    ASSERT_FALSE(RetainedMessages(broker.Port(), "homeassistant/#").contains(topic));
    ASSERT_TRUE(test::PublishMessage(broker.Port(), "homeassistant/status", "online", false));
    EXPECT_TRUE(
        EventuallyRetained(broker.Port(), "homeassistant/#", [&](const auto& held) { return held.contains(topic); }));
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
        for (std::size_t at = log.find("not authorised"); at != std::string::npos;
             at = log.find("not authorised", at + 1))
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
