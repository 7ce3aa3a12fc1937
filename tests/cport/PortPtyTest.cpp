// SPDX-License-Identifier: GPL-3.0-or-later
// The port on pseudo-terminals, as on a real serial line: opening, reading, settings reaching the
// device, resources over many opens, and received data streamed through the event thread.

#include "cport/ComPort.h"
#include "cport/Framework.h"
#include "cport/MainThread.h"
#include "support/Eventually.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace cport {
namespace {

constexpr int kDeadlineMs = 30000;

// The port opens the slave; the test writes to the master as the relay device would.
using Pty = varmio::test::PtyPair;

std::size_t OpenFileCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// The relay stream: 7-byte packets, three sync bytes then four bytes that count the packets, so the
// stream can be checked byte by byte at the receiving end.
std::uint8_t StreamByte(std::uint64_t index)
{
    const std::uint64_t packet = index / 7;
    const unsigned at = static_cast<unsigned>(index % 7);
    if (at < 3) return 0x35;
    return static_cast<std::uint8_t>(packet >> (8 * (6 - at)));
}

void FillStream(std::vector<std::uint8_t>& out, std::uint64_t from, std::size_t count)
{
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i) out[i] = StreamByte(from + i);
}

// Checks received bytes against the stream, in order.
struct StreamChecker {
    std::uint64_t received = 0;
    std::uint64_t mismatches = 0;
    void Take(const std::uint8_t* data, std::int32_t count)
    {
        for (std::int32_t i = 0; i < count; ++i)
            if (data[i] != StreamByte(received++)) ++mismatches;
    }
};

// The main window's port: 19200 baud, 8 data bits, no parity, one stop bit, no flow control, all
// events, handlers on the main thread.
std::unique_ptr<TComPort> MainWindowPort(const std::string& path)
{
    auto port = std::make_unique<TComPort>();
    port->SetPort(path);
    port->SetBaudRate(br19200);
    port->SetDataBits(dbEight);
    port->SetStopBits(sbOneStopBit);
    port->Parity().SetBits(prNone);
    port->FlowControl().SetFlowControl(fcNone);
    return port;
}

class PortPtyTest : public ::testing::Test {
protected:
    void TearDown() override { MainThreadQueue::ProcessQueuedCalls(); }
    Pty pty;
    THeadlessEventLoop loop;
};

TEST_F(PortPtyTest, OpeningAMissingDeviceFailsWithTheSystemsNumber)
{
    TComPort port;
    port.SetPort("/dev/varmio-no-such-port");
    try {
        port.OpenPort();
        FAIL() << "opened a missing device";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "Unable to open com port (Error: 2)");
        EXPECT_EQ(e.ComportCode(), 1);
        EXPECT_EQ(e.WinErrorCode(), 2);
    }
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortPtyTest, ReadDataReturnsAtOnceWithWhatIsWaiting)
{
    auto port = MainWindowPort(pty.SlavePath());
    port->SetEvents({evRxChar});
    std::vector<std::int32_t> counts, reads;
    std::string received;
    port->SetOnRxChar([&](TObject*, std::int32_t count) {
        char buffer[33];
        const std::int32_t n = port->ReadData(buffer, 33);
        counts.push_back(count);
        reads.push_back(n);
        received.append(buffer, static_cast<std::size_t>(n));
    });
    port->OpenPort();
    char buffer[33];
    EXPECT_EQ(port->ReadData(buffer, 33), 0) << "nothing waiting: returns at once with nothing";

    ASSERT_TRUE(pty.Write("\x35\x35\x35\x00\x18", 5));
    ASSERT_TRUE(loop.RunUntil([&] { return received.size() == 5; }, kDeadlineMs));
    EXPECT_EQ(received, std::string("\x35\x35\x35\x00\x18", 5));
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads, counts) << "each read took every byte that was waiting";
    EXPECT_EQ(port->ReadData(buffer, 33), 0);
}

TEST_F(PortPtyTest, ABaudRateChangeReachesAnOpenDeviceAtOnceAndAClosedOneAtTheNextOpen)
{
    auto port = MainWindowPort(pty.SlavePath());
    const speed_t found = pty.LineSpeed();
    port->OpenPort();
    EXPECT_EQ(pty.LineSpeed(), B19200);
    port->SetBaudRate(br57600);
    EXPECT_EQ(pty.LineSpeed(), B57600);
    port->ClosePort();
    EXPECT_EQ(pty.LineSpeed(), found) << "closing puts back what the port found";
    port->SetBaudRate(br115200);
    EXPECT_EQ(pty.LineSpeed(), found) << "a closed port touches no device";
    port->OpenPort();
    EXPECT_EQ(pty.LineSpeed(), B115200);
}

// Through the port's own reads: interval MAXDWORD with a total returns what is queued at once, and a
// multiplier of MAXDWORD over 4096 bytes is no limit rather than a read that ends at once with nothing.
TEST_F(PortPtyTest, ReadDataKeepsTheTimeoutsMeanings)
{
    auto port = MainWindowPort(pty.SlavePath());
    port->SetEvents({}); // nothing reads but the test
    port->OpenPort();
    ASSERT_TRUE(pty.Write("abc"));
    ASSERT_TRUE(varmio::test::Eventually([&] { return port->BytesWaiting() == 3; }));
    port->Timeouts().SetReadTotalConstant(500);
    char buffer[4096];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port->ReadData(buffer, 10), 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));

    port->Timeouts().SetReadInterval(0);
    port->Timeouts().SetReadTotalMultiplier(-1);
    port->Timeouts().SetReadTotalConstant(0);
    const std::string sent(4096, 'z');
    std::jthread writer([&] { pty.Write(sent); });
    EXPECT_EQ(port->ReadData(buffer, 4096), 4096);
}

// A terminal used as a port (--port /dev/tty) gets its echo and line editing back.
TEST_F(PortPtyTest, ClosingLeavesTheTerminalAsItWasFound)
{
    termios found{};
    ASSERT_EQ(tcgetattr(pty.Master(), &found), 0); // a master reads and writes its slave's settings
    found.c_lflag |= ECHO | ICANON;
    found.c_iflag |= ICRNL;
    cfsetospeed(&found, B9600);
    cfsetispeed(&found, B9600);
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &found), 0);
    ASSERT_EQ(tcgetattr(pty.Master(), &found), 0);

    auto port = MainWindowPort(pty.SlavePath());
    port->SetBaudRate(brCustom);
    port->SetCustomBaudRate(56000);
    port->OpenPort();
    termios now{};
    ASSERT_EQ(tcgetattr(pty.Master(), &now), 0);
    EXPECT_EQ(now.c_lflag & (ECHO | ICANON), 0u) << "raw while open";
    port->ClosePort();

    ASSERT_EQ(tcgetattr(pty.Master(), &now), 0);
    EXPECT_EQ(now.c_iflag, found.c_iflag);
    EXPECT_EQ(now.c_oflag, found.c_oflag);
    EXPECT_EQ(now.c_cflag, found.c_cflag);
    EXPECT_EQ(now.c_lflag, found.c_lflag);
    EXPECT_EQ(std::memcmp(now.c_cc, found.c_cc, sizeof now.c_cc), 0);
    EXPECT_EQ(cfgetospeed(&now), B9600);
}

TEST_F(PortPtyTest, ManyOpensAndClosesLeaveFilesAndMemoryWhereTheyWere)
{
    auto port = MainWindowPort(pty.SlavePath());
    // Warm up: the first opens create what the process keeps (thread stacks, allocator arenas).
    for (int i = 0; i < 200; ++i) {
        port->OpenPort();
        port->ClosePort();
    }
    const std::size_t files = OpenFileCount();
    const long memory = ResidentKiB();
    for (int i = 0; i < 10000; ++i) {
        port->OpenPort();
        ASSERT_TRUE(port->Connected());
        port->ClosePort();
    }
    EXPECT_EQ(OpenFileCount(), files);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers hold memory back on purpose (freed blocks, the history of every thread that ran);
    // the address sanitizer's leak check covers this instead.
    (void)memory;
#else
    EXPECT_LT(ResidentKiB() - memory, 1024) << "KiB grown over 10 000 cycles";
#endif
}

TEST_F(PortPtyTest, OpenAndCloseWhileBytesFlow)
{
    std::vector<std::string> errors;
    auto previous =
        SetApplicationExceptionHandler([&](TObject*, const std::exception& e) { errors.push_back(e.what()); });
    ::fcntl(pty.Master(), F_SETFL, ::fcntl(pty.Master(), F_GETFL) | O_NONBLOCK);
    std::atomic<bool> stop{false};
    std::jthread writer([&] {
        std::vector<std::uint8_t> chunk;
        std::uint64_t sent = 0;
        while (!stop) {
            FillStream(chunk, sent, 70);
            const ssize_t n = ::write(pty.Master(), chunk.data(), chunk.size());
            if (n > 0) {
                sent += static_cast<std::uint64_t>(n);
            } else {
                pollfd pfd{pty.Master(), POLLOUT, 0};
                ::poll(&pfd, 1, 20);
            }
        }
    });
    auto port = MainWindowPort(pty.SlavePath());
    std::int64_t received = 0;
    port->SetOnRxChar([&](TObject*, std::int32_t count) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count));
        received += port->ReadData(buffer.data(), count);
    });
    // What the process keeps from its first open (the main-thread queue's event) is counted in.
    std::size_t files = 0;
    for (int i = 0; i < 1000; ++i) {
        if (i == 1) files = OpenFileCount();
        const std::int64_t before = received;
        port->OpenPort();
        ASSERT_TRUE(loop.RunUntil([&] { return received > before; }, kDeadlineMs)) << "cycle " << i;
        port->ClosePort();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(OpenFileCount(), files);
    EXPECT_TRUE(errors.empty());
    SetApplicationExceptionHandler(std::move(previous));
}

TEST_F(PortPtyTest, AMillionPacketsAtFullSpeedArriveInOrderNoneLostOrDoubled)
{
    constexpr std::uint64_t kPackets = 1'000'000;
    constexpr std::uint64_t kBytes = kPackets * 7;
    auto port = MainWindowPort(pty.SlavePath());
    StreamChecker checker;
    std::vector<std::uint8_t> buffer;
    // The handler reads every byte that is waiting.
    port->SetOnRxChar([&](TObject*, std::int32_t count) {
        buffer.resize(static_cast<std::size_t>(count));
        checker.Take(buffer.data(), port->ReadData(buffer.data(), count));
    });
    port->OpenPort();
    std::jthread writer([&] {
        std::vector<std::uint8_t> chunk;
        for (std::uint64_t sent = 0; sent < kBytes;) {
            const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(kBytes - sent, 7 * 4096));
            FillStream(chunk, sent, size);
            if (!pty.Write(chunk.data(), chunk.size())) return;
            sent += size;
        }
    });
    ASSERT_TRUE(loop.RunUntil([&] { return checker.received >= kBytes; }, 600000));
    writer.join();
    EXPECT_EQ(checker.received, kBytes);
    EXPECT_EQ(checker.mismatches, 0u);
    char rest[8];
    EXPECT_EQ(port->ReadData(rest, 8), 0) << "nothing doubled";
}

TEST_F(PortPtyTest, PacketsAtLinePaceAllReachAHandlerThatReads33BytesPerEvent)
{
    // A minute by default; VARMIO_PACED_SECONDS shortens it for quick runs.
    const char* configured = std::getenv("VARMIO_PACED_SECONDS");
    const int seconds = configured ? std::max(1, std::atoi(configured)) : 60;
    auto port = MainWindowPort(pty.SlavePath());
    StreamChecker checker;
    // The main window's handler: up to 33 bytes per event, whatever Count says.
    port->SetOnRxChar([&](TObject*, std::int32_t) {
        std::uint8_t buffer[33];
        checker.Take(buffer, port->ReadData(buffer, 33));
    });
    port->OpenPort();

    // One packet at a time, at the pace of a 19200-baud line (10 bits a byte).
    const auto packetTime = std::chrono::microseconds(7 * 10 * 1'000'000 / 19200);
    const std::uint64_t packets = static_cast<std::uint64_t>(std::chrono::seconds(seconds) / packetTime);
    std::jthread writer([&] {
        std::vector<std::uint8_t> packet;
        auto due = std::chrono::steady_clock::now();
        for (std::uint64_t i = 0; i < packets; ++i) {
            FillStream(packet, i * 7, 7);
            if (!pty.Write(packet.data(), packet.size())) return;
            due += packetTime;
            std::this_thread::sleep_until(due); // the line's pace, not a synchronisation
        }
    });
    const std::uint64_t written = packets * 7;
    // Each arrival is one event whose handler reads up to 33 bytes, so once the events of the last
    // arrivals have been handled, every byte has been read or waits, and fewer than 33 wait. (Until
    // then more may wait for a moment: a check made between an arrival and its event's handler.)
    std::int32_t left = 0;
    const auto settledAt = [&](std::uint64_t total) {
        left = port->BytesWaiting();
        return checker.received + static_cast<std::uint64_t>(left) == total && left < 33;
    };
    ASSERT_TRUE(loop.RunUntil([&] { return settledAt(written); }, (seconds + 60) * 1000))
        << "received " << checker.received << " of " << written << ", " << left << " waiting";
    writer.join();
    EXPECT_EQ(checker.mismatches, 0u);

    // A burst larger than one read settles the same way ...
    std::vector<std::uint8_t> burst;
    FillStream(burst, written, 40);
    ASSERT_TRUE(pty.Write(burst.data(), burst.size()));
    ASSERT_TRUE(loop.RunUntil([&] { return settledAt(written + 40); }, kDeadlineMs))
        << "received " << checker.received << " of " << written + 40 << ", " << left << " waiting";
    // ... and what it left waiting is delivered, in order, by the next arrival.
    std::vector<std::uint8_t> next;
    FillStream(next, written + 40, 7);
    ASSERT_TRUE(pty.Write(next.data(), next.size()));
    ASSERT_TRUE(loop.RunUntil([&] { return checker.received >= written + 40; }, kDeadlineMs));
    EXPECT_EQ(checker.mismatches, 0u);
}

TEST_F(PortPtyTest, PullingTheDeviceDuringTrafficReportsOnceWithoutSpinningAndTheCloseWorks)
{
    std::vector<std::string> errors;
    auto previous =
        SetApplicationExceptionHandler([&](TObject*, const std::exception& e) { errors.push_back(e.what()); });
    auto port = MainWindowPort(pty.SlavePath());
    StreamChecker checker;
    port->SetOnRxChar([&](TObject*, std::int32_t count) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count));
        checker.Take(buffer.data(), port->ReadData(buffer.data(), count));
    });
    port->OpenPort();
    std::vector<std::uint8_t> chunk;
    FillStream(chunk, 0, 7000);
    ASSERT_TRUE(pty.Write(chunk.data(), chunk.size()));
    ASSERT_TRUE(loop.RunUntil([&] { return checker.received > 0; }, kDeadlineMs));
    pty.CloseMaster(); // the adapter is pulled out

    ASSERT_TRUE(loop.RunUntil([&] { return !errors.empty(); }, kDeadlineMs));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    EXPECT_FALSE(loop.RunUntil([&] { return errors.size() > 1; }, 500)) << "reported once";
    getrusage(RUSAGE_SELF, &after);
    const auto cpuMs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    };
    EXPECT_LT(cpuMs(after) - cpuMs(before), 100) << "CPU milliseconds spent in half a second after the removal";
    EXPECT_NO_THROW(port->ClosePort());
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(checker.mismatches, 0u);
    SetApplicationExceptionHandler(std::move(previous));
}

} // namespace
} // namespace cport
