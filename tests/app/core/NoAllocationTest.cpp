// The byte path allocates nothing once its buffers are warm: every operator new is counted.

#include "CountingNew.h"
#include "varmio/Monitor.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>

namespace varmio {
namespace {

// Keeps check marks and counts lines; stores no text, so that only the core's allocations count.
class CountingDisplay : public IDisplay {
public:
    void SetBoxText(Box, std::string_view text) override { boxBytes += text.size(); }
    bool IsChecked(StatusList list, int item) const override { return checks[Index(list)][Item(item)]; }
    void SetChecked(StatusList list, int item, bool checked) override { checks[Index(list)][Item(item)] = checked; }
    void AppendRawLog(std::string_view) override { ++rawLines; }
    void AppendRecordLog(std::string_view) override { ++recordLines; }
    bool ChangesOnly() const override { return changesOnly; }
    std::string_view DateTimeText() const override { return "7.12.2026; 13:05:20"; }

    std::array<std::array<bool, 8>, 2> checks{};
    long rawLines = 0;
    long recordLines = 0;
    std::size_t boxBytes = 0;
    bool changesOnly = true;

private:
    static std::size_t Index(StatusList list) { return list == StatusList::CheckListBox1 ? 0 : 1; }
    static std::size_t Item(int item) { return static_cast<std::size_t>(item); }
};

TEST(NoAllocationTest, FramesAllocateNothingOnceTheBuffersAreWarm)
{
    CountingDisplay display;
    Monitor monitor(display, Regional{});
    // Long values and every status bit set give the longest lines there are.
    auto sendAll = [&](int high) {
        for (int id : {0, 24, 1, 26, 25, 17, 56, 16, 27, 3}) {
            for (int type : {0, 1, 4}) {
                for (int b : {0x35, 0x35, 0x35, type, id, high, 0xF3}) monitor.ProcessFrameByte(static_cast<std::uint8_t>(b));
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
