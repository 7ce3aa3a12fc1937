// SPDX-License-Identifier: GPL-3.0-or-later
// The frame decoder: finding relay packets in the byte stream, the "Data" boxes and the raw log.

#include "MonitorFixture.h"

#include <string>
#include <vector>

namespace varmio {
namespace {

class DecoderTest : public test::MonitorFixture {
protected:
    void Feed(const std::vector<int>& bytes)
    {
        for (int b : bytes) monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
    }
};

TEST_F(DecoderTest, PacketsAreFoundOnlyAfterThreeFreshSyncBytes)
{
    struct Case {
        std::vector<int> bytes;
        std::vector<std::string> rawLog;
    };
    const Case cases[] = {
        // A fourth sync byte is the message type.
        {{0x35, 0x35, 0x35, 0x35, 0x00, 0x01, 0x02}, {"  [Type: 53]  [0] :258"}},
        // The byte breaking the sync is dropped; the next three sync bytes start a packet.
        {{0x35, 0x35, 0x41, 0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80}, {"  [Type: 4]  [25] :11648"}},
        // Sync bytes ending a packet do not count toward the next; non-sync bytes after a packet are
        // dropped.
        {{0x35, 0x35, 0x35, 0x01, 0x18, 0x35, 0x35, 0x35, 0x04, 0x19,
          0x2D, 0x80, 0x00, 0x35, 0x35, 0x35, 0x04, 0x11, 0x64, 0x00},
         {"  [Type: 1]  [24] :13621", "  [Type: 4]  [17] :25600"}},
        // The largest and the smallest values.
        {{0x35, 0x35, 0x35, 0xFF, 0xFF, 0xFF, 0xFF, 0x35, 0x35, 0x35, 0x00, 0x03, 0x00, 0x00},
         {"  [Type: 255]  [255] :65535", "  [Type: 0]  [3] :0"}},
    };
    for (const Case& c : cases) {
        display.rawLog.clear();
        Feed(c.bytes);
        EXPECT_EQ(display.rawLog, c.rawLog);
        EXPECT_EQ(monitor.DecoderState(), 0);
    }
}

TEST_F(DecoderTest, StatesFollowSyncAndFieldBytes)
{
    const std::vector<std::pair<int, int>> steps = {
        {0x35, 1}, {0x35, 2}, {0x00, 0}, // broken in state 2
        {0x35, 1}, {0x10, 0},            // broken in state 1
        {0x36, 0},                       // dropped in state 0
        {0x35, 1}, {0x35, 2}, {0x35, 3}, {0x01, 4}, {0x35, 5}, {0x35, 6},
    };
    for (auto [byte, state] : steps) {
        monitor.ProcessFrameByte(static_cast<std::uint8_t>(byte));
        EXPECT_EQ(monitor.DecoderState(), state) << "after byte " << byte;
    }
    EXPECT_EQ(monitor.PendingFrame()[0], 0x01);
    EXPECT_EQ(monitor.PendingFrame()[1], 0x35);
    EXPECT_EQ(monitor.PendingFrame()[2], 0x35);
    EXPECT_TRUE(display.rawLog.empty());

    monitor.ProcessFrameByte(0x35); // sync bytes inside a packet are field bytes
    EXPECT_EQ(monitor.DecoderState(), 0);
    EXPECT_EQ(monitor.CurrentFrame().DataId, 0x35);
    EXPECT_EQ(monitor.CurrentFrame().DataValue, 0x3535);
}

TEST_F(DecoderTest, CompletedFrameIsShownInTheDataBoxesAndTheRawLog)
{
    display.dateTime = "7.12.2026; 13:05:20";
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D});
    display.dateTime = "7.12.2026; 13:05:21"; // the line takes the time of the byte that completes it
    Feed({0x80, 0x35, 0x35, 0x35, 0x01, 0x02});
    EXPECT_EQ(display.Box(Box::FrameMsgType), "4");
    EXPECT_EQ(display.Box(Box::FrameDataId), "25");
    EXPECT_EQ(display.Box(Box::FrameDataValue), "11648");
    EXPECT_EQ(display.rawLog, std::vector<std::string>{"7.12.2026; 13:05:21  [Type: 4]  [25] :11648"});
    // The next packet is incomplete: the last frame stays.
    EXPECT_EQ(monitor.RawText(), "[Type: 4]  [25] :11648");
    EXPECT_EQ(monitor.CurrentFrame().MsgType, 4);
    EXPECT_EQ(monitor.CurrentFrame().ValueHigh, 0x2D);
    EXPECT_EQ(monitor.CurrentFrame().ValueLow, 0x80);
}

} // namespace
} // namespace varmio
