// SPDX-License-Identifier: GPL-3.0-or-later
// The port object's lifecycle against the scripted fake device: the order of hooks, link notices and
// device calls in open and close (and in each way they fail), property setter rules, load
// completion, and the error table as the operations report it, raised and through OnException.

#include "PortTestSupport.h"

#include <algorithm>
#include <cerrno>
#include <functional>

namespace cport::test {
namespace {

using Trace = std::vector<std::string>;

const Trace kSignalsOff = {"L.CTS off", "L.DSR off", "L.RLSD off", "CTS off", "DSR off", "RLSD off"};
const Trace kSignalsReadOff = {"dev:GetCommModemStatus()", "L.CTS off",  "CTS off",
                               "dev:GetCommModemStatus()", "L.DSR off",  "DSR off",
                               "dev:GetCommModemStatus()", "L.RLSD off", "RLSD off"};
const Trace kThreadEnd = {"dev:SetCommMask(0x0000)", "dev:PurgeComm(0x000C)"};

Trace OpenTrace(const std::string& name = "COM1")
{
    return Concat<std::string>({{"BeforeOpen"},
                                DefaultOpenCalls(name),
                                {"dev:SetCommMask(0x05FF)", "L.Conn on", "AfterOpen"},
                                kSignalsReadOff});
}

Trace CloseTrace()
{
    return Concat<std::string>({kSignalsOff,
                                {"BeforeClose", "dev:PurgeComm(0x0003)"},
                                kThreadEnd,
                                {"dev:Close()", "L.Conn off", "AfterClose"}});
}

class PortLifecycleTest : public PortFixture {
protected:
    PortLifecycleTest()
    {
        TraceHooks();
        TraceLink(link, "L");
        port->AttachLink(&link);
    }
    void TearDown() override
    {
        if (port) port->DetachLink(&link);
        PortFixture::TearDown();
    }
    TComLink link;
};

// ---- Open and close ----------------------------------------------------------------------------------

TEST_F(PortLifecycleTest, OpenRunsHooksLinksAndDeviceCallsInOrder)
{
    port->OpenPort();
    EXPECT_EQ(TakeTrace(), OpenTrace());
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(port->EventThreadRunning());
    EXPECT_NE(port->DeviceHandle(), nullptr);
}

TEST_F(PortLifecycleTest, CloseReportsSignalsOffFirstAndTellsLinksBeforeAfterClose)
{
    port->OpenPort();
    ForgetDeviceCalls();
    port->ClosePort();
    EXPECT_EQ(TakeTrace(), CloseTrace());
    EXPECT_FALSE(port->Connected());
    EXPECT_FALSE(port->EventThreadRunning());
    EXPECT_EQ(port->DeviceHandle(), nullptr);
}

TEST_F(PortLifecycleTest, OpeningAnOpenPortAndClosingAClosedPortDoNothing)
{
    port->ClosePort();
    port->SetConnected(false);
    EXPECT_TRUE(TakeTrace().empty());
    port->SetConnected(true);
    ForgetDeviceCalls();
    port->OpenPort();
    port->SetConnected(true);
    EXPECT_TRUE(TakeTrace().empty());
}

TEST_F(PortLifecycleTest, ConnectedOpensAndCloses)
{
    port->SetConnected(true);
    EXPECT_EQ(TakeTrace(), OpenTrace());
    port->SetConnected(false);
    EXPECT_EQ(TakeTrace(), CloseTrace());
}

TEST_F(PortLifecycleTest, OpenWithNoEventsStartsNoThreadButStillReportsTheLines)
{
    port->SetEvents({});
    fake->SetModemStatus(device::MS_CTS_ON | device::MS_RLSD_ON);
    port->OpenPort();
    const Trace expected =
        Concat<std::string>({{"BeforeOpen"},
                             DefaultOpenCalls(),
                             {"L.Conn on", "AfterOpen"},
                             {"dev:GetCommModemStatus()", "L.CTS on", "CTS on", "dev:GetCommModemStatus()", "L.DSR off",
                              "DSR off", "dev:GetCommModemStatus()", "L.RLSD on", "RLSD on"}});
    EXPECT_EQ(TakeTrace(), expected);
    EXPECT_FALSE(port->EventThreadRunning());
    EXPECT_EQ(fake->CallCount(FakeDevice::opWaitCommEvent), 0);
    port->ClosePort();
    EXPECT_EQ(TakeTrace(),
              Concat<std::string>(
                  {kSignalsOff, {"BeforeClose", "dev:PurgeComm(0x0003)", "dev:Close()", "L.Conn off", "AfterClose"}}));
}

TEST_F(PortLifecycleTest, ChangingEventsOnAnOpenPortWaitsForTheNextOpen)
{
    port->SetEvents({evRxChar});
    port->OpenPort();
    port->SetEvents({evCTS});
    EXPECT_EQ(fake->CommMask(), device::EV_RXCHAR);
    port->ClosePort();
    port->OpenPort();
    EXPECT_EQ(fake->CommMask(), device::EV_CTS);
}

TEST_F(PortLifecycleTest, DestroyingAnOpenPortClosesItFirst)
{
    port->OpenPort();
    ForgetDeviceCalls();
    port->DetachLink(&link);
    port.reset();
    EXPECT_EQ(TakeTrace(),
              Concat<std::string>({{"CTS off", "DSR off", "RLSD off", "BeforeClose", "dev:PurgeComm(0x0003)"},
                                   kThreadEnd,
                                   {"dev:Close()", "AfterClose"}}));
}

// A port whose own device operations and close hook log what they do, and which closes itself in its
// destructor, while its overrides still run.
class LoggingPort : public TComPort {
public:
    LoggingPort(device::DeviceFactory factory, std::vector<std::string>& log) : TComPort(std::move(factory)), m_log(log)
    {
    }
    ~LoggingPort() override { ClosePort(); }

protected:
    void CreateDeviceHandle() override
    {
        std::unique_ptr<device::ISerialDevice> device = MakeDevice();
        m_log.push_back("create");
        if (!device->Open(Port())) return ReportComError(ComErrorCode(CE_OpenFailed), device::GetLastError());
        SetDeviceHandle(std::move(device));
    }
    void ReleaseDeviceHandle() override
    {
        m_log.push_back("release");
        if (DeviceHandle()->Close()) SetDeviceHandle(nullptr);
    }
    void FireAfterClose() override { m_log.push_back("after close"); }

private:
    std::vector<std::string>& m_log;
};

TEST_F(PortLifecycleTest, ADerivedPortStoresItsOwnDeviceAndClosesThroughItsOverrides)
{
    std::vector<std::string> log;
    auto derived = std::make_unique<LoggingPort>(FakeDevice::FactoryFor(fake), log);
    derived->OpenPort();
    ASSERT_NE(derived->DeviceHandle(), nullptr);
    EXPECT_TRUE(fake->IsOpen());
    derived.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"create", "release", "after close"}));
    EXPECT_FALSE(fake->IsOpen());
}

// ---- Open and close that fail ---------------------------------------------------------------------------

struct FailedOpenCase {
    FakeDevice::Op op;
    int code;
    const char* message;
    std::size_t callsMade; // device calls of the default open made before the failure stops it
};

class PortFailedOpenTest : public PortLifecycleTest, public ::testing::WithParamInterface<FailedOpenCase> {};

TEST_P(PortFailedOpenTest, StopsAtTheFailingStepAndReleasesTheDevice)
{
    const FailedOpenCase c = GetParam();
    fake->FailCall(c.op, EIO);
    try {
        port->OpenPort();
        FAIL() << "the open should have failed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), c.code);
        EXPECT_EQ(e.WinErrorCode(), EIO);
        EXPECT_EQ(e.Message(), std::string(c.message) + " (Error: " + std::to_string(EIO) + ")");
    }
    const Trace calls = DefaultOpenCalls();
    Trace expected{"BeforeOpen"};
    expected.insert(expected.end(), calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(c.callsMade));
    if (c.op != FakeDevice::opOpen) expected.push_back("dev:Close()");
    EXPECT_EQ(TakeTrace(), expected);
    EXPECT_FALSE(port->Connected());
    EXPECT_FALSE(port->EventThreadRunning());
    EXPECT_EQ(port->DeviceHandle(), nullptr);
    EXPECT_FALSE(fake->IsOpen());

    // Nothing is left half done: the next open succeeds in full.
    port->OpenPort();
    EXPECT_EQ(TakeTrace(), OpenTrace());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, PortFailedOpenTest,
    ::testing::Values(FailedOpenCase{FakeDevice::opOpen, 1, "Unable to open com port", 1},
                      FailedOpenCase{FakeDevice::opSetupComm, 9, "SetupComm function failed", 2},
                      FailedOpenCase{FakeDevice::opSetCommState, 7, "SetCommState function failed", 3},
                      FailedOpenCase{FakeDevice::opSetCommTimeouts, 8, "SetCommTimeouts failed", 4}));

TEST_F(PortLifecycleTest, AnOpenFailureTakenByAHandlerStartsNothingOnADeviceThatDidNotOpen)
{
    CatchReports();
    fake->FailCall(FakeDevice::opOpen, ENOENT);
    port->OpenPort();
    EXPECT_EQ(TakeTrace(), (Trace{"BeforeOpen", "dev:Open(COM1)"}));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_OpenFailed);
    EXPECT_EQ(reports[0].message, "Unable to open com port");
    EXPECT_EQ(reports[0].winError, ENOENT);
    EXPECT_EQ(reports[0].winMessage, WinMessage(ENOENT));
    EXPECT_FALSE(port->Connected());
    EXPECT_FALSE(port->EventThreadRunning());
}

TEST_F(PortLifecycleTest, ASettingFailureTakenByAHandlerLetsTheOpenGoOn)
{
    CatchReports();
    fake->FailCall(FakeDevice::opSetCommState, EINVAL);
    port->OpenPort();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_SetStateFailed);
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(port->EventThreadRunning());
    Trace expected = OpenTrace();
    EXPECT_EQ(TakeTrace(), expected);
}

TEST_F(PortLifecycleTest, AFailedAbortLeavesThePortOpenWithItsThread)
{
    port->OpenPort();
    ForgetDeviceCalls();
    fake->FailCall(FakeDevice::opPurgeComm, EIO);
    try {
        port->ClosePort();
        FAIL() << "the close should have failed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), 5);
        EXPECT_EQ(e.Message(), "PurgeComm function failed (Error: " + std::to_string(EIO) + ")");
    }
    EXPECT_EQ(TakeTrace(), Concat<std::string>({kSignalsOff, {"BeforeClose", "dev:PurgeComm(0x0003)"}}));
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(port->EventThreadRunning());
    EXPECT_TRUE(fake->IsOpen());

    port->ClosePort();
    EXPECT_EQ(TakeTrace(), CloseTrace());
}

TEST_F(PortLifecycleTest, AFailedAbortTakenByAHandlerLetsTheCloseGoOn)
{
    CatchReports();
    port->OpenPort();
    ForgetDeviceCalls();
    fake->FailCall(FakeDevice::opPurgeComm, EIO);
    port->ClosePort();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_PurgeFailed);
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(TakeTrace(), CloseTrace());
}

TEST_F(PortLifecycleTest, AFailedDeviceCloseKeepsTheHandleButClosesThePort)
{
    port->SetEvents({});
    port->OpenPort();
    fake->FailCall(FakeDevice::opClose, EIO);
    port->ClosePort();
    EXPECT_FALSE(port->Connected());
    EXPECT_NE(port->DeviceHandle(), nullptr);
}

TEST_F(PortLifecycleTest, HandlerExceptionsStopTheSequenceWhereTheyAreRaised)
{
    port->SetOnBeforeOpen([](TObject*) { throw std::runtime_error("before open"); });
    EXPECT_THROW(port->OpenPort(), std::runtime_error);
    EXPECT_EQ(fake->CallCount(FakeDevice::opOpen), 0) << "the device is not touched";
    EXPECT_FALSE(port->Connected());

    port->SetOnBeforeOpen({});
    port->SetOnAfterOpen([](TObject*) { throw std::runtime_error("after open"); });
    EXPECT_THROW(port->OpenPort(), std::runtime_error);
    EXPECT_TRUE(port->Connected());

    port->SetOnBeforeClose([](TObject*) { throw std::runtime_error("before close"); });
    EXPECT_THROW(port->ClosePort(), std::runtime_error);
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(fake->IsOpen());

    port->SetOnBeforeClose({});
    port->SetOnAfterClose([](TObject*) { throw std::runtime_error("after close"); });
    EXPECT_THROW(port->ClosePort(), std::runtime_error);
    EXPECT_FALSE(port->Connected());
    EXPECT_FALSE(fake->IsOpen());
}

// ---- Property setters -----------------------------------------------------------------------------------

TEST_F(PortLifecycleTest, ChangingPortReopensAnOpenPortEvenForADifferenceOfLetterCase)
{
    port->SetPort("COM1");
    EXPECT_TRUE(TakeTrace().empty());
    port->OpenPort();
    ForgetDeviceCalls();
    port->SetPort("COM1");
    EXPECT_TRUE(TakeTrace().empty());
    port->SetPort("com1");
    EXPECT_EQ(port->Port(), "com1");
    EXPECT_EQ(TakeTrace(), Concat<std::string>({CloseTrace(), OpenTrace("com1")}));
}

TEST_F(PortLifecycleTest, ChangingPortOnAClosedPortOnlyStoresIt)
{
    port->SetPort("ttyUSB3");
    EXPECT_EQ(port->Port(), "ttyUSB3");
    EXPECT_TRUE(TakeTrace().empty());
    port->OpenPort();
    EXPECT_EQ(fake->OpenName(), "ttyUSB3");
}

TEST_F(PortLifecycleTest, LineSettingsReachAnOpenDeviceAtOnceAndAClosedOneAtTheNextOpen)
{
    port->SetBaudRate(br19200);
    EXPECT_TRUE(TakeTrace().empty()) << "a closed port touches no device";
    port->SetEvents({});
    port->OpenPort();
    EXPECT_EQ(fake->CommState().BaudRate, 19200u);
    ForgetDeviceCalls();

    port->SetBaudRate(br19200);
    EXPECT_TRUE(TakeTrace().empty()) << "an unchanged value is not re-applied";
    port->SetBaudRate(br38400);
    EXPECT_EQ(fake->CommState().BaudRate, 38400u);
    port->SetBaudRate(brCustom);
    port->SetCustomBaudRate(250000);
    EXPECT_EQ(fake->CommState().BaudRate, 250000u);
    port->SetDataBits(dbSeven);
    port->SetStopBits(sbTwoStopBits);
    port->SetDiscardNull(true);
    port->SetEventChar('\n');
    const device::DCB dcb = fake->CommState();
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, device::TWOSTOPBITS);
    EXPECT_EQ(dcb.Flags & device::fNull, device::fNull);
    EXPECT_EQ(dcb.EvtChar, '\n');
    EXPECT_EQ(fake->CallCount(FakeDevice::opSetCommState), 1 + 7);
}

TEST_F(PortLifecycleTest, SettingsObjectsReapplyTheirOwnGroup)
{
    port->SetEvents({});
    port->OpenPort();
    ForgetDeviceCalls();
    port->Parity().SetBits(prEven);
    port->FlowControl().SetFlowControl(fcHardware);
    port->Timeouts().SetReadTotalConstant(50);
    port->Buffer().SetInputSize(4096);
    EXPECT_EQ(TakeTrace(), (Trace{
                               "dev:SetCommState(BaudRate=9600, Flags=0x0001, XonLim=256, XoffLim=256, ByteSize=8, "
                               "Parity=2, StopBits=0, XonChar=17, XoffChar=19, ErrorChar=0, EofChar=0, EvtChar=0)",
                               "dev:SetCommState(BaudRate=9600, Flags=0x2005, XonLim=256, XoffLim=256, ByteSize=8, "
                               "Parity=2, StopBits=0, XonChar=17, XoffChar=19, ErrorChar=0, EofChar=0, EvtChar=0)",
                               "dev:SetCommTimeouts(4294967295, 0, 50, 100, 1000)",
                               "dev:SetupComm(4096, 1024)",
                           }));

    TComTimeouts timeouts;
    timeouts.SetReadInterval(10);
    port->SetTimeouts(timeouts);
    EXPECT_EQ(fake->CommTimeouts().ReadIntervalTimeout, 10u);
    EXPECT_EQ(port->Timeouts().ReadTotalConstant(), 0) << "a copy takes every member";
    TComBuffer buffer;
    buffer.SetOutputSize(2048);
    port->SetBuffer(buffer);
    EXPECT_EQ(fake->OutQueueSize(), 2048u);
    TComParity parity;
    parity.SetBits(prOdd);
    port->SetParity(parity);
    EXPECT_EQ(fake->CommState().Parity, device::ODDPARITY);
    TComFlowControl flow;
    flow.SetXonXoffIn(true);
    port->SetFlowControl(flow);
    EXPECT_EQ(fake->CommState().Flags & device::fInX, device::fInX);
}

TEST_F(PortLifecycleTest, AFailingReapplyKeepsThePortOpenWithTheNewValue)
{
    port->OpenPort();
    fake->FailCall(FakeDevice::opSetCommState, EINVAL);
    EXPECT_THROW(port->SetBaudRate(br115200), EComPort);
    EXPECT_EQ(port->BaudRate(), br115200);
    EXPECT_TRUE(port->Connected());
}

TEST_F(PortLifecycleTest, SyncMethodIsRefusedWhileConnected)
{
    port->SetSyncMethod(smNone);
    EXPECT_EQ(port->SyncMethod(), smNone) << "a closed port accepts the change";
    port->SetSyncMethod(smThreadSync);
    port->OpenPort();
    try {
        port->SetSyncMethod(smWindowSync);
        FAIL() << "refused while connected";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), 14);
        EXPECT_EQ(e.WinErrorCode(), -1);
        EXPECT_EQ(e.Message(), "Cannot set property while connected");
    }
    EXPECT_EQ(port->SyncMethod(), smThreadSync);
    port->SetSyncMethod(smThreadSync); // the same value is no change

    CatchReports();
    port->SetSyncMethod(smNone);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_ConnChangeProp);
    EXPECT_EQ(reports[0].winError, 0);
    EXPECT_EQ(reports[0].winMessage, "");
    EXPECT_EQ(port->SyncMethod(), smThreadSync) << "kept even when a handler took the report";
}

TEST_F(PortLifecycleTest, TriggersOnRxCharReadsFalseAndRefusesChangesWhileALinkWatchesReceivedData)
{
    EXPECT_TRUE(port->TriggersOnRxChar());
    TComLink reader;
    reader.SetOnLinkRxBuf([](TObject*, const void*, std::int32_t) {});
    port->AttachLink(&reader);
    EXPECT_TRUE(port->RxBufLinked());
    EXPECT_FALSE(port->TriggersOnRxChar());
    try {
        port->SetTriggersOnRxChar(true);
        FAIL() << "refused while linked";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), 22);
        EXPECT_EQ(e.Message(), "A component is linked to OnRxBuf event");
    }
    CatchReports();
    port->SetTriggersOnRxChar(false);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, CE_HasLink);
    port->DetachLink(&reader);
    EXPECT_FALSE(port->TriggersOnRxChar()) << "a handler that took the report let the value be stored";
    port->SetTriggersOnRxChar(true);
    EXPECT_TRUE(port->TriggersOnRxChar());
}

TEST_F(PortLifecycleTest, RxBufLinkedIsRecomputedOnlyOnAttachAndDetach)
{
    TComLink late;
    port->AttachLink(&late);
    late.SetOnLinkRxBuf([](TObject*, const void*, std::int32_t) {});
    EXPECT_FALSE(port->RxBufLinked()) << "assigned after attaching";
    port->DetachLink(&link);
    EXPECT_TRUE(port->RxBufLinked());
    port->DetachLink(&late);
    EXPECT_FALSE(port->RxBufLinked());
    port->AttachLink(&link);
}

TEST_F(PortLifecycleTest, LinksRegisterOnce)
{
    try {
        port->AttachLink(&link);
        FAIL() << "a registered link cannot register again";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), 18);
        EXPECT_EQ(e.Message(), "Link (un)registration failed");
    }
    TComLink stranger;
    EXPECT_THROW(port->DetachLink(&stranger), EComPort);
    EXPECT_THROW(port->AttachLink(nullptr), EComPort);

    CatchReports();
    port->AttachLink(&link);
    port->DetachLink(&stranger);
    EXPECT_EQ(reports.size(), 2u);
    port->OpenPort();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "L.Conn on"), 1) << "the registry stayed unchanged";
}

TEST_F(PortLifecycleTest, NoPortOperationRunsWhileDesigning)
{
    port->SetDesigning(true);
    port->SetConnected(true);
    EXPECT_TRUE(port->Connected()) << "only stored";
    port->OpenPort();
    port->SetBaudRate(br1200);
    EXPECT_TRUE(TakeTrace().empty());
}

// ---- Load completion ------------------------------------------------------------------------------------

TEST_F(PortLifecycleTest, APortStoredConnectedOpensWhenLoadingCompletes)
{
    TComponent::LoadGroup({port.get()}, [&] {
        port->SetBaudRate(br19200);
        port->SetConnected(true);
        EXPECT_TRUE(TakeTrace().empty()) << "nothing opens while loading";
    });
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(TakeTrace(), Concat<std::string>({{"BeforeOpen"},
                                                DefaultOpenCalls("COM1", "19200"),
                                                {"dev:SetCommMask(0x05FF)", "L.Conn on", "AfterOpen"},
                                                kSignalsReadOff}));
}

TEST_F(PortLifecycleTest, AStoredConnectedPortThatFailsToOpenShowsTheErrorAndStaysClosed)
{
    ApplicationErrors errors;
    fake->FailCall(FakeDevice::opOpen, ENOENT);
    TComponent::LoadGroup({port.get()}, [&] { port->SetConnected(true); });
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(errors.messages, std::vector<std::string>{"Unable to open com port (Error: 2)"});
    EXPECT_EQ(errors.senders, std::vector<TObject*>{port.get()});
}

TEST_F(PortLifecycleTest, AFormThatFailsAfterStoringConnectedLeavesAClosedPortThatOpensAndCloses)
{
    EXPECT_THROW(TComponent::LoadGroup({port.get()},
                                       [&] {
                                           port->SetConnected(true);
                                           throw std::runtime_error("the form breaks off");
                                       }),
                 std::runtime_error);
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(port->DeviceHandle(), nullptr);
    EXPECT_NO_THROW(port->ClosePort());
    port->OpenPort();
    EXPECT_TRUE(port->Connected());
    EXPECT_TRUE(fake->IsOpen());
    port->ClosePort();
    EXPECT_FALSE(fake->IsOpen());
}

// ---- Destruction and removal notices ---------------------------------------------------------------------

// A control that forgets its port when told of its removal, detaching its link as it goes.
class LinkedControl : public TComponent {
public:
    void Bind(TCustomComPort* port)
    {
        m_port = port;
        port->FreeNotification(this);
        port->AttachLink(&m_link);
    }
    TCustomComPort* Port() const { return m_port; }

protected:
    void Notification(TComponent* component, TOperation operation) override
    {
        if (operation == opRemove && component == m_port) {
            m_port->DetachLink(&m_link); // the port must still be whole here
            m_port = nullptr;
        }
    }

private:
    TCustomComPort* m_port = nullptr;
    TComLink m_link;
};

TEST_F(PortLifecycleTest, AControlToldOfThePortsRemovalCanStillDetachItsLink)
{
    port->DetachLink(&link);
    LinkedControl control;
    control.Bind(port.get());
    port->OpenPort();
    port.reset();
    EXPECT_EQ(control.Port(), nullptr);
}

// ---- The error table as operations report it --------------------------------------------------------------

struct ReportedError {
    const char* name;
    std::function<void(PortFixture&, FakeDevice&)> setUp;
    std::function<void(TCustomComPort&)> act;
    TComExceptions kind;
    const char* message;
    std::int64_t winError; // as OnException receives it; > 0 adds the suffix
};

class PortErrorTableTest : public PortFixture, public ::testing::WithParamInterface<ReportedError> {};

void OpenQuietly(PortFixture&, FakeDevice&) {}

const ReportedError kReportedErrors[] = {
    {"OpenFailed", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opOpen, ENOENT); },
     [](TCustomComPort& p) { p.OpenPort(); }, CE_OpenFailed, "Unable to open com port", ENOENT},
    {"ReadFailedAtStart", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opReadFile, EIO); },
     [](TCustomComPort& p) {
         char b[4];
         EXPECT_EQ(p.ReadData(b, 4), 0);
     },
     CE_ReadFailed, "ReadFile function failed", EIO},
    {"ReadFailedAtCompletion", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opGetOverlappedResult, EIO); },
     [](TCustomComPort& p) {
         char b[4];
         EXPECT_EQ(p.ReadData(b, 4), 0);
     },
     CE_ReadFailed, "ReadFile function failed", EIO},
    {"WriteFailedAtCompletion", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opGetOverlappedResult, EIO); },
     [](TCustomComPort& p) {
         PAsyncIo record;
         NewAsyncRecord(record);
         record->Direction = ioWrite;
         EXPECT_EQ(p.CompleteAsync(record), 0);
         FreeAsyncRecord(record);
     },
     CE_WriteFailed, "WriteFile function failed", EIO},
    {"InvalidAsyncAtStart", OpenQuietly,
     [](TCustomComPort& p) {
         char b[4];
         EXPECT_EQ(p.BeginRead(b, 4, PAsyncIo()), 0);
     },
     CE_InvalidAsync, "Invalid Async parameter", 0},
    {"InvalidAsyncAtCompletion", OpenQuietly, [](TCustomComPort& p) { EXPECT_EQ(p.CompleteAsync(PAsyncIo()), 0); },
     CE_InvalidAsync, "Invalid Async parameter", 0},
    {"PurgeFailed", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opPurgeComm, EIO); },
     [](TCustomComPort& p) { p.CancelAllIO(); }, CE_PurgeFailed, "PurgeComm function failed", EIO},
    {"SetStateFailed", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opSetCommState, EINVAL); },
     [](TCustomComPort& p) { p.SetBaudRate(br110); }, CE_SetStateFailed, "SetCommState function failed", EINVAL},
    {"TimeoutsFailed", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opSetCommTimeouts, EINVAL); },
     [](TCustomComPort& p) { p.Timeouts().SetReadInterval(5); }, CE_TimeoutsFailed, "SetCommTimeouts failed", EINVAL},
    {"SetupComFailed", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opSetupComm, EINVAL); },
     [](TCustomComPort& p) { p.Buffer().SetInputSize(64); }, CE_SetupComFailed, "SetupComm function failed", EINVAL},
    {"ClearComFailedCounting", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opClearCommError, EIO); },
     [](TCustomComPort& p) { EXPECT_EQ(p.BytesWaiting(), 0); }, CE_ClearComFailed, "ClearCommError function failed",
     EIO},
    {"ClearComFailedTakingErrors", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opClearCommError, EIO); },
     [](TCustomComPort& p) { EXPECT_TRUE(p.TakeLineErrors().Empty()); }, CE_ClearComFailed,
     "ClearCommError function failed", EIO},
    {"ModemStatFailed", [](PortFixture&, FakeDevice& d) { d.FailCall(FakeDevice::opGetCommModemStatus, EIO); },
     [](TCustomComPort& p) { EXPECT_TRUE(p.ModemSignals().Empty()); }, CE_ModemStatFailed,
     "GetCommModemStatus function failed", EIO},
    {"ConnChangeProp", OpenQuietly, [](TCustomComPort& p) { p.SetSyncMethod(smNone); }, CE_ConnChangeProp,
     "Cannot set property while connected", 0},
    {"RegFailed", OpenQuietly,
     [](TCustomComPort& p) {
         TComLink never;
         p.DetachLink(&never);
     },
     CE_RegFailed, "Link (un)registration failed", 0},
    {"HasLink",
     [](PortFixture& f, FakeDevice&) {
         static TComLink reader;
         reader.SetOnLinkRxBuf([](TObject*, const void*, std::int32_t) {});
         f.GetPort().AttachLink(&reader);
     },
     [](TCustomComPort& p) { p.SetTriggersOnRxChar(true); }, CE_HasLink, "A component is linked to OnRxBuf event", 0},
    {"PortNotOpen", OpenQuietly,
     [](TCustomComPort& p) {
         p.ClosePort();
         PAsyncIo record;
         NewAsyncRecord(record);
         char b[4];
         EXPECT_EQ(p.BeginRead(b, 4, record), 0);
     },
     CEPortNotOpen, "Port Not Open", -24},
};

TEST_P(PortErrorTableTest, IsRaisedWithItsCodeMessageAndSuffix)
{
    const ReportedError& row = GetParam();
    port->SetEvents({});
    if (row.kind != CE_OpenFailed) port->OpenPort();
    row.setUp(*this, *fake);
    try {
        row.act(*port);
        FAIL() << "nothing was raised";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), row.kind + 1);
        const std::string suffix = row.winError > 0 ? " (Error: " + std::to_string(row.winError) + ")" : "";
        EXPECT_EQ(e.Message(), row.message + suffix);
        EXPECT_EQ(e.WinErrorCode(), row.winError > 0 ? row.winError : -1);
    }
}

TEST_P(PortErrorTableTest, ReachesOnExceptionWithItsKindMessageAndSystemText)
{
    const ReportedError& row = GetParam();
    port->SetEvents({});
    CatchReports();
    if (row.kind != CE_OpenFailed) port->OpenPort();
    row.setUp(*this, *fake);
    ASSERT_NO_THROW(row.act(*port));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].kind, row.kind);
    EXPECT_EQ(reports[0].message, row.message);
    EXPECT_EQ(reports[0].winError, row.winError);
    EXPECT_EQ(reports[0].winMessage, row.winError > 0 ? WinMessage(static_cast<int>(row.winError)) : "");
}

INSTANTIATE_TEST_SUITE_P(EachReportingOperation, PortErrorTableTest, ::testing::ValuesIn(kReportedErrors),
                         [](const ::testing::TestParamInfo<ReportedError>& row) {
                             return std::string(row.param.name);
                         });

} // namespace
} // namespace cport::test
