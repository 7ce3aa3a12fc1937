// The frame decoder: finding relay packets in the byte stream, the "Data" boxes and the raw log.

#include "FakeDisplay.h"

#include "varmio/Monitor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace varmio {
namespace {

using test::FakeDisplay;

class DecoderTest : public ::testing::Test {
protected:
    void Feed(std::initializer_list<int> bytes)
    {
        for (int b : bytes) monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
    }

    FakeDisplay display;
    Monitor monitor{display, Regional{}};
};

TEST_F(DecoderTest, FourthSyncByteIsTakenAsMessageType)
{
    Feed({0x35, 0x35, 0x35, 0x35, 0x00, 0x01, 0x02});
    ASSERT_EQ(display.rawLog.size(), 1u);
    EXPECT_EQ(monitor.CurrentFrame().MsgType, 53);
    EXPECT_EQ(monitor.CurrentFrame().DataId, 0);
    EXPECT_EQ(monitor.CurrentFrame().DataValue, 258);
}

TEST_F(DecoderTest, ByteBreakingTheSyncIsDroppedAndTheNextThreeSyncBytesStartAPacket)
{
    Feed({0x35, 0x35, 0x41, 0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    ASSERT_EQ(display.rawLog.size(), 1u);
    EXPECT_EQ(monitor.CurrentFrame().MsgType, 4);
    EXPECT_EQ(monitor.CurrentFrame().DataId, 25);
    EXPECT_EQ(monitor.CurrentFrame().DataValue, 11648);
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
    ASSERT_EQ(display.rawLog.size(), 1u);
    EXPECT_EQ(monitor.CurrentFrame().DataId, 0x35);
    EXPECT_EQ(monitor.CurrentFrame().DataValue, 0x3535);
}

TEST_F(DecoderTest, EveryPacketNeedsThreeSyncBytesOfItsOwn)
{
    // Bytes after a packet that are not sync bytes are dropped; a packet tail of sync bytes does not
    // count toward the next packet.
    Feed({0x35, 0x35, 0x35, 0x01, 0x18, 0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80, 0x00, 0x35, 0x35, 0x35,
          0x04, 0x11, 0x64, 0x00});
    ASSERT_EQ(display.rawLog.size(), 2u);
    EXPECT_EQ(display.rawLog[0], "  [Type: 1]  [24] :13621");
    EXPECT_EQ(display.rawLog[1], "  [Type: 4]  [17] :25600");
}

TEST_F(DecoderTest, PacketSplitAcrossCallsGivesTheSameFrameAsAWholeOne)
{
    const std::vector<std::uint8_t> packet = {0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80};
    FakeDisplay whole;
    Monitor wholeMonitor(whole, Regional{});
    for (auto b : packet) wholeMonitor.ProcessFrameByte(b);

    // Fed with unrelated display work in between, as receive events would interleave with the clock.
    for (std::size_t i = 0; i < packet.size(); ++i) {
        monitor.ProcessFrameByte(packet[i]);
        if (i == 2) display.dateTime = "later";
    }
    EXPECT_EQ(display.recordLog.size(), 1u);
    EXPECT_EQ(monitor.CurrentFrame().DataValue, wholeMonitor.CurrentFrame().DataValue);
    EXPECT_EQ(monitor.RawText(), wholeMonitor.RawText());
    EXPECT_EQ(display.rawLog[0], "later  " + whole.rawLog[0].substr(2));
}

TEST_F(DecoderTest, CompletedFrameIsShownInTheDataBoxesAndTheRawLog)
{
    display.dateTime = "7.12.2026; 13:05:20";
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80});
    EXPECT_EQ(display.Box(Box::Edit9), "4");
    EXPECT_EQ(display.Box(Box::Edit10), "25");
    EXPECT_EQ(display.Box(Box::Edit11), "11648");
    EXPECT_EQ(monitor.RawText(), "[Type: 4]  [25] :11648");
    ASSERT_EQ(display.rawLog.size(), 1u);
    EXPECT_EQ(display.rawLog[0], "7.12.2026; 13:05:20  [Type: 4]  [25] :11648");
}

TEST_F(DecoderTest, RawLineStartsWithTwoBlanksWhileTheDateTimeBoxIsEmpty)
{
    Feed({0x35, 0x35, 0x35, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_EQ(display.rawLog.size(), 1u);
    EXPECT_EQ(display.rawLog[0], "  [Type: 255]  [255] :65535");
    EXPECT_EQ(display.Box(Box::Edit11), "65535");
}

TEST_F(DecoderTest, ZeroValueIsShownAsZero)
{
    Feed({0x35, 0x35, 0x35, 0x00, 0x03, 0x00, 0x00});
    EXPECT_EQ(display.Box(Box::Edit9), "0");
    EXPECT_EQ(display.Box(Box::Edit11), "0");
    EXPECT_EQ(monitor.RawText(), "[Type: 0]  [3] :0");
}

TEST_F(DecoderTest, EveryFrameIsLoggedWhateverItsTypeAndDataId)
{
    for (int type = 0; type < 256; type += 17) {
        Feed({0x35, 0x35, 0x35, type, 200, 1, 0});
    }
    EXPECT_EQ(display.rawLog.size(), 16u);
    EXPECT_EQ(monitor.FrameCount(), 16);
}

TEST_F(DecoderTest, CurrentFrameKeepsTheLastFrameWhileTheNextIsIncomplete)
{
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80, 0x35, 0x35, 0x35, 0x01, 0x02});
    EXPECT_EQ(monitor.CurrentFrame().DataId, 25);
    EXPECT_EQ(monitor.RawText(), "[Type: 4]  [25] :11648");
    EXPECT_EQ(monitor.DecoderState(), 5);
}

} // namespace
} // namespace varmio
