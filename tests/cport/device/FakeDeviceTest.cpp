// SPDX-License-Identifier: GPL-3.0-or-later
// The scripted fake device: its record of calls, its failure script and the line it simulates.

#include "DeviceTestSupport.h"
#include "FakeDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace cport::device {
namespace {

using ::testing::ElementsAre;
using namespace test;

TEST(FakeDeviceTest, RecordsEveryCallWithItsArgumentsInOrder)
{
    FakeDevice fake;
    ASSERT_TRUE(fake.Open("COM12"));
    ASSERT_TRUE(fake.SetupComm(1024, 1024));
    ASSERT_TRUE(fake.SetCommState(Line(19200)));
    ASSERT_TRUE(fake.SetCommTimeouts(kAtOnce));
    ASSERT_TRUE(fake.SetCommMask(0x05FF));
    ASSERT_TRUE(fake.PurgeComm(PURGE_TXABORT | PURGE_RXABORT));
    DWORD status = 0;
    ASSERT_TRUE(fake.GetCommModemStatus(status));
    ASSERT_TRUE(fake.Close());

    EXPECT_THAT(fake.CallLog(),
                ElementsAre("Open(COM12)", "SetupComm(1024, 1024)",
                            "SetCommState(BaudRate=19200, Flags=0x0001, XonLim=256, XoffLim=256, ByteSize=8, "
                            "Parity=0, StopBits=0, XonChar=17, XoffChar=19, ErrorChar=0, EofChar=0, EvtChar=0)",
                            "SetCommTimeouts(4294967295, 0, 0, 100, 1000)", "SetCommMask(0x05FF)", "PurgeComm(0x0003)",
                            "GetCommModemStatus()", "Close()"));
    EXPECT_THAT(fake.CallLog({FakeDevice::opOpen, FakeDevice::opClose}), ElementsAre("Open(COM12)", "Close()"));
    EXPECT_EQ(fake.CallCount(FakeDevice::opSetupComm), 1);
    EXPECT_EQ(fake.OpenName(), "COM12");
    EXPECT_EQ(fake.CommState(), Line(19200));
    EXPECT_EQ(fake.CommTimeouts(), kAtOnce);
    EXPECT_EQ(fake.InQueueSize(), 1024u);
    fake.ClearCalls();
    EXPECT_TRUE(fake.Calls().empty());
}

TEST(FakeDeviceTest, ScriptedFailureFailsTheCallWithItsNumberAndWithoutEffect)
{
    FakeDevice fake;
    fake.FailCall(FakeDevice::opOpen, ENOENT);
    EXPECT_FALSE(fake.Open("COM3"));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(fake.IsOpen());
    ASSERT_TRUE(fake.Open("COM3")) << "one failure only";

    fake.FailCall(FakeDevice::opSetCommState, EINVAL, FakeDevice::kAlways);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(fake.SetCommState(Line(19200)));
        EXPECT_EQ(GetLastError(), EINVAL);
    }
    EXPECT_EQ(fake.CommState(), DCB{});
    fake.ClearFailures();
    EXPECT_TRUE(fake.SetCommState(Line(19200)));
    EXPECT_EQ(fake.CallCount(FakeDevice::opSetCommState), 4) << "failed calls are recorded too";
}

TEST(FakeDeviceTest, AFailedTransferStartLeavesItsEventClear)
{
    FakeDevice fake;
    ASSERT_TRUE(fake.Open("COM1"));
    ASSERT_TRUE(fake.SetCommMask(EV_RXCHAR));
    fake.FailCall(FakeDevice::opWaitCommEvent, EIO);
    fake.FailCall(FakeDevice::opReadFile, EIO);
    Transfer t;
    EXPECT_FALSE(fake.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(GetLastError(), EIO);
    EXPECT_FALSE(t.event.IsSet());
    char buffer[4];
    DWORD n = 0;
    t.event.Set();
    EXPECT_FALSE(fake.ReadFile(buffer, 4, n, t.ov));
    EXPECT_FALSE(t.event.IsSet());
}

TEST(FakeDeviceTest, CallsOnAClosedDeviceFailAsOnAnInvalidHandle)
{
    FakeDevice fake;
    DWORD status = 0;
    EXPECT_FALSE(fake.GetCommModemStatus(status)) << "never opened";
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(fake.Open(""));
    EXPECT_EQ(GetLastError(), ENOENT);
    ASSERT_TRUE(fake.Open("x"));
    EXPECT_FALSE(fake.Open("x"));
    EXPECT_EQ(GetLastError(), EBUSY);
}

TEST(FakeDeviceTest, ModemLinesReportTheirStateAndRaiseTheirEvents)
{
    FakeDevice fake;
    ASSERT_TRUE(fake.Open("COM1"));
    ASSERT_TRUE(fake.SetCommMask(EV_CTS | EV_DSR | EV_RLSD | EV_RING));
    Transfer t;
    ASSERT_FALSE(fake.WaitCommEvent(t.mask, t.ov));
    fake.SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    ASSERT_TRUE(t.event.IsSet());
    EXPECT_EQ(t.mask, EV_CTS | EV_RLSD);
    DWORD status = 0;
    ASSERT_TRUE(fake.GetCommModemStatus(status));
    EXPECT_EQ(status, MS_CTS_ON | MS_RLSD_ON);

    ASSERT_FALSE(fake.WaitCommEvent(t.mask, t.ov));
    fake.SetModemStatus(MS_CTS_ON | MS_RLSD_ON | MS_RING_ON);
    ASSERT_TRUE(t.event.IsSet());
    EXPECT_EQ(t.mask, EV_RING);
    ASSERT_FALSE(fake.WaitCommEvent(t.mask, t.ov));
    fake.SetModemStatus(MS_CTS_ON | MS_RLSD_ON); // the ring ending is no event
    EXPECT_FALSE(t.event.IsSet());
    ASSERT_TRUE(fake.Close()); // ends the wait while its record still exists
}

TEST(FakeDeviceTest, LineErrorsAndRaisedEventsReachWaitAndClearCommError)
{
    FakeDevice fake;
    ASSERT_TRUE(fake.Open("COM1"));
    ASSERT_TRUE(fake.SetCommMask(EV_ERR | EV_TXEMPTY));
    fake.AddLineErrors(CE_RXPARITY | CE_IOE);
    fake.RaiseEvents(EV_TXEMPTY);
    Transfer t;
    ASSERT_TRUE(fake.WaitCommEvent(t.mask, t.ov));
    EXPECT_EQ(t.mask, EV_ERR | EV_TXEMPTY);
    DWORD errors = 0;
    COMSTAT stat;
    fake.Receive("12345");
    ASSERT_TRUE(fake.ClearCommError(errors, stat));
    EXPECT_EQ(errors, CE_RXPARITY | CE_IOE);
    EXPECT_EQ(stat.cbInQue, 5u);
}

TEST(FakeDeviceTest, BytesSentWhileClosedArriveAtOpen)
{
    FakeDevice fake;
    fake.Receive("early");
    ASSERT_TRUE(fake.Open("COM1"));
    ASSERT_TRUE(fake.SetCommTimeouts(kAtOnce));
    EXPECT_EQ(ReadNow(fake, 10), "early");
}

TEST(FakeDeviceTest, DsrSensitivityIgnoresBytesWhileDsrIsOff)
{
    FakeDevice fake;
    ASSERT_TRUE(fake.Open("COM1"));
    DCB dcb = Line(19200);
    dcb.Flags |= fDsrSensitivity;
    ASSERT_TRUE(fake.SetCommState(dcb));
    ASSERT_TRUE(fake.SetCommTimeouts(kAtOnce));
    fake.Receive("lost");
    fake.SetModemStatus(MS_DSR_ON);
    fake.Receive("kept");
    EXPECT_EQ(ReadNow(fake, 10), "kept");
}

TEST(FakeDeviceTest, AReopenAfterRemovalFindsTheDevicePresentAgain)
{
    FakeDevice fake;
    ASSERT_TRUE(fake.Open("COM1"));
    fake.Remove(ENODEV);
    DWORD status = 0;
    EXPECT_FALSE(fake.GetCommModemStatus(status));
    EXPECT_TRUE(fake.Close());
    ASSERT_TRUE(fake.Open("COM1"));
    EXPECT_TRUE(fake.GetCommModemStatus(status));
}

TEST(FakeDeviceTest, FactoryDevicesShareOneFakeAcrossReopens)
{
    auto fake = std::make_shared<FakeDevice>();
    DeviceFactory factory = FakeDevice::FactoryFor(fake);
    {
        auto first = factory();
        ASSERT_TRUE(first->Open("COM5"));
        ASSERT_TRUE(first->Close());
    }
    auto second = factory();
    ASSERT_TRUE(second->Open("COM6"));
    EXPECT_TRUE(fake->IsOpen());
    EXPECT_THAT(fake->CallLog(), ElementsAre("Open(COM5)", "Close()", "Open(COM6)"));
}

} // namespace
} // namespace cport::device
