// SPDX-License-Identifier: GPL-3.0-or-later
// Writing on a pseudo-terminal: a long stream through WriteData and WriteDataAsync arrives whole and in
// order, a write the far end does not take ends when its write timeouts run out, and CancelAllIO ends
// one that has no timeouts as a failed write.

#include "support/PtyPair.h"

#include "cport/ComPort.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace cport::test {
namespace {

using varmio::test::PtyPair;

TEST(PortWritePtyTest, TenMegabytesThroughWriteDataAndWriteDataAsyncArriveInOrder)
{
    PtyPair pty;
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
    port.OpenPort();
    constexpr std::size_t kTotal = 10u * 1024u * 1024u, kChunk = 64u * 1024u;
    std::string data(kTotal, '\0');
    std::uint32_t x = 1;
    for (char& c : data) c = static_cast<char>((x = x * 1664525u + 1013904223u) >> 24);

    std::string got;
    got.reserve(kTotal);
    std::jthread farEnd([&] {
        char buffer[65536];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (got.size() < kTotal && std::chrono::steady_clock::now() < deadline) {
            pollfd p{pty.Master(), POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
            if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
        }
    });
    // Alternating: a blocking write, then an asynchronous one completed through its record.
    PAsyncIo record;
    NewAsyncRecord(record);
    for (std::size_t at = 0; at < kTotal; at += kChunk) {
        const auto count = static_cast<std::int32_t>(kChunk);
        if ((at / kChunk) % 2 == 0) {
            ASSERT_EQ(port.WriteData(data.data() + at, count), count);
        } else {
            port.WriteDataAsync(data.data() + at, count, record);
            ASSERT_EQ(port.CompleteAsync(record), count);
        }
    }
    farEnd.join();
    ASSERT_EQ(got.size(), kTotal);
    EXPECT_TRUE(got == data) << "the bytes arrived changed or out of order";
}

TEST(PortWritePtyTest, AWriteTheLineDoesNotTakeEndsWithWhatWentWhenTheTimeoutsRunOut)
{
    PtyPair pty; // the master never reads: the line fills and stays full
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(300);
    port.OpenPort();
    // No handler: a write cut short by its timeouts is no error, so nothing may be raised.
    const std::string block(1024 * 1024, 'z');
    const auto start = std::chrono::steady_clock::now();
    const std::int32_t written = port.WriteData(block.data(), static_cast<std::int32_t>(block.size()));
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<std::int32_t>(block.size()));
    EXPECT_GE(tookMs, 300);
    EXPECT_LT(tookMs, 300 + 2000) << "the caller waited well beyond the timeouts";
    // What it said went, went: the master holds exactly that many bytes.
    std::size_t onLine = 0;
    char buffer[65536];
    for (pollfd p{pty.Master(), POLLIN, 0}; ::poll(&p, 1, 100) > 0 && (p.revents & POLLIN);) {
        const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
        if (n <= 0) break;
        onLine += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(onLine, static_cast<std::size_t>(written));
}

TEST(PortWritePtyTest, CancelAllIOEndsAStalledAsyncWriteAsAbortedAndTheNextWriteGoesOut)
{
    PtyPair pty; // the master is not read until the cancel: the line fills and stays full
    TComPort port;
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
    port.Timeouts().SetWriteTotalMultiplier(0);
    port.Timeouts().SetWriteTotalConstant(0); // no limit: only the cancel ends the write
    port.OpenPort();
    const std::string block(4 * 1024 * 1024, 'z');
    PAsyncIo stalled, next;
    NewAsyncRecord(stalled);
    NewAsyncRecord(next);
    EXPECT_EQ(port.WriteDataAsync(block.data(), static_cast<std::int32_t>(block.size()), stalled), 0);
    port.CancelAllIO();
    try {
        port.CompleteAsync(stalled);
        ADD_FAILURE() << "an aborted write is a failed write";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), ComErrorCode(CE_WriteFailed));
        EXPECT_EQ(e.WinErrorCode(), device::kErrorOperationAborted);
    }

    const std::string ok = "ok"; // alive until the write completes
    port.WriteStrAsync(ok, next);
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    char buffer[65536];
    while (!got.ends_with("ok") && std::chrono::steady_clock::now() < deadline) {
        pollfd p{pty.Master(), POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::read(pty.Master(), buffer, sizeof buffer);
        if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(port.CompleteAsync(next), 2);
    ASSERT_TRUE(got.ends_with("ok")) << "the write after the cancel did not arrive";
    EXPECT_LT(got.size(), block.size() + 2) << "the aborted write went on";
    FreeAsyncRecord(stalled);
    FreeAsyncRecord(next);
}

} // namespace
} // namespace cport::test
