// SPDX-License-Identifier: GPL-3.0-or-later
// The selector's logic without a widget: item lists, taking a text, applying it, reading the port.
#include "cportctl/ComSelect.h"

#include "cport/Enumeration.h"
#include "cport/Errors.h"

#include "ControlTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cportctl::test {
namespace {

using namespace cport;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Publishes a port name for the duration of a test.
class PublishedPort {
public:
    explicit PublishedPort(std::string name) : m_name(std::move(name)) { PublishVirtualPort(m_name); }
    ~PublishedPort() { WithdrawVirtualPort(m_name); }
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

private:
    std::string m_name;
};

class ComSelectTest : public FakePortTest {
protected:
    ComSelectTest() { selector.SetItemList(&items); }

    TStringList items;
    TComSelect selector;
};

TEST(StringsTest, IndexOfTextMatchesWholeTextsIgnoringAsciiCaseOnly)
{
    const TStringList list({"None", "Odd",
                            "\xC8"
                            "ek",
                            "Odd"});
    EXPECT_EQ(list.IndexOfText("odd"), 1); // the first of two equal items
    EXPECT_EQ(list.IndexOfText("NONE"), 0);
    EXPECT_EQ(list.IndexOfText("Non"), -1);   // no prefix match
    EXPECT_EQ(list.IndexOfText("None "), -1); // no trimming
    EXPECT_EQ(list.IndexOfText("\xC8"
                               "EK"),
              2); // bytes beyond ASCII compare exactly
    EXPECT_EQ(list.IndexOfText("\xE8"
                               "ek"),
              -1);
    EXPECT_EQ(TStringList().IndexOfText(""), -1);
}

TEST_F(ComSelectTest, EachPropertyListsItsTextsInOrdinalOrder)
{
    selector.SelectProperty(cpBaudRate);
    EXPECT_THAT(items.Items(), ElementsAre("Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                                           "19200", "38400", "56000", "57600", "115200", "128000", "256000"));
    EXPECT_EQ(items.Strings(br19200), "19200");
    selector.SelectProperty(cpDataBits);
    EXPECT_THAT(items.Items(), ElementsAre("5", "6", "7", "8"));
    selector.SelectProperty(cpStopBits);
    EXPECT_THAT(items.Items(), ElementsAre("1", "1.5", "2"));
    selector.SelectProperty(cpParity);
    EXPECT_THAT(items.Items(), ElementsAre("None", "Odd", "Even", "Mark", "Space"));
    selector.SelectProperty(cpFlowControl);
    EXPECT_THAT(items.Items(), ElementsAre("Hardware", "Software", "None", "Custom"));
    EXPECT_EQ(selector.ComProperty(), cpFlowControl);
    selector.SelectProperty(cpNone);
    EXPECT_TRUE(items.Items().empty());
}

TEST_F(ComSelectTest, PortListIsTheInstalledPorts)
{
    const PublishedPort extra("varmio-select-test-port");
    selector.SelectProperty(cpPort);
    std::vector<std::string> installed;
    ListSerialPorts(installed);
    EXPECT_THAT(items.Items(), ElementsAreArray(installed));
    EXPECT_GE(items.IndexOfText("varmio-select-test-port"), 0);
}

TEST_F(ComSelectTest, TakeTextConvertsIgnoringCaseAndFallsBackForUnknownTexts)
{
    selector.SelectProperty(cpBaudRate);
    selector.TakeText("115200");
    EXPECT_EQ(selector.SelectedBaudRate(), br115200);
    selector.TakeText("custom");
    EXPECT_EQ(selector.SelectedBaudRate(), brCustom);
    selector.TakeText("fast");
    EXPECT_EQ(selector.SelectedBaudRate(), br9600);

    selector.SelectProperty(cpParity);
    selector.TakeText("sPACE");
    EXPECT_EQ(selector.SelectedParity(), prSpace);
    EXPECT_EQ(selector.SelectedBaudRate(), br9600); // other properties keep what they held

    selector.SelectProperty(cpStopBits);
    selector.TakeText("1.5");
    EXPECT_EQ(selector.SelectedStopBits(), sbOne5StopBits);
    selector.SelectProperty(cpDataBits);
    selector.TakeText("9");
    EXPECT_EQ(selector.SelectedDataBits(), dbEight);
    selector.SelectProperty(cpFlowControl);
    selector.TakeText("none");
    EXPECT_EQ(selector.SelectedFlowControl(), fcNone);
    selector.SelectProperty(cpPort);
    selector.TakeText("ttyUSB0");
    EXPECT_EQ(selector.SelectedPort(), "ttyUSB0"); // a name is held as it stands
}

TEST_F(ComSelectTest, AutoApplyWritesEachPropertyThroughThePortsSetters)
{
    selector.SetComPort(port.get());
    selector.SetAutoApply(true);
    selector.SelectProperty(cpBaudRate);
    selector.TakeText("Custom");
    EXPECT_EQ(port->BaudRate(), brCustom);
    selector.SelectProperty(cpDataBits);
    selector.TakeText("7");
    EXPECT_EQ(port->DataBits(), dbSeven);
    selector.SelectProperty(cpStopBits);
    selector.TakeText("2");
    EXPECT_EQ(port->StopBits(), sbTwoStopBits);
    selector.SelectProperty(cpParity);
    selector.TakeText("Even");
    EXPECT_EQ(port->Parity().Bits(), prEven);
    selector.SelectProperty(cpFlowControl);
    selector.TakeText("Hardware");
    EXPECT_EQ(port->FlowControl().ControlRTS(), rtsHandshake);
    EXPECT_TRUE(port->FlowControl().OutCTSFlow());
    selector.SelectProperty(cpPort);
    selector.TakeText("ttyS7");
    EXPECT_EQ(port->Port(), "ttyS7");
    selector.SelectProperty(cpNone);
    selector.TakeText("anything"); // nothing to hold, nothing to write
    EXPECT_EQ(port->Port(), "ttyS7");
}

TEST_F(ComSelectTest, ANewNameReopensAnOpenPort)
{
    port->SetPort("COM12");
    port->OpenPort();
    selector.SetComPort(port.get());
    selector.SetAutoApply(true);
    selector.SelectProperty(cpPort);
    selector.TakeText("COM3");
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(fake->OpenName(), "COM3"); // closed and opened again on the new name
}

TEST_F(ComSelectTest, AFailingApplyPropagatesAndKeepsTheChoiceHeld)
{
    port->SetPort("COM12");
    port->OpenPort();
    selector.SetComPort(port.get());
    selector.SetAutoApply(true);
    selector.SelectProperty(cpPort);
    fake->FailCall(FakeDevice::opOpen, 2);
    try {
        selector.TakeText("COM99");
        FAIL() << "the failed open was swallowed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), ComErrorCode(CE_OpenFailed));
    }
    EXPECT_EQ(selector.SelectedPort(), "COM99");
    EXPECT_FALSE(port->Connected());
}

TEST_F(ComSelectTest, ReadPortValueFindsAndHoldsThePortsValue)
{
    selector.SelectProperty(cpBaudRate);
    EXPECT_EQ(selector.ReadPortValue(), -1); // no port
    selector.SetComPort(port.get());
    port->SetBaudRate(br19200);
    EXPECT_EQ(selector.ReadPortValue(), 9);
    EXPECT_EQ(selector.SelectedBaudRate(), br19200);
    EXPECT_EQ(port->BaudRate(), br19200);

    // The flow-control summary comes from the individual switches.
    selector.SelectProperty(cpFlowControl);
    port->FlowControl().SetXonXoffIn(true);
    port->FlowControl().SetXonXoffOut(true);
    EXPECT_EQ(selector.ReadPortValue(), fcSoftware);
    EXPECT_EQ(selector.SelectedFlowControl(), fcSoftware);
    port->FlowControl().SetControlRTS(rtsEnable);
    EXPECT_EQ(selector.ReadPortValue(), fcCustom);

    selector.SelectProperty(cpNone);
    EXPECT_EQ(selector.ReadPortValue(), -1);
}

TEST_F(ComSelectTest, ReadPortValueHoldsThePortNameInTheListsLetterCase)
{
    selector.SetComPort(port.get());
    selector.SelectProperty(cpPort);
    items.Assign(std::vector<std::string>{"COM1", "COM12", "ttyUSB0"});
    port->SetPort("com12");
    EXPECT_EQ(selector.ReadPortValue(), 1);
    EXPECT_EQ(selector.SelectedPort(), "COM12");
    EXPECT_EQ(port->Port(), "com12"); // nothing applied

    port->SetPort("COM2");
    EXPECT_EQ(selector.ReadPortValue(), -1);
    EXPECT_EQ(selector.SelectedPort(), "COM12"); // a missing value keeps what was held
}

} // namespace
} // namespace cportctl::test
