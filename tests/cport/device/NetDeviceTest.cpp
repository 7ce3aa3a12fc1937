// SPDX-License-Identifier: GPL-3.0-or-later
// The network device against loopback servers: a raw bridge and a scripted Com Port Control server
// played by the test, and the real ser2net in front of a pseudo-terminal.

#include "DeviceTestSupport.h"
#include "support/NetTestSupport.h"
#include "support/PtyPair.h"

#include "cport/NetPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stop_token>
#include <string>
#include <thread>

namespace cport::device {
namespace {

using namespace test;
using varmio::test::LoopbackServer;
using varmio::test::Ser2net;

constexpr int kPatienceMs = 20'000;

const std::string kIac = "\xFF";
std::string Sb(const std::string& body) { return "\xFF\xFA\x2C" + body + "\xFF\xF0"; }
std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

class NetDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Ok()); }

    std::string Url(const char* scheme) const
    {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(server.Port());
    }

    void OpenRaw()
    {
        ASSERT_TRUE(device->Open(Url("socket"))) << std::strerror(GetLastError());
        ASSERT_TRUE(server.Accept());
        ConfigureAsAPort();
    }
    void ConfigureAsAPort(DWORD mask = EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_ERR | EV_BREAK)
    {
        ASSERT_TRUE(device->SetupComm(1024, 1024));
        ASSERT_TRUE(device->SetCommState(Line(19200))) << std::strerror(GetLastError());
        ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
        ASSERT_TRUE(device->SetCommMask(mask));
    }

    // Plays the server's side of the Com Port Control open: takes the client's offer, gives DO 44.
    void AcceptRfc2217Open()
    {
        ASSERT_TRUE(server.Accept());
        EXPECT_NE(server.Receive(15).find("\xFF\xFB\x2C"), std::string::npos) << "the client offers the option";
        ASSERT_TRUE(server.Send(Bytes({255, 253, 44, 255, 253, 0, 255, 251, 0})));
    }
    // Answers the four line settings of the next SetCommState with `answers` (or echoes them).
    std::string AnswerSettings(const std::string& answers = {})
    {
        // baud (10 bytes), data size, parity, stop size, flow out and in, DTR, RTS (7 each).
        std::string commands = server.Receive(10 + 7 * 7);
        if (answers.empty()) {
            std::string echo;
            for (std::size_t at = 0; (at = commands.find("\xFF\xFA\x2C", at)) != std::string::npos; at += 3) {
                const std::size_t end = commands.find("\xFF\xF0", at);
                std::string body = commands.substr(at + 3, end - at - 3);
                if (static_cast<unsigned char>(body[0]) > 4) continue; // controls: a pty has no answer
                body[0] = static_cast<char>(body[0] + 100);
                echo += Sb(body);
            }
            server.Send(echo);
        } else {
            server.Send(answers);
        }
        return commands;
    }

    DWORD NextEvent(Transfer& t, int timeoutMs = kPatienceMs)
    {
        if (!device->WaitCommEvent(t.mask, t.ov) && GetLastError() != kErrorIoPending) return 0;
        if (Event::WaitAny({&t.event}, timeoutMs) != 0) return 0;
        DWORD n = 0;
        return device->GetOverlappedResult(t.ov, n, false) ? t.mask : 0;
    }
    std::string ReadWaiting()
    {
        DWORD errors = 0;
        COMSTAT stat;
        if (!device->ClearCommError(errors, stat)) return {};
        return ReadNow(*device, stat.cbInQue);
    }
    std::string Receive(std::size_t count)
    {
        std::string received;
        while (received.size() < count && NextEvent(waiter) != 0) received += ReadWaiting();
        return received;
    }

    LoopbackServer server;
    Transfer waiter; // outlives the device
    std::unique_ptr<ISerialDevice> device = CreateSystemDevice();
};

std::string AllByteValues()
{
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

// ---- Opening ------------------------------------------------------------------------------------------

TEST_F(NetDeviceTest, NamesThatAreNoValidUrlFailAsInvalidAndRefusedHostsWithTheSystemsError)
{
    for (const char* name : {"socket://127.0.0.1", "rfc2217://:80", "tcp://127.0.0.1:80", "socket://::1:80"}) {
        EXPECT_FALSE(device->Open(name)) << name;
        EXPECT_EQ(GetLastError(), EINVAL) << name;
    }
    const std::uint16_t closed = varmio::test::FreeLoopbackPort();
    EXPECT_FALSE(device->Open("socket://127.0.0.1:" + std::to_string(closed)));
    EXPECT_EQ(GetLastError(), ECONNREFUSED);
    EXPECT_FALSE(device->IsOpen());
    // Once refused, the same device object opens a serial name as before.
    EXPECT_FALSE(device->Open("/dev/varmio-no-such-port"));
    EXPECT_EQ(GetLastError(), ENOENT);
}

// A listener whose accept queue is full drops further connection requests, so a connect to it hangs:
// the open gives up after the connect timeout (5 s) with ETIMEDOUT. Only bounds no load can break.
TEST_F(NetDeviceTest, AConnectThatIsNeverAnsweredTimesOut)
{
    varmio::test::UnansweringListener silent;
    ASSERT_TRUE(silent.Full());
    const auto url = [&](const char* scheme) {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(silent.Port());
    };
    for (const char* scheme : {"socket", "rfc2217"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(device->Open(url(scheme))) << scheme;
        EXPECT_EQ(GetLastError(), ETIMEDOUT) << scheme << ": " << std::strerror(GetLastError());
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("[ connect  ] %s: gave up after %lld ms\n", scheme, static_cast<long long>(took.count()));
        EXPECT_GE(took.count(), 4000) << scheme;
        EXPECT_LT(took.count(), 30'000) << scheme;
        EXPECT_FALSE(device->IsOpen());
    }
}

TEST_F(NetDeviceTest, OpensByHostNameAndByIpv6Address)
{
    ASSERT_TRUE(device->Open("socket://localhost:" + std::to_string(server.Port()))) << std::strerror(GetLastError());
    ASSERT_TRUE(server.Accept());
    ASSERT_TRUE(device->Close());

    LoopbackServer six(true);
    if (!six.Ok()) GTEST_SKIP() << "no IPv6 loopback";
    ASSERT_TRUE(device->Open("socket://[::1]:" + std::to_string(six.Port()))) << std::strerror(GetLastError());
    EXPECT_TRUE(six.Accept());
}

// ---- Checking that a bridge answers, without opening a port -------------------------------------------

TEST_F(NetDeviceTest, AProbeConnectsAndHangsUpOrGivesTheErrorTheOpenWouldMeet)
{
    EXPECT_EQ(ProbeNetPort(Url("rfc2217")), 0);
    ASSERT_TRUE(server.Accept());
    pollfd hangUp{server.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&hangUp, 1, kPatienceMs), 1);
    char byte = 0;
    EXPECT_EQ(::recv(server.Fd(), &byte, 1, 0), 0) << "the probe hangs up, saying nothing";
    EXPECT_EQ(ProbeNetPort("socket://127.0.0.1:" + std::to_string(varmio::test::FreeLoopbackPort())), ECONNREFUSED);
    EXPECT_EQ(ProbeNetPort("socket://127.0.0.1"), EINVAL);

    // A bridge whose connection requests go unanswered (the window's test waits for its timeout): a
    // stop ends the probe as cancelled.
    varmio::test::UnansweringListener silent;
    ASSERT_TRUE(silent.Full());
    const std::string name = "socket://127.0.0.1:" + std::to_string(silent.Port());
    std::stop_source stop;
    int stopped = -1;
    std::jthread probe([&] { stopped = ProbeNetPort(name, stop.get_token()); });
    stop.request_stop();
    probe.join();
    EXPECT_EQ(stopped, ECANCELED);
}

// ---- Raw bridges --------------------------------------------------------------------------------------

// (Bytes, events, purge and an orderly close are the device contract's; NetDrivers.cpp.)
TEST_F(NetDeviceTest, RawBridgeKeepsSettingsLocallyHasNoModemLinesAndAResetIsOneRemoval)
{
    OpenRaw();
    DCB odd = Line(9600);
    odd.Parity = ODDPARITY;
    EXPECT_TRUE(device->SetCommState(odd));
    DCB wrong = Line(9600);
    wrong.ByteSize = 9;
    EXPECT_FALSE(device->SetCommState(wrong));
    EXPECT_EQ(GetLastError(), EINVAL);
    DWORD status = 1;
    ASSERT_TRUE(device->GetCommModemStatus(status));
    EXPECT_EQ(status, 0u) << "no modem lines";
    EXPECT_EQ(server.Receive(1, 100), "") << "nothing is sent to a raw bridge";

    server.Drop(true);
    Transfer t;
    ASSERT_TRUE(device->WaitCommEvent(t.mask, t.ov) || GetLastError() == kErrorIoPending);
    ASSERT_EQ(Event::WaitAny({&t.event}, kPatienceMs), 0);
    DWORD n = 0;
    EXPECT_FALSE(device->GetOverlappedResult(t.ov, n, false));
    EXPECT_EQ(GetLastError(), ECONNRESET);
    EXPECT_FALSE(device->WaitCommEvent(t.mask, t.ov)) << "later waits fail at once";
    EXPECT_FALSE(t.event.IsSet()) << "and leave their event clear: a waiter blocks instead of spinning";
}

// ---- Com Port Control (a scripted server) -------------------------------------------------------------

TEST_F(NetDeviceTest, Rfc2217SendsTheLineSettingsAndChecksTheServersAnswers)
{
    std::thread serverSide([&] {
        AcceptRfc2217Open();
        server.Receive(15); // the line-state and modem-state masks (0xFF escaped)
        const std::string commands = AnswerSettings();
        // 256000 baud big-endian with its 0xFF-free bytes; 7 data bits; even parity; 2 stop bits.
        EXPECT_NE(commands.find(Sb(Bytes({1, 0, 3, 0xE8, 0}))), std::string::npos);
        EXPECT_NE(commands.find(Sb(Bytes({2, 7}))), std::string::npos);
        EXPECT_NE(commands.find(Sb(Bytes({3, 3}))), std::string::npos);
        EXPECT_NE(commands.find(Sb(Bytes({4, 2}))), std::string::npos);
        EXPECT_NE(commands.find(Sb(Bytes({5, 1}))), std::string::npos) << "no flow control";
        // A rate with a 0xFF byte goes escaped; the server holds another rate than asked for.
        const std::string second = server.Receive(11);
        EXPECT_EQ(second, Sb(Bytes({1, 0, 0, 0, 0xFF, 0xFF})));
        server.Receive(64, 300);
        server.Send(Sb(Bytes({101, 0, 0, 0x4B, 0})) + Sb(Bytes({102, 8})) + Sb(Bytes({103, 1})) + Sb(Bytes({104, 1})));
    });
    ASSERT_TRUE(device->Open(Url("rfc2217"))) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetupComm(1024, 1024));
    DCB dcb = Line(256000);
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    EXPECT_TRUE(device->SetCommState(dcb)) << std::strerror(GetLastError());
    EXPECT_FALSE(device->SetCommState(Line(255))) << "the server answered 19200";
    EXPECT_EQ(GetLastError(), EINVAL);
    serverSide.join();
}

TEST_F(NetDeviceTest, Rfc2217NotificationsBecomeModemEventsAndLineErrorsAndDataIsUnescaped)
{
    std::thread serverSide([&] {
        AcceptRfc2217Open();
        server.Receive(15);
        AnswerSettings();
    });
    ASSERT_TRUE(device->Open(Url("rfc2217"))) << std::strerror(GetLastError());
    ConfigureAsAPort();
    serverSide.join();

    ASSERT_TRUE(server.Send("a\xFF\xFF"
                            "b" +
                            Sb(Bytes({107, 0x11})) + "c"));
    EXPECT_EQ(Receive(4), "a\xFF"
                          "bc");
    DWORD status = 0;
    ASSERT_TRUE(device->GetCommModemStatus(status));
    EXPECT_EQ(status, MS_CTS_ON);
    ASSERT_TRUE(server.Send(Sb(Bytes({106, 0x08 | 0x10}))));
    DWORD events = 0;
    for (int i = 0; i < 3 && !(events & EV_ERR); ++i) events |= NextEvent(waiter);
    EXPECT_EQ(events & (EV_ERR | EV_BREAK), EV_ERR | EV_BREAK);
    DWORD errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(device->ClearCommError(errors, stat));
    EXPECT_EQ(errors, CE_FRAME | CE_BREAK);

    // A purge of the input asks the server to purge its receive buffer too.
    ASSERT_TRUE(device->PurgeComm(PURGE_RXCLEAR));
    EXPECT_EQ(server.Receive(7), Sb(Bytes({12, 1})));
}

TEST_F(NetDeviceTest, Rfc2217AnswersBehindAFullQueueAreFoundAndTheDataKeepsItsOrder)
{
    std::string stream;
    for (int i = 0; i < 64 * 1024; ++i) stream += static_cast<char>('a' + i % 26);
    std::thread serverSide([&] {
        AcceptRfc2217Open();
        server.Receive(15);
        server.Receive(10 + 7 * 7);
        // Far more data than the queue holds comes before the answers (as a relay streams while the
        // server works through the commands), then more after them.
        server.Send(stream.substr(0, 40'000) + Sb(Bytes({101, 0, 0, 0x4B, 0})) + Sb(Bytes({102, 8})) +
                    Sb(Bytes({103, 1})) + Sb(Bytes({104, 1})) + stream.substr(40'000));
    });
    ASSERT_TRUE(device->Open(Url("rfc2217"))) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetupComm(1024, 1024));
    EXPECT_TRUE(device->SetCommState(Line(19200))) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
    serverSide.join();
    EXPECT_TRUE(Receive(stream.size()) == stream) << "every byte, in order";
}

TEST_F(NetDeviceTest, Rfc2217OnARawBridgeOrAPlainTelnetServerFailsAsUnsupported)
{
    std::thread rawSide([&] {
        ASSERT_TRUE(server.Accept());
        server.Send(std::string(64, '\x35'));
    });
    EXPECT_FALSE(device->Open(Url("rfc2217")));
    EXPECT_EQ(GetLastError(), EPROTONOSUPPORT);
    rawSide.join();

    std::thread telnetSide([&] {
        ASSERT_TRUE(server.Accept());
        server.Receive(15);
        server.Send("\xFF\xFE\x2C"); // DONT COM-PORT-OPTION
    });
    EXPECT_FALSE(device->Open(Url("rfc2217")));
    EXPECT_EQ(GetLastError(), EPROTONOSUPPORT);
    telnetSide.join();
    EXPECT_FALSE(device->IsOpen());
}

// ---- The real ser2net in front of a pseudo-terminal ---------------------------------------------------

class Ser2netDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Ser2net::Installed()) GTEST_SKIP() << "ser2net is not installed (scripts/install-deps.sh)";
        // Our own descriptor on the slave keeps the line up between ser2net's opens.
        m_slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(m_slave, 0);
        bridge = std::make_unique<Ser2net>(pty.SlavePath());
        ASSERT_TRUE(bridge->Running()) << "ser2net did not start";
    }
    void TearDown() override
    {
        device.reset();
        bridge.reset();
        if (m_slave >= 0) ::close(m_slave);
    }

    varmio::test::PtyPair pty;
    int m_slave = -1;
    std::unique_ptr<Ser2net> bridge;
    Transfer waiter;
    std::unique_ptr<ISerialDevice> device = CreateSystemDevice();
};

TEST_F(Ser2netDeviceTest, ASpeedSetThroughRfc2217ReachesTheLineAndBytesComeBack)
{
    ASSERT_TRUE(device->Open("rfc2217://127.0.0.1:" + std::to_string(bridge->Rfc2217Port())))
        << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetupComm(4096, 4096));
    ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
    ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
    for (const DWORD rate : {19200u, 4800u}) {
        ASSERT_TRUE(device->SetCommState(Line(rate))) << rate << ": " << std::strerror(GetLastError());
        EXPECT_EQ(pty.LineSpeed(), rate == 19200 ? B19200 : B4800);
    }
    const std::string bytes = AllByteValues();
    ASSERT_EQ(::write(pty.Master(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    std::string received;
    Transfer& t = waiter;
    while (received.size() < bytes.size()) {
        if (!device->WaitCommEvent(t.mask, t.ov) && GetLastError() != kErrorIoPending) break;
        if (Event::WaitAny({&t.event}, kPatienceMs) != 0) break;
        received += ReadNow(*device, 4096);
    }
    EXPECT_EQ(received, bytes);
}

TEST_F(Ser2netDeviceTest, KillingTheBridgeIsOneRemoval)
{
    for (const bool rfc2217 : {false, true}) {
        SCOPED_TRACE(rfc2217 ? "rfc2217" : "raw");
        if (!bridge->Running()) bridge = std::make_unique<Ser2net>(pty.SlavePath());
        const std::uint16_t port = rfc2217 ? bridge->Rfc2217Port() : bridge->RawPort();
        ASSERT_TRUE(device->Open((rfc2217 ? "rfc2217://127.0.0.1:" : "socket://127.0.0.1:") + std::to_string(port)))
            << std::strerror(GetLastError());
        ASSERT_TRUE(device->SetCommState(Line(9600)));
        ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
        ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
        Transfer t;
        ASSERT_FALSE(device->WaitCommEvent(t.mask, t.ov));
        bridge->Stop(true);
        ASSERT_EQ(Event::WaitAny({&t.event}, kPatienceMs), 0);
        DWORD n = 0;
        EXPECT_FALSE(device->GetOverlappedResult(t.ov, n, false));
        EXPECT_EQ(GetLastError(), ECONNRESET);
        EXPECT_FALSE(device->WaitCommEvent(t.mask, t.ov));
        EXPECT_FALSE(t.event.IsSet());
        ASSERT_TRUE(device->Close());
    }
}

} // namespace
} // namespace cport::device
