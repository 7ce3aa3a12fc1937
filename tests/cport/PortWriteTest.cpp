// SPDX-License-Identifier: GPL-3.0-or-later
// Writing against the scripted fake device: what reaches the line, the links' notices and OnTxEmpty
// in their order, and failed and short writes.

#include "PortTestSupport.h"

#include <algorithm>
#include <cerrno>
#include <string>

namespace cport::test {
namespace {

class PortWriteTest : public PortFixture {
protected:
    PortWriteTest()
    {
        TraceLink(link, "link");
        link.SetOnLinkTxBuf([this](TObject*, const void* buffer, std::int32_t count) {
            Mark("link.TxBuf " + std::string(static_cast<const char*>(buffer), static_cast<std::size_t>(count)));
        });
        port->SetOnTxEmpty([this](TObject*) { Mark("TxEmpty"); });
        port->AttachLink(&link);
        port->OpenPort();
        ForgetDeviceCalls();
    }
    void TearDown() override
    {
        port->ClosePort();
        port->DetachLink(&link);
        PortFixture::TearDown();
    }
    bool Traced(const std::string& entry)
    {
        return loop.RunUntil(
            [&] {
                std::lock_guard lock(m_mutex);
                FlushAndKeep();
                return std::find(kept.begin(), kept.end(), entry) != kept.end();
            },
            kDeadlineMs);
    }
    void FlushAndKeep()
    {
        for (auto& e : TakeTrace()) kept.push_back(e);
    }

    TComLink link;
    std::vector<std::string> kept;
    std::mutex m_mutex;
};

TEST_F(PortWriteTest, AWriteGoesOutThenTheLinksSeeItThenTheEmptyQueueIsReported)
{
    char buffer[] = "hello";
    EXPECT_EQ(port->WriteData(buffer, 5), 5);
    buffer[0] = 'J'; // the links got a copy, not the caller's buffer
    EXPECT_EQ(port->WriteStr("!"), 1);
    EXPECT_EQ(fake->Transmitted(), "hello!");
    ASSERT_TRUE(Traced("TxEmpty"));
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [](const std::string& e) {
                                  return e.starts_with("dev:") && e != "dev:WriteFile(5)" && e != "dev:WriteFile(1)";
                              }),
               kept.end());
    const std::vector<std::string> start = {"link.Tx on", "dev:WriteFile(5)", "link.TxBuf hello",
                                            "link.Tx on", "dev:WriteFile(1)", "link.TxBuf !"};
    ASSERT_GE(kept.size(), start.size() + 3);
    EXPECT_EQ(std::vector<std::string>(kept.begin(), kept.begin() + 6), start);
    // The event thread's hand-over: the transmit light off, the links' pulse, then the handler.
    const auto off = std::find(kept.begin(), kept.end(), "link.Tx off");
    ASSERT_NE(off, kept.end());
    EXPECT_EQ(*(off + 1), "link.TxEmpty");
    EXPECT_EQ(*(off + 2), "TxEmpty");
}

TEST_F(PortWriteTest, AnAsyncWriteCompletesThroughItsRecordAndFailuresReportWriteFailed)
{
    CatchReports();
    PAsyncIo record;
    NewAsyncRecord(record);
    const std::string text = "async";
    const std::int32_t atOnce = port->WriteStrAsync(text, record);
    EXPECT_EQ(port->CompleteAsync(record), 5);
    EXPECT_TRUE(atOnce == 0 || atOnce == 5);
    EXPECT_EQ(fake->Transmitted(), "async");

    // A failed write: the system's error, nothing on the line, no copy handed to the links.
    fake->FailCall(FakeDevice::opWriteFile, EIO);
    EXPECT_EQ(port->WriteStr("lost"), 0);
    // A short write (the timeouts ran out): the count that went, and no error.
    fake->SetWriteLimit(2);
    EXPECT_EQ(port->WriteStr("cut"), 2);
    EXPECT_EQ(fake->Transmitted(), "asynccu");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_WriteFailed);
    EXPECT_EQ(reports[0].winError, EIO);
    FlushAndKeep();
    EXPECT_EQ(std::count(kept.begin(), kept.end(), "link.TxBuf cu"), 1);
    EXPECT_EQ(
        std::count_if(kept.begin(), kept.end(), [](const std::string& e) { return e.starts_with("link.TxBuf lost"); }),
        0);

    // Without a record, or on a closed port, nothing starts.
    PAsyncIo none;
    EXPECT_EQ(port->WriteDataAsync("x", 1, none), 0);
    port->ClosePort();
    EXPECT_EQ(port->WriteStr("x"), 0);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1].kind, CE_InvalidAsync);
    EXPECT_EQ(reports[2].kind, CEPortNotOpen);
}

} // namespace
} // namespace cport::test
