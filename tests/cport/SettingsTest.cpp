// SPDX-License-Identifier: GPL-3.0-or-later
// The four settings objects (setter rule, presets, copying) and the DCB and timeouts composed from them.

#include "cport/CPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace cport;
namespace dev = cport::device;

namespace {

// Stands in for the port: records which group it was asked to re-apply.
class RecordingOwner : public TComSettingsOwner {
public:
    void ApplyLineSettings() override { calls.push_back("line"); }
    void ApplyTimeoutSettings() override { calls.push_back("timeouts"); }
    void ApplyBufferSizes() override { calls.push_back("buffer"); }
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

// ---- Setter rule ---------------------------------------------------------------------------------

TEST(SettingsSetters, SameValueDoesNothing)
{
    RecordingOwner owner;
    TComParity parity(&owner);
    TComFlowControl flow(&owner);
    TComTimeouts timeouts(&owner);
    TComBuffer buffer(&owner);

    parity.SetBits(prNone);
    parity.SetCheck(false);
    parity.SetReplaceChar('\0');
    flow.SetControlDTR(dtrDisable);
    flow.SetXoffChar(19);
    timeouts.SetReadInterval(-1);
    timeouts.SetWriteTotalConstant(1000);
    buffer.SetInputSize(1024);

    EXPECT_TRUE(owner.calls.empty());
}

TEST(SettingsSetters, EveryMemberSetterReappliesTheRightGroup)
{
    RecordingOwner owner;
    TComParity parity(&owner);
    parity.SetCheck(true);
    parity.SetReplace(true);
    parity.SetReplaceChar('?');
    EXPECT_EQ(owner.calls, Calls(3, "line"));

    owner.calls.clear();
    TComFlowControl flow(&owner);
    flow.SetOutCTSFlow(true);
    flow.SetOutDSRFlow(true);
    flow.SetControlDTR(dtrEnable);
    flow.SetControlRTS(rtsEnable);
    flow.SetXonXoffOut(true);
    flow.SetXonXoffIn(true);
    flow.SetDSRSensitivity(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonChar(1);
    flow.SetXoffChar(2);
    EXPECT_EQ(owner.calls, Calls(10, "line"));

    owner.calls.clear();
    TComTimeouts timeouts(&owner);
    timeouts.SetReadInterval(10);
    timeouts.SetReadTotalMultiplier(11);
    timeouts.SetReadTotalConstant(12);
    timeouts.SetWriteTotalMultiplier(13);
    timeouts.SetWriteTotalConstant(14);
    EXPECT_EQ(owner.calls, Calls(5, "timeouts"));
    EXPECT_EQ(ComposeTimeouts(timeouts), (dev::COMMTIMEOUTS{10, 11, 12, 13, 14}));

    owner.calls.clear();
    TComBuffer buffer(&owner);
    buffer.SetInputSize(2048);
    buffer.SetOutputSize(4096);
    EXPECT_EQ(owner.calls, Calls(2, "buffer"));
    EXPECT_EQ(buffer.InputSize(), 2048);
    EXPECT_EQ(buffer.OutputSize(), 4096);
}

TEST(SettingsSetters, ReapplyFailureLeavesTheNewValueStored)
{
    struct RefusingOwner : RecordingOwner {
        void ApplyLineSettings() override { throw EComPort(ComErrorCode(CE_SetStateFailed), 22); }
    } owner;
    TComParity parity(&owner);
    EXPECT_THROW(parity.SetBits(prOdd), EComPort);
    EXPECT_EQ(parity.Bits(), prOdd);
}

// The rest of the defaults show in the DCB and timeouts of a new port, below.
TEST(SettingsDefaults, NewObjectsHoldTheDefaults)
{
    const TComParity parity;
    EXPECT_FALSE(parity.Replace());
    EXPECT_EQ(parity.ReplaceChar(), '\0');
    EXPECT_EQ(TComFlowControl().FlowControl(), fcNone);
    EXPECT_EQ(TComBuffer().OutputSize(), 1024);
}

TEST(SettingsSetters, ParityCheckMayBeReadByAnotherThreadWhileItChanges)
{
    // The event thread reads Check() when it converts line errors; the thread sanitizer pins that
    // this read does not race with the owning thread's writes.
    TComParity parity;
    bool seen = false;
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!LineErrorsToErrors(device::CE_RXPARITY, parity.Check()).Contains(ceRxParity) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        seen = parity.Check();
    });
    parity.SetCheck(true);
    reader.join();
    EXPECT_TRUE(seen);
}

// ---- Buffer sizes --------------------------------------------------------------------------------

TEST(BufferSizes, PositiveOddSizeIsStoredOneLess)
{
    RecordingOwner owner;
    TComBuffer buffer(&owner);
    buffer.SetInputSize(1025);
    EXPECT_EQ(buffer.InputSize(), 1024);
    EXPECT_EQ(owner.calls, Calls{"buffer"});

    buffer.SetInputSize(1024); // what is held: nothing happens
    EXPECT_EQ(owner.calls, Calls{"buffer"});

    buffer.SetInputSize(1025); // compared as given, so this is a change again
    EXPECT_EQ(owner.calls, Calls(2, "buffer"));

    buffer.SetOutputSize(1);
    EXPECT_EQ(buffer.OutputSize(), 0);
}

TEST(BufferSizes, ZeroNegativeAndEvenSizesAreStoredUnchanged)
{
    TComBuffer buffer;
    buffer.SetInputSize(0);
    EXPECT_EQ(buffer.InputSize(), 0);
    buffer.SetInputSize(-3);
    EXPECT_EQ(buffer.InputSize(), -3);
    buffer.SetOutputSize(4096);
    EXPECT_EQ(buffer.OutputSize(), 4096);
    buffer.SetOutputSize(2147483647);
    EXPECT_EQ(buffer.OutputSize(), 2147483646);
}

// ---- Flow-control preset -------------------------------------------------------------------------

TEST(FlowControlPreset, WritingAPresetReadsItBack)
{
    for (TFlowControl preset : {fcHardware, fcSoftware, fcNone, fcHardware, fcNone, fcSoftware}) {
        TComFlowControl flow;
        flow.SetControlRTS(rtsToggle);
        flow.SetXonXoffIn(true);
        flow.SetFlowControl(preset);
        EXPECT_EQ(flow.FlowControl(), preset) << int(preset);
    }
}

TEST(FlowControlPreset, PresetsSetExactlyTheirFourMembers)
{
    TComFlowControl flow;
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(flow.OutCTSFlow());
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_FALSE(flow.XonXoffOut());

    flow.SetFlowControl(fcSoftware);
    EXPECT_EQ(flow.ControlRTS(), rtsDisable);
    EXPECT_FALSE(flow.OutCTSFlow());
    EXPECT_TRUE(flow.XonXoffIn());
    EXPECT_TRUE(flow.XonXoffOut());
}

TEST(FlowControlPreset, PresetNeverTouchesDtrDsrAndTheCharacters)
{
    TComFlowControl flow;
    flow.SetControlDTR(dtrHandshake);
    flow.SetOutDSRFlow(true);
    flow.SetDSRSensitivity(true);
    flow.SetTxContinueOnXoff(true);
    flow.SetXonChar('q');
    flow.SetXoffChar('s');

    for (TFlowControl preset : {fcHardware, fcSoftware, fcNone, fcCustom}) {
        flow.SetFlowControl(preset);
        EXPECT_EQ(flow.ControlDTR(), dtrHandshake);
        EXPECT_TRUE(flow.OutDSRFlow());
        EXPECT_TRUE(flow.DSRSensitivity());
        EXPECT_TRUE(flow.TxContinueOnXoff());
        EXPECT_EQ(flow.XonChar(), 'q');
        EXPECT_EQ(flow.XoffChar(), 's');
    }
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.FlowControl(), fcHardware); // DTR handshake does not make it custom
}

TEST(FlowControlPreset, CustomChangesNothing)
{
    TComFlowControl flow;
    flow.SetControlRTS(rtsEnable);
    flow.SetXonXoffOut(true);
    flow.SetFlowControl(fcCustom);
    EXPECT_EQ(flow.ControlRTS(), rtsEnable);
    EXPECT_TRUE(flow.XonXoffOut());
    EXPECT_FALSE(flow.XonXoffIn());
    EXPECT_FALSE(flow.OutCTSFlow());
}

TEST(FlowControlPreset, ReadingFindsCustomForAnyOtherCombination)
{
    TComFlowControl flow;
    flow.SetControlRTS(rtsToggle);
    EXPECT_EQ(flow.FlowControl(), fcCustom);

    flow.SetControlRTS(rtsHandshake); // handshake without CTS flow
    EXPECT_EQ(flow.FlowControl(), fcCustom);
    flow.SetOutCTSFlow(true);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    flow.SetXonXoffOut(true); // hardware plus software
    EXPECT_EQ(flow.FlowControl(), fcCustom);

    TComFlowControl soft;
    soft.SetXonXoffIn(true); // only one direction
    EXPECT_EQ(soft.FlowControl(), fcCustom);
    soft.SetXonXoffOut(true);
    EXPECT_EQ(soft.FlowControl(), fcSoftware);
    soft.SetControlRTS(rtsEnable);
    EXPECT_EQ(soft.FlowControl(), fcCustom);
}

TEST(FlowControlPreset, WritingAlwaysReappliesOnce)
{
    RecordingOwner owner;
    TComFlowControl flow(&owner);
    flow.SetFlowControl(fcNone); // nothing changes
    flow.SetFlowControl(fcCustom);
    flow.SetFlowControl(fcHardware); // four members change, one re-apply
    EXPECT_EQ(owner.calls, Calls(3, "line"));
}

// ---- Copying ---------------------------------------------------------------------------------------

TEST(SettingsAssign, CopiesEveryMemberWithoutReapplying)
{
    RecordingOwner owner;
    TComFlowControl target(&owner);
    TComFlowControl source;
    source.SetOutCTSFlow(true);
    source.SetOutDSRFlow(true);
    source.SetControlDTR(dtrHandshake);
    source.SetControlRTS(rtsToggle);
    source.SetXonXoffOut(true);
    source.SetXonXoffIn(true);
    source.SetDSRSensitivity(true);
    source.SetTxContinueOnXoff(true);
    source.SetXonChar('x');
    source.SetXoffChar('y');

    target.Assign(&source);
    EXPECT_TRUE(owner.calls.empty());
    EXPECT_EQ(target.OwnerPort(), &owner);
    EXPECT_TRUE(target.OutCTSFlow());
    EXPECT_TRUE(target.OutDSRFlow());
    EXPECT_EQ(target.ControlDTR(), dtrHandshake);
    EXPECT_EQ(target.ControlRTS(), rtsToggle);
    EXPECT_TRUE(target.XonXoffOut());
    EXPECT_TRUE(target.XonXoffIn());
    EXPECT_TRUE(target.DSRSensitivity());
    EXPECT_TRUE(target.TxContinueOnXoff());
    EXPECT_EQ(target.XonChar(), 'x');
    EXPECT_EQ(target.XoffChar(), 'y');
}

TEST(SettingsAssign, OtherClassesCopyAllTheirMembers)
{
    RecordingOwner owner;
    TComParity parity(&owner), parityFrom;
    parityFrom.SetBits(prSpace);
    parityFrom.SetCheck(true);
    parityFrom.SetReplace(true);
    parityFrom.SetReplaceChar('*');
    parity.Assign(&parityFrom);
    EXPECT_EQ(parity.Bits(), prSpace);
    EXPECT_TRUE(parity.Check());
    EXPECT_TRUE(parity.Replace());
    EXPECT_EQ(parity.ReplaceChar(), '*');

    TComTimeouts timeouts(&owner), timeoutsFrom;
    timeoutsFrom.SetReadInterval(1);
    timeoutsFrom.SetReadTotalMultiplier(2);
    timeoutsFrom.SetReadTotalConstant(3);
    timeoutsFrom.SetWriteTotalMultiplier(4);
    timeoutsFrom.SetWriteTotalConstant(5);
    timeouts.Assign(&timeoutsFrom);
    EXPECT_EQ(ComposeTimeouts(timeouts), (dev::COMMTIMEOUTS{1, 2, 3, 4, 5}));

    TComBuffer buffer(&owner), bufferFrom;
    bufferFrom.SetInputSize(64);
    bufferFrom.SetOutputSize(-7);
    buffer.Assign(&bufferFrom);
    EXPECT_EQ(buffer.InputSize(), 64);
    EXPECT_EQ(buffer.OutputSize(), -7);

    EXPECT_TRUE(owner.calls.empty());
}

TEST(SettingsAssign, RefusesNothingAndOtherClassesWithTheAssignmentError)
{
    TComParity parity;
    TComBuffer buffer;
    try {
        parity.Assign(&buffer);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TComBuffer to a TComParity");
    }
    try {
        buffer.Assign(nullptr);
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a nil to a TComBuffer");
    }
    TComTimeouts timeouts;
    TComFlowControl flow;
    EXPECT_THROW(timeouts.Assign(&flow), EConvertError);
    EXPECT_THROW(flow.Assign(&timeouts), EConvertError);
    EXPECT_EQ(flow.FlowControl(), fcNone);
}

// ---- DCB and timeouts ----------------------------------------------------------------------------

struct PortSettings {
    TLineFields line;
    TComParity parity;
    TComFlowControl flow;
    TComBuffer buffer;
    dev::DCB Compose() const { return ComposeDCB(line, parity, flow, buffer); }
};

TEST(ComposeDCB, NewPortGivesBinaryModeAtNineThousandSixHundred)
{
    const PortSettings port;
    dev::DCB expected;
    expected.BaudRate = 9600;
    expected.Flags = 0x0001;
    expected.XonLim = 256;
    expected.XoffLim = 256;
    expected.ByteSize = 8;
    expected.XonChar = 17;
    expected.XoffChar = 19;
    EXPECT_EQ(port.Compose(), expected);
    EXPECT_EQ(port.Compose().DCBlength, 28u);
}

TEST(ComposeDCB, MonitorPortDiffersOnlyInBaudRate)
{
    PortSettings monitor;
    monitor.line.BaudRate = br19200;
    dev::DCB expected = PortSettings{}.Compose();
    expected.BaudRate = 19200;
    EXPECT_EQ(monitor.Compose(), expected);
}

TEST(ComposeDCB, BaudRateComesFromTheTableOrTheCustomRate)
{
    PortSettings port;
    for (const auto& row : kBaudRateTable) {
        if (row.Value == brCustom) continue;
        port.line.BaudRate = row.Value;
        EXPECT_EQ(port.Compose().BaudRate, row.Device);
        EXPECT_EQ(std::to_string(port.Compose().BaudRate), row.Text);
    }
    port.line.BaudRate = brCustom;
    port.line.CustomBaudRate = 250000;
    EXPECT_EQ(port.Compose().BaudRate, 250000u);
    port.line.CustomBaudRate = -1; // not validated: the device refuses it
    EXPECT_EQ(port.Compose().BaudRate, 0xFFFFFFFFu);
    port.line.BaudRate = br300;
    EXPECT_EQ(port.Compose().BaudRate, 300u);
}

TEST(ComposeDCB, LineParametersUseTheirDeviceValues)
{
    PortSettings port;
    port.line.DataBits = dbFive;
    port.line.StopBits = sbOne5StopBits;
    port.parity.SetBits(prMark);
    dev::DCB dcb = port.Compose();
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.StopBits, dev::ONE5STOPBITS);
    EXPECT_EQ(dcb.Parity, dev::MARKPARITY);

    port.line.DataBits = dbSeven;
    port.line.StopBits = sbTwoStopBits;
    port.parity.SetBits(prSpace);
    dcb = port.Compose();
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, dev::TWOSTOPBITS);
    EXPECT_EQ(dcb.Parity, dev::SPACEPARITY);
}

TEST(ComposeDCB, EachFlowControlMemberSetsItsOwnFlag)
{
    struct Case {
        void (*set)(TComFlowControl&);
        dev::DWORD flag;
    };
    const Case cases[] = {
        {[](TComFlowControl& f) { f.SetOutCTSFlow(true); }, dev::fOutxCtsFlow},
        {[](TComFlowControl& f) { f.SetOutDSRFlow(true); }, dev::fOutxDsrFlow},
        {[](TComFlowControl& f) { f.SetDSRSensitivity(true); }, dev::fDsrSensitivity},
        {[](TComFlowControl& f) { f.SetTxContinueOnXoff(true); }, dev::fTXContinueOnXoff},
        {[](TComFlowControl& f) { f.SetXonXoffOut(true); }, dev::fOutX},
        {[](TComFlowControl& f) { f.SetXonXoffIn(true); }, dev::fInX},
        {[](TComFlowControl& f) { f.SetControlDTR(dtrEnable); }, 0x0010},
        {[](TComFlowControl& f) { f.SetControlDTR(dtrHandshake); }, 0x0020},
        {[](TComFlowControl& f) { f.SetControlRTS(rtsEnable); }, 0x1000},
        {[](TComFlowControl& f) { f.SetControlRTS(rtsHandshake); }, 0x2000},
        {[](TComFlowControl& f) { f.SetControlRTS(rtsToggle); }, 0x3000},
    };
    for (const Case& c : cases) {
        PortSettings port;
        c.set(port.flow);
        EXPECT_EQ(port.Compose().Flags, dev::fBinary | c.flag) << std::hex << c.flag;
    }
}

TEST(ComposeDCB, HardwarePresetGivesCtsFlowAndRtsHandshake)
{
    PortSettings port;
    port.flow.SetFlowControl(fcHardware);
    const dev::DCB dcb = port.Compose();
    EXPECT_EQ(dcb.Flags, dev::fBinary | dev::fOutxCtsFlow | 0x2000u);
    EXPECT_EQ(dcb.RtsControl(), dev::RTS_CONTROL_HANDSHAKE);
    EXPECT_EQ(dcb.DtrControl(), dev::DTR_CONTROL_DISABLE);
}

TEST(ComposeDCB, ReplaceTakesEffectOnlyWhileParityIsChecked)
{
    PortSettings port;
    port.parity.SetReplace(true);
    port.parity.SetReplaceChar('?');
    dev::DCB dcb = port.Compose();
    EXPECT_EQ(dcb.Flags, dev::fBinary);
    EXPECT_EQ(dcb.ErrorChar, 0);

    port.parity.SetCheck(true);
    dcb = port.Compose();
    EXPECT_EQ(dcb.Flags, dev::fBinary | dev::fParity | dev::fErrorChar);
    EXPECT_EQ(dcb.ErrorChar, '?');

    port.parity.SetReplace(false);
    dcb = port.Compose();
    EXPECT_EQ(dcb.Flags, dev::fBinary | dev::fParity);
    EXPECT_EQ(dcb.ErrorChar, 0);
}

TEST(ComposeDCB, PortFieldsGoToNullDiscardAndEventCharacter)
{
    PortSettings port;
    port.line.DiscardNull = true;
    port.line.EventChar = '\n';
    port.flow.SetXonChar('\x11');
    port.flow.SetXoffChar('\x93');
    const dev::DCB dcb = port.Compose();
    EXPECT_EQ(dcb.Flags, dev::fBinary | dev::fNull);
    EXPECT_EQ(dcb.EvtChar, '\n');
    EXPECT_EQ(dcb.XoffChar, '\x93');
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.Flags & dev::fAbortOnError, 0u);
}

TEST(ComposeDCB, FlowLimitsAreAQuarterOfTheInputQueueTruncated)
{
    PortSettings port;
    port.buffer.SetInputSize(4096);
    port.buffer.SetOutputSize(10); // plays no part
    EXPECT_EQ(port.Compose().XonLim, 1024);
    EXPECT_EQ(port.Compose().XoffLim, 1024);

    port.buffer.SetInputSize(6);
    EXPECT_EQ(port.Compose().XonLim, 1);
    port.buffer.SetInputSize(-6); // toward zero: -1, whose low 16 bits are all set
    EXPECT_EQ(port.Compose().XonLim, 0xFFFF);
    port.buffer.SetInputSize(0x80000); // low 16 bits of 0x20000
    EXPECT_EQ(port.Compose().XoffLim, 0);
}

TEST(ComposeTimeouts, DefaultsReturnReadsAtOnce)
{
    const TComTimeouts timeouts;
    EXPECT_EQ(ComposeTimeouts(timeouts), (dev::COMMTIMEOUTS{dev::MAXDWORD, 0, 0, 100, 1000}));
}

TEST(ComposeTimeouts, NegativeValuesPassTheirBitPattern)
{
    TComTimeouts timeouts;
    timeouts.SetReadInterval(0);
    timeouts.SetReadTotalConstant(-2);
    timeouts.SetWriteTotalMultiplier(-2147483647 - 1);
    EXPECT_EQ(ComposeTimeouts(timeouts), (dev::COMMTIMEOUTS{0, 0, 0xFFFFFFFEu, 0x80000000u, 1000}));
}

} // namespace
