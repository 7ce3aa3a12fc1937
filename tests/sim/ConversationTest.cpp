// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/Conversation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <vector>

namespace varmio::relaysim {
namespace {

using namespace std::chrono_literals;

constexpr int kHour = 3600; // exchanges per hour

std::vector<Exchange> Talk(std::uint64_t seed, int exchanges, std::chrono::seconds startTimeOfDay = 12h)
{
    Conversation conversation(seed, startTimeOfDay);
    std::vector<Exchange> out;
    out.reserve(static_cast<std::size_t>(exchanges));
    for (int i = 0; i < exchanges; ++i) out.push_back(conversation.NextExchange());
    return out;
}

double Decoded(const Packet& p) { return FromFixed88(p.Value(), p.DataId == 27); }

// The answers' decoded values for one data ID, in order.
std::vector<double> AnswersFor(const std::vector<Exchange>& talk, std::uint8_t id)
{
    std::vector<double> values;
    for (const Exchange& e : talk)
        if (e.Answer.DataId == id) values.push_back(Decoded(e.Answer));
    return values;
}

TEST(Fixed88, RoundsToTheNearest256thAndSaturates)
{
    EXPECT_EQ(ToFixed88(21.5, false), 0x1580);
    EXPECT_EQ(ToFixed88(-5.25, true), 0xFAC0);
    EXPECT_EQ(ToFixed88(-0.001, true), 0x0000);
    EXPECT_EQ(ToFixed88(45.501, false), 0x2D80);
    EXPECT_EQ(ToFixed88(-1.0, false), 0x0000); // unsigned saturates at 0
    EXPECT_EQ(ToFixed88(300.0, false), 0xFFFF);
    EXPECT_EQ(ToFixed88(-200.0, true), 0x8000);
    EXPECT_EQ(ToFixed88(200.0, true), 0x7FFF);
    EXPECT_EQ(ToFixed88(std::nan(""), true), 0x0000);
    EXPECT_EQ(FromFixed88(0xFAC0, true), -5.25);
    EXPECT_EQ(FromFixed88(0xFAC0, false), 250.75);
    EXPECT_EQ(MakePacket(mtReadAck, 25, 0x2D80).Bytes(),
              (std::array<std::uint8_t, kPacketSize>{0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80}));
}

TEST(Conversation, RequestsAndAnswersFollowTheProtocol)
{
    const std::set<int> written{1, 16, 24, 56};
    const std::set<int> read{0, 17, 25, 26, 27};
    std::map<int, int> seen;
    for (const Exchange& e : Talk(1, 4 * kHour)) {
        const Packet& q = e.Request;
        const Packet& a = e.Answer;
        SCOPED_TRACE(testing::Message() << "data ID " << int(q.DataId));
        ++seen[q.DataId];
        ASSERT_EQ(a.DataId, q.DataId);
        if (q.MsgType == mtWriteData) {
            ASSERT_EQ(a.MsgType, mtWriteAck);
            ASSERT_EQ(a.Value(), q.Value()); // a write is acknowledged with the value written
        } else {
            ASSERT_EQ(q.MsgType, mtReadData);
            ASSERT_TRUE(a.MsgType == mtReadAck || a.MsgType == mtUnknownDataId) << int(a.MsgType);
        }
        if (written.contains(q.DataId)) {
            ASSERT_EQ(q.MsgType, mtWriteData);
        }
        if (read.contains(q.DataId)) {
            ASSERT_EQ(q.MsgType, mtReadData);
            ASSERT_EQ(a.MsgType, mtReadAck);
        }
        if (q.DataId == 0) {
            ASSERT_EQ(q.ValueLow, 0); // the master's status is its high byte
            ASSERT_EQ(a.ValueHigh, q.ValueHigh);
        }
    }
    for (const int id : {0, 1, 16, 17, 24, 25, 26, 27, 56})
        EXPECT_GT(seen[id], 0) << "data ID " << id << " never asked";
    EXPECT_GE(seen.size(), 15u);
    const double statusShare = seen[0] / (4.0 * kHour);
    EXPECT_NEAR(statusShare, 1.0 / 3.0, 0.02);
}

TEST(Conversation, SendsAboutOneRequestAnswerPairPerSecond)
{
    Conversation conversation(3);
    TimedBytes run;
    std::chrono::microseconds lastRequest{-1s};
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(conversation.Next(run));
        ASSERT_EQ(run.Bytes.size(), kPacketSize);
        EXPECT_TRUE(run.Bytes[0] == kSyncByte && run.Bytes[1] == kSyncByte && run.Bytes[2] == kSyncByte);
        const bool isRequest = run.Bytes[3] == mtReadData || run.Bytes[3] == mtWriteData;
        ASSERT_EQ(isRequest, i % 2 == 0) << "packet " << i;
        if (isRequest) {
            EXPECT_EQ(run.At - lastRequest, 1s);
            lastRequest = run.At;
        } else {
            EXPECT_GE(run.At - lastRequest, 100ms);
            EXPECT_LT(run.At - lastRequest, 500ms);
        }
    }
    EXPECT_TRUE(conversation.Endless());
}

TEST(Conversation, TheSameSeedGivesTheSameFrames)
{
    const auto a = Talk(7, 2000);
    const auto b = Talk(7, 2000);
    const auto c = Talk(8, 2000);
    const auto sameFrames = [](const Exchange& x, const Exchange& y) {
        return x.Request == y.Request && x.Answer == y.Answer && x.AnswerAt == y.AnswerAt;
    };
    EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), sameFrames));
    EXPECT_FALSE(std::equal(a.begin(), a.end(), c.begin(), sameFrames));
}

TEST(Conversation, ValuesStayPlausibleAndChangeSlowly)
{
    struct Range {
        std::uint8_t Id;
        double Low, High, MaxStep; // MaxStep: largest change between two readings of the ID
    };
    const Range ranges[] = {
        {24, 12, 26, 0.1},  {16, 16, 23, 7}, {25, 5, 90, 30},     {26, 25, 70, 8},
        {27, -25, 25, 0.5}, {28, 5, 90, 30}, {18, 1.0, 2.5, 0.2}, {17, 0, 100, 100},
    };
    double coldest = 100;
    for (const std::uint64_t seed : {1, 2, 3, 4, 5, 6}) {
        const auto talk = Talk(seed, 24 * kHour);
        for (const Range& r : ranges) {
            const auto values = AnswersFor(talk, r.Id);
            ASSERT_FALSE(values.empty());
            const auto [low, high] = std::minmax_element(values.begin(), values.end());
            EXPECT_GE(*low, r.Low) << "seed " << seed << ", data ID " << int(r.Id);
            EXPECT_LE(*high, r.High) << "seed " << seed << ", data ID " << int(r.Id);
            for (std::size_t i = 1; i < values.size(); ++i)
                ASSERT_LE(std::abs(values[i] - values[i - 1]), r.MaxStep)
                    << "seed " << seed << ", data ID " << int(r.Id);
            if (r.Id == 27) coldest = std::min(coldest, *low);
        }
        for (const double setpoint : AnswersFor(talk, 1))
            ASSERT_TRUE(setpoint == 10.0 || (setpoint >= 25 && setpoint <= 75)) << setpoint;
        for (const double setpoint : AnswersFor(talk, 16))
            ASSERT_EQ(setpoint * 2, std::floor(setpoint * 2)) << "a dial in half degrees";
        for (const double modulation : AnswersFor(talk, 17))
            ASSERT_EQ(modulation, std::floor(modulation)); // whole percent
    }
    EXPECT_LT(coldest, 0) << "no seed gave a frosty night, so signed values went untried";
}

TEST(Conversation, BurnerCyclesSwitchTheFlameBit)
{
    for (const std::uint64_t seed : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        int flameChanges = 0, hotWaterRuns = 0, heatingRuns = 0;
        int lastStatus = -1;
        for (const Exchange& e : Talk(seed, 8 * kHour, 6h)) {
            if (e.Answer.DataId != 0) continue;
            const int status = e.Answer.ValueLow;
            const bool chEnabled = e.Answer.ValueHigh & 0x01;
            EXPECT_EQ(status & ~0x0E, 0) << "only CH, hot water and flame are ever set";
            if (status & 0x02) {
                ASSERT_TRUE(chEnabled) << "heating without the thermostat's consent";
            }
            if (status & 0x08) {
                ASSERT_NE(status & 0x06, 0) << "a flame with neither heating nor hot water";
            }
            if (lastStatus >= 0) {
                flameChanges += ((status ^ lastStatus) & 0x08) != 0;
                hotWaterRuns += (status & ~lastStatus & 0x04) != 0;
                heatingRuns += (status & ~lastStatus & 0x02) != 0;
            }
            lastStatus = status;
        }
        EXPECT_GE(flameChanges, 4);
        EXPECT_GE(hotWaterRuns, 1);
        EXPECT_GE(heatingRuns, 1);
    }
}

TEST(Conversation, ModulationIsZeroWhileTheFlameIsOut)
{
    const auto talk = Talk(2, 8 * kHour, 6h);
    int before = -1; // flame bit of the status before the modulation reading
    std::size_t checked = 0;
    for (std::size_t i = 0; i < talk.size(); ++i) {
        const Packet& a = talk[i].Answer;
        if (a.DataId == 0) {
            before = a.ValueLow & 0x08;
        } else if (a.DataId == 17 && before == 0) {
            const auto after = std::find_if(talk.begin() + static_cast<long>(i), talk.end(),
                                            [](const Exchange& e) { return e.Answer.DataId == 0; });
            if (after != talk.end() && (after->Answer.ValueLow & 0x08) == 0) {
                ASSERT_EQ(a.Value(), 0) << "exchange " << i;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100u);
}

TEST(Conversation, SyncBytesTurnUpInsideValues)
{
    for (const std::uint64_t seed : {1, 2, 3}) {
        int inside = 0;
        for (const Exchange& e : Talk(seed, 12 * kHour))
            for (const Packet& p : {e.Request, e.Answer})
                inside += p.DataId == kSyncByte || p.ValueHigh == kSyncByte || p.ValueLow == kSyncByte;
        EXPECT_GT(inside, 0) << "seed " << seed;
    }
}

TEST(Conversation, TheThermostatLowersItsSetpointAtNight)
{
    const auto setpoints = AnswersFor(Talk(4, 3 * kHour, 21h), 16);
    const auto [low, high] = std::minmax_element(setpoints.begin(), setpoints.end());
    EXPECT_GE(*high - *low, 2.5);
    EXPECT_GT(setpoints.front(), setpoints.back());
}

} // namespace
} // namespace varmio::relaysim
