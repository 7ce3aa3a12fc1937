// SPDX-License-Identifier: GPL-3.0-or-later
// The byte path allocates nothing once its buffers are warm: every operator new is counted.

#include "support/CountingNew.h"
#include "support/RecordingDisplay.h"
#include "varmio/Monitor.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

namespace varmio {
namespace {

TEST(NoAllocationTest, FramesAllocateNothingOnceTheBuffersAreWarm)
{
    test::RecordingDisplay display(false); // stores no text: only the core's allocations count
    display.dateTime = "7.12.2026; 13:05:20";
    Monitor monitor(display, Regional{});
    // Long values and every status bit set give the longest lines there are.
    auto sendAll = [&](int high) {
        for (int id : {0, 24, 1, 26, 25, 17, 56, 16, 27, 3}) {
            for (int type : {0, 1, 4}) {
                for (int b : {0x35, 0x35, 0x35, type, id, high, 0xF3})
                    monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
            }
        }
    };
    sendAll(0xFF);
    sendAll(0x85);

    const long before = test::AllocationCount();
    for (int round = 0; round < 50; ++round) {
        display.changesOnly = round % 2 == 0;
        sendAll(round % 2 == 0 ? 0xFF : 0x85);
        monitor.ResetValues();
    }
    EXPECT_EQ(test::AllocationCount() - before, 0);
    EXPECT_EQ(display.rawLines, 52 * 30);
    EXPECT_GT(display.recordLines, 50 * 15);
}

TEST(NoAllocationTest, CounterSeesAllocations)
{
    const long before = test::AllocationCount();
    auto text = std::make_unique<std::string>(100, 'x');
    EXPECT_GT(test::AllocationCount(), before);
    EXPECT_EQ(text->size(), 100u);
}

} // namespace
} // namespace varmio
