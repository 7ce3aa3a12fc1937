// SPDX-License-Identifier: GPL-3.0-or-later
// The system device on pseudo-terminal pairs: the test writes on the master side what a serial line
// would deliver, and the device under test opens the slave side.

#include "DeviceTestSupport.h"
#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

namespace cport::device {
namespace {

using namespace test;

constexpr int kPatienceMs = 20'000; // a generous deadline for conditions that should come at once

// A pseudo-terminal pair; the master side stands for the far end of the line.
using varmio::test::PtyPair;

class PosixDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { device = CreateSystemDevice(); }

    // Opens the slave as a port does: queue sizes, line settings, timeouts, event mask.
    void OpenAsAPort(DWORD queueSize = 1024, DWORD mask = EV_RXCHAR)
    {
        ASSERT_TRUE(device->Open(pty.SlavePath())) << std::strerror(GetLastError());
        ASSERT_TRUE(device->SetupComm(queueSize, queueSize));
        ASSERT_TRUE(device->SetCommState(Line(19200))) << std::strerror(GetLastError());
        ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
        ASSERT_TRUE(device->SetCommMask(mask));
    }

    // Waits for the next line event; returns its mask, or 0 when none came within the deadline.
    DWORD NextEvent(Transfer& t, int timeoutMs = kPatienceMs)
    {
        device->WaitCommEvent(t.mask, t.ov);
        if (Event::WaitAny({&t.event}, timeoutMs) != 0) return 0;
        DWORD n = 0;
        return device->GetOverlappedResult(t.ov, n, false) ? t.mask : 0;
    }

    std::string ReadWaiting()
    {
        DWORD errors = 0;
        COMSTAT stat;
        EXPECT_TRUE(device->ClearCommError(errors, stat)) << GetLastError();
        std::string bytes(stat.cbInQue, '\0');
        Transfer t;
        DWORD n = 0;
        EXPECT_TRUE(device->ReadFile(bytes.data(), stat.cbInQue, n, t.ov)) << GetLastError();
        bytes.resize(n);
        return bytes;
    }

    // Receives `count` bytes the way a port's event loop does: wait for "character received", read
    // what is waiting.
    std::string Receive(std::size_t count)
    {
        std::string received;
        Transfer& t = waiter;
        while (received.size() < count) {
            if (NextEvent(t) == 0) break;
            received += ReadWaiting();
        }
        return received;
    }

    PtyPair pty;
    Transfer waiter; // outlives the device, which may still complete a wait on it when it closes
    std::unique_ptr<ISerialDevice> device;
};

std::string AllByteValues(int rounds)
{
    std::string bytes;
    for (int r = 0; r < rounds; ++r) {
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    }
    return bytes;
}

// ---- Opening ------------------------------------------------------------------------------------------

TEST_F(PosixDeviceTest, MissingAndEmptyNamesFailAsNotFound)
{
    EXPECT_FALSE(device->Open(""));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(device->Open("/dev/varmio-no-such-port"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(device->Open("varmio-no-such-port")) << "a bare name is looked up under /dev";
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(device->IsOpen());
}

TEST_F(PosixDeviceTest, BareNameIsLookedUpUnderDev)
{
    const std::string name = "varmio-test-" + std::to_string(::getpid());
    const std::string link = "/dev/" + name;
    if (::symlink(pty.SlavePath().c_str(), link.c_str()) != 0) GTEST_SKIP() << "cannot add a name under /dev";
    const bool opened = device->Open(name);
    ::unlink(link.c_str());
    ASSERT_TRUE(opened) << std::strerror(GetLastError());
    EXPECT_TRUE(device->IsOpen());
}

TEST_F(PosixDeviceTest, SomethingThatIsNoTerminalIsRefused)
{
    EXPECT_FALSE(device->Open("/dev/null"));
    EXPECT_EQ(GetLastError(), ENOTTY);
}

TEST_F(PosixDeviceTest, SecondOpenOfTheSameDeviceFailsAsBusy)
{
    ASSERT_TRUE(device->Open(pty.SlavePath()));
    auto second = CreateSystemDevice();
    EXPECT_FALSE(second->Open(pty.SlavePath()));
    EXPECT_EQ(GetLastError(), EBUSY);
    EXPECT_FALSE(device->Open(pty.SlavePath())) << "one device object holds one open";
    EXPECT_EQ(GetLastError(), EBUSY);
    ASSERT_TRUE(device->Close());
    EXPECT_TRUE(second->Open(pty.SlavePath())) << "closing releases the device";
}

TEST_F(PosixDeviceTest, CallsOnAClosedDeviceFail)
{
    DWORD status = 0;
    EXPECT_FALSE(device->GetCommModemStatus(status));
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(device->SetCommState(Line(9600)));
    EXPECT_FALSE(device->Close());
}

// ---- Line settings ------------------------------------------------------------------------------------

TEST_F(PosixDeviceTest, CustomRatesAreAccepted)
{
    OpenAsAPort();
    for (DWORD rate : {56000u, 128000u, 256000u, 14400u, 19200u}) {
        EXPECT_TRUE(device->SetCommState(Line(rate))) << rate << ": " << std::strerror(GetLastError());
    }
    // Bytes still pass at a custom rate.
    ASSERT_TRUE(device->SetCommState(Line(256000)));
    ASSERT_TRUE(pty.Write("rate"));
    EXPECT_EQ(Receive(4), "rate");
}

TEST_F(PosixDeviceTest, ASettingTheDeviceCannotHoldFailsAndTheLineKeepsWorking)
{
    OpenAsAPort();
    DCB seven = Line(19200);
    seven.ByteSize = 7; // a pseudo-terminal always carries 8 data bits
    EXPECT_FALSE(device->SetCommState(seven));
    EXPECT_EQ(GetLastError(), EINVAL);
    DCB bad = Line(19200);
    bad.StopBits = ONE5STOPBITS;
    EXPECT_FALSE(device->SetCommState(bad));
    EXPECT_EQ(GetLastError(), EINVAL);

    ASSERT_TRUE(pty.Write(AllByteValues(1)));
    EXPECT_TRUE(Receive(256) == AllByteValues(1));
}

TEST_F(PosixDeviceTest, DeviceWithoutModemLinesReportsEveryLineOffAndNoErrors)
{
    OpenAsAPort(1024, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_ERR | EV_BREAK);
    DCB dcb = Line(19200);
    dcb.Flags |= (DTR_CONTROL_ENABLE << fDtrControlShift) | (RTS_CONTROL_ENABLE << fRtsControlShift);
    ASSERT_TRUE(device->SetCommState(dcb)) << "setting lines a pty lacks is no failure";
    DWORD status = 0xFF;
    ASSERT_TRUE(device->GetCommModemStatus(status));
    EXPECT_EQ(status, 0u);
    DWORD errors = 0xFF;
    COMSTAT stat;
    ASSERT_TRUE(device->ClearCommError(errors, stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbInQue, 0u);
}

// ---- Receiving ----------------------------------------------------------------------------------------

TEST_F(PosixDeviceTest, AllByteValuesPassUnchangedWhileErrorsAreReplaced)
{
    OpenAsAPort();
    DCB dcb = Line(19200);
    dcb.Flags |= fParity | fErrorChar; // the kernel marks bytes in error, and escapes 0xFF to do so
    dcb.ErrorChar = '?';
    ASSERT_TRUE(device->SetCommState(dcb)) << std::strerror(GetLastError());
    const std::string sent = AllByteValues(8);
    ASSERT_TRUE(pty.Write(sent));
    EXPECT_TRUE(Receive(sent.size()) == sent);
}

// ---- Stopping, closing, removal ----------------------------------------------------------------------------

double CpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(PosixDeviceTest, IdleDeviceCostsNoCpu)
{
    OpenAsAPort(1024, 0x05FF); // every event a port selects by default
    Transfer& t = waiter;
    const double before = CpuSeconds();
    EXPECT_EQ(NextEvent(t, 300), 0u);
    EXPECT_LT(CpuSeconds() - before, 0.05);
}

TEST_F(PosixDeviceTest, ReopeningManyTimesLeaksNoDescriptor)
{
    auto count = [] {
        int n = 0;
        for (int fd = 0; fd < 4096; ++fd) n += ::fcntl(fd, F_GETFD) != -1;
        return n;
    };
    const int before = count();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(device->Open(pty.SlavePath())) << i << ": " << std::strerror(GetLastError());
        ASSERT_TRUE(device->Close());
    }
    EXPECT_EQ(count(), before);
}

// ---- Real hardware: only when VARMIO_TEST_PORT names a serial port ------------------------------------

TEST(PosixDeviceHardwareTest, NamedPortTakesLineSettingsAndReportsItsLines)
{
    const char* name = std::getenv("VARMIO_TEST_PORT");
    if (!name || !*name) GTEST_SKIP() << "set VARMIO_TEST_PORT to a serial port (ttyUSB0, /dev/ttyS0) to run";
    auto device = CreateSystemDevice();
    ASSERT_TRUE(device->Open(name)) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetupComm(1024, 1024));
    for (DWORD rate : {9600u, 19200u, 115200u}) {
        EXPECT_TRUE(device->SetCommState(Line(rate))) << rate << ": " << std::strerror(GetLastError());
    }
    DCB sevenEven = Line(19200); // a UART takes what a pseudo-terminal cannot
    sevenEven.ByteSize = 7;
    sevenEven.Parity = EVENPARITY;
    sevenEven.Flags |= (DTR_CONTROL_ENABLE << fDtrControlShift) | (RTS_CONTROL_ENABLE << fRtsControlShift);
    EXPECT_TRUE(device->SetCommState(sevenEven)) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetCommTimeouts(kAtOnce));
    ASSERT_TRUE(device->SetCommMask(0x05FF));
    DWORD status = 0;
    EXPECT_TRUE(device->GetCommModemStatus(status)) << std::strerror(GetLastError());
    EXPECT_EQ(status & ~(MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON), 0u);
    DWORD errors = 0;
    COMSTAT stat;
    EXPECT_TRUE(device->ClearCommError(errors, stat)) << std::strerror(GetLastError());
    ASSERT_TRUE(device->SetCommMask(0));
    EXPECT_TRUE(device->Close());
}

} // namespace
} // namespace cport::device
