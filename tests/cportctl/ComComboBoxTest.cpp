// SPDX-License-Identifier: GPL-3.0-or-later
// The selector on screen: binding, picking, the Text property, removal of the port, loading order.
#include "cportctl/ComComboBox.h"

#include "cport/Enumeration.h"
#include "cport/Errors.h"

#include "ControlTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>

#include <memory>
#include <string>
#include <vector>

namespace cportctl::test {
namespace {

using namespace cport;

// What the user does when picking an item from the drop-down list: the list's selection moves and
// the combo box says that an item was activated.
void Pick(TComComboBox& box, int index)
{
    box.setCurrentIndex(index);
    emit box.activated(index);
}

class ComComboBoxTest : public FakePortTest {
protected:
    ComComboBoxTest() : box(std::make_unique<TComComboBox>()) {}
    void TearDown() override
    {
        box.reset();
        FakePortTest::TearDown();
    }

    std::unique_ptr<TComComboBox> box;
};

TEST_F(ComComboBoxTest, StartsEmptyAndOnlyPicksFromItsList)
{
    EXPECT_EQ(box->count(), 0);
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(box->Text(), "");
    EXPECT_EQ(box->Style(), csDropDownList);
    EXPECT_FALSE(box->isEditable());
    EXPECT_EQ(box->ComProperty(), cpNone);
    EXPECT_EQ(box->ComPort(), nullptr);
    EXPECT_FALSE(box->AutoApply());
}

TEST_F(ComComboBoxTest, WithoutAPortAPropertySelectsItsFirstItem)
{
    box->SetComProperty(cpParity);
    EXPECT_EQ(box->count(), 5);
    EXPECT_EQ(box->ItemIndex(), 0);
    EXPECT_EQ(box->Text(), "None");
    EXPECT_EQ(box->itemText(4), QStringLiteral("Space")); // the caption shown
}

TEST_F(ComComboBoxTest, BaudSelectorBoundToA19200PortSelectsPosition9)
{
    box->SetComProperty(cpBaudRate);
    ASSERT_EQ(box->count(), 16);
    port->SetBaudRate(br19200);
    box->SetComPort(port.get());
    EXPECT_EQ(box->ItemIndex(), 9);
    EXPECT_EQ(box->Text(), "19200");
}

TEST_F(ComComboBoxTest, WritingThePropertyWithAPortBoundSelectsThePortsValue)
{
    port->SetStopBits(sbTwoStopBits);
    box->SetComPort(port.get());
    EXPECT_EQ(box->ItemIndex(), -1); // no list yet
    box->SetComProperty(cpStopBits);
    EXPECT_EQ(box->Text(), "2");
}

TEST_F(ComComboBoxTest, PickingCustomWithAutoApplySetsTheCustomRate)
{
    box->SetComProperty(cpBaudRate);
    box->SetAutoApply(true);
    port->SetBaudRate(br19200);
    port->SetCustomBaudRate(31250);
    box->SetComPort(port.get());
    port->SetPort("COM12");
    port->OpenPort();
    Pick(*box, 0);
    EXPECT_EQ(port->BaudRate(), brCustom);
    EXPECT_EQ(fake->CommState().BaudRate, 31250u); // the open port runs at its custom rate at once
}

TEST_F(ComComboBoxTest, APickByKeyboardIsAPickToo)
{
    box->SetComProperty(cpDataBits);
    box->SetAutoApply(true);
    box->SetComPort(port.get());
    ASSERT_EQ(box->Text(), "8");
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
    QApplication::sendEvent(box.get(), &home);
    EXPECT_EQ(box->Text(), "5");
    EXPECT_EQ(port->DataBits(), dbFive);
}

TEST_F(ComComboBoxTest, TheMouseWheelNeverPicksFocusedOrNot)
{
    box->SetComProperty(cpBaudRate);
    box->SetAutoApply(true);
    port->SetBaudRate(br19200);
    box->SetComPort(port.get());
    port->SetPort("COM12");
    port->OpenPort();
    int changes = 0;
    box->SetOnChange([&](TObject*) { ++changes; });
    box->show();
    const QPointF inside(box->width() / 2.0, box->height() / 2.0);
    for (const bool focused : {false, true}) {
        if (focused) {
            box->activateWindow();
            box->setFocus(Qt::OtherFocusReason);
        }
        for (const int turn : {-120, -120, 120}) {
            QWheelEvent wheel(inside, box->mapToGlobal(inside), {}, QPoint(0, turn), Qt::NoButton, Qt::NoModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(box.get(), &wheel);
            EXPECT_FALSE(wheel.isAccepted()) << "left to the parent to scroll";
        }
        EXPECT_EQ(box->Text(), "19200") << (focused ? "focused" : "unfocused");
        EXPECT_EQ(port->BaudRate(), br19200);
    }
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(box->focusPolicy(), Qt::StrongFocus) << "a wheel turn does not take the focus either";
}

TEST_F(ComComboBoxTest, PickingCustomFlowControlLeavesTheSwitches)
{
    port->FlowControl().SetControlRTS(rtsHandshake);
    port->FlowControl().SetXonXoffOut(true);
    box->SetComProperty(cpFlowControl);
    box->SetAutoApply(true);
    box->SetComPort(port.get());
    EXPECT_EQ(box->Text(), "Custom");
    Pick(*box, 1); // Software
    EXPECT_EQ(port->FlowControl().ControlRTS(), rtsDisable);
    EXPECT_TRUE(port->FlowControl().XonXoffIn());
    port->FlowControl().SetControlDTR(dtrHandshake);
    port->FlowControl().SetOutCTSFlow(true);
    Pick(*box, 3); // Custom
    EXPECT_EQ(port->FlowControl().ControlDTR(), dtrHandshake);
    EXPECT_TRUE(port->FlowControl().OutCTSFlow());
    EXPECT_TRUE(port->FlowControl().XonXoffIn());
    EXPECT_TRUE(port->FlowControl().XonXoffOut());
}

TEST_F(ComComboBoxTest, WithoutAutoApplyAPickIsOnlyHeldUntilApplied)
{
    box->SetComProperty(cpBaudRate);
    box->SetComPort(port.get());
    int changes = 0;
    box->SetOnChange([&](TObject* sender) {
        EXPECT_EQ(sender, box.get());
        ++changes;
    });
    Pick(*box, 13); // 115200
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(box->Selector().SelectedBaudRate(), br115200);
    EXPECT_EQ(port->BaudRate(), br9600);
    box->ApplySelection();
    EXPECT_EQ(port->BaudRate(), br115200);
}

TEST_F(ComComboBoxTest, ThePortHasTakenThePickBeforeOnChangeRuns)
{
    box->SetComProperty(cpParity);
    box->SetAutoApply(true);
    box->SetComPort(port.get());
    std::vector<TParityBits> seen;
    box->SetOnChange([&](TObject*) { seen.push_back(port->Parity().Bits()); });
    Pick(*box, 2);
    Pick(*box, 2); // picking the selected item again is a pick too
    EXPECT_EQ(seen, (std::vector<TParityBits>{prEven, prEven}));
}

TEST_F(ComComboBoxTest, AnApplyThatFailsReachesTheApplicationAndKeepsTheChoice)
{
    const std::string other = "varmio-combo-other-port";
    PublishVirtualPort(other);
    port->SetPort("COM12");
    port->OpenPort();
    box->SetComProperty(cpPort);
    box->SetAutoApply(true);
    box->SetComPort(port.get());
    bool changed = false;
    box->SetOnChange([&](TObject*) { changed = true; });
    ApplicationErrors errors;
    fake->FailCall(FakeDevice::opOpen, 2);
    const int index = box->Items().IndexOfText(other);
    ASSERT_GE(index, 0);
    Pick(*box, index);
    WithdrawVirtualPort(other);
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], "Unable to open com port (Error: 2)");
    EXPECT_FALSE(changed); // the failure left the change notification before OnChange
    EXPECT_EQ(box->Text(), other);
    EXPECT_EQ(box->Selector().SelectedPort(), other);
    EXPECT_EQ(port->Port(), other);
    EXPECT_FALSE(port->Connected());
}

TEST_F(ComComboBoxTest, APortMissingFromTheListGivesNoSelectionAndEmptyText)
{
    const std::string listed = "varmio-combo-listed-port";
    PublishVirtualPort(listed);
    port->SetPort(listed);
    box->SetComProperty(cpPort);
    box->SetComPort(port.get());
    EXPECT_EQ(box->Text(), listed);
    EXPECT_EQ(box->Selector().SelectedPort(), listed);

    auto other = std::make_unique<TComPort>(FakeDevice::FactoryFor(fake));
    other->SetPort("varmio-combo-absent-port");
    box->SetComPort(other.get());
    WithdrawVirtualPort(listed);
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(box->Text(), "");
    EXPECT_EQ(box->Selector().SelectedPort(), listed); // the held value keeps its previous content
    box->SetComPort(nullptr);
}

TEST_F(ComComboBoxTest, NoPropertyMeansAnEmptyListAndNoSelection)
{
    box->SetComProperty(cpNone);
    box->SetComPort(port.get());
    EXPECT_EQ(box->count(), 0);
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(box->Text(), "");
}

TEST_F(ComComboBoxTest, WritingTextSelectsAMatchingItemOnlyAndNeverApplies)
{
    box->SetComProperty(cpParity);
    box->SetAutoApply(true);
    box->SetComPort(port.get());
    bool changed = false;
    box->SetOnChange([&](TObject*) { changed = true; });
    box->SetText("mark");
    EXPECT_EQ(box->ItemIndex(), 3);
    EXPECT_EQ(box->Text(), "Mark");
    box->SetText("Parity");
    EXPECT_EQ(box->ItemIndex(), 3);
    EXPECT_EQ(port->Parity().Bits(), prNone);
    EXPECT_FALSE(changed);
}

TEST_F(ComComboBoxTest, DestroyingTheBoundPortForgetsItAndSelectsTheFirstItem)
{
    box->SetComProperty(cpBaudRate);
    box->SetAutoApply(true);
    port->SetBaudRate(br38400);
    box->SetComPort(port.get());
    ASSERT_EQ(box->Text(), "38400");
    port.reset();
    EXPECT_EQ(box->ComPort(), nullptr);
    EXPECT_EQ(box->ItemIndex(), 0);
    EXPECT_EQ(box->count(), 16);
    Pick(*box, 5); // held, with no port to apply it to
    EXPECT_EQ(box->Selector().SelectedBaudRate(), br2400);
}

TEST_F(ComComboBoxTest, AForgottenPortsRemovalIsIgnored)
{
    auto other = std::make_unique<TComPort>(FakeDevice::FactoryFor(fake));
    box->SetComProperty(cpDataBits);
    box->SetComPort(other.get());
    box->SetComPort(port.get());
    box->SetText("6");
    other.reset(); // it still sends its removal notice, which concerns no bound port
    EXPECT_EQ(box->ComPort(), port.get());
    EXPECT_EQ(box->Text(), "6");
}

TEST_F(ComComboBoxTest, AComboBoxDestroyedBeforeItsPortIsNotToldOfTheRemoval)
{
    // A notice reaching the destroyed box would be a use of freed memory (AddressSanitizer reports it).
    TComComboBox survivor;
    survivor.SetComProperty(cpBaudRate);
    survivor.SetComPort(port.get());
    box->SetComProperty(cpBaudRate);
    box->SetComPort(port.get());
    box.reset();
    port.reset();
    EXPECT_EQ(survivor.ComPort(), nullptr);
}

TEST_F(ComComboBoxTest, WritingNoneOnlyForgetsThePort)
{
    box->SetComProperty(cpBaudRate);
    box->SetAutoApply(true);
    port->SetBaudRate(br4800);
    box->SetComPort(port.get());
    box->SetComPort(nullptr);
    EXPECT_EQ(box->Text(), "4800");
    Pick(*box, 1);
    EXPECT_EQ(port->BaudRate(), br4800);
}

TEST_F(ComComboBoxTest, WritingTheSamePropertyRefillsTheList)
{
    box->SetComProperty(cpPort);
    const std::string late = "varmio-combo-late-port";
    PublishVirtualPort(late);
    EXPECT_EQ(box->Items().IndexOfText(late), -1);
    box->SetComProperty(cpPort);
    EXPECT_GE(box->Items().IndexOfText(late), 0);
    WithdrawVirtualPort(late);
    box->SetComProperty(cpPort);
    EXPECT_EQ(box->Items().IndexOfText(late), -1);
}

TEST_F(ComComboBoxTest, ThePortChangedByOtherMeansIsFollowedOnlyWhenSyncedAgain)
{
    box->SetComProperty(cpBaudRate);
    port->SetBaudRate(br9600);
    box->SetComPort(port.get());
    port->SetBaudRate(br57600);
    EXPECT_EQ(box->Text(), "9600");
    box->SetComPort(port.get()); // the port already bound: nothing happens
    EXPECT_EQ(box->Text(), "9600");
    box->SetComProperty(cpBaudRate);
    EXPECT_EQ(box->Text(), "57600");
}

TEST_F(ComComboBoxTest, TextsKeepTheirBytesThroughTheWidget)
{
    const std::string name = "/tmp/varmio-\xE8\xED"
                             "d\xEC"; // not valid UTF-8
    PublishVirtualPort(name);
    port->SetPort(name);
    box->SetComProperty(cpPort);
    box->SetComPort(port.get());
    WithdrawVirtualPort(name);
    EXPECT_EQ(box->Text(), name);
    EXPECT_EQ(box->Selector().SelectedPort(), name);
}

TEST_F(ComComboBoxTest, AStoredPortReferenceIsResolvedAfterTheOtherPropertiesAndSelectsItsValue)
{
    port->SetBaudRate(br19200);
    TComponent::LoadGroup({port.get(), box.get()}, [&] {
        // In the published order; the port, stored later in the form, is resolved last.
        box->SetComProperty(cpBaudRate);
        box->SetAutoApply(true);
        box->SetText("9600");
        box->SetStyle(csDropDownList);
        box->SetItemIndex(3);
        box->SetComPort(port.get());
    });
    EXPECT_EQ(box->ItemIndex(), 9);
    EXPECT_EQ(box->Text(), "19200");
    EXPECT_EQ(port->BaudRate(), br19200); // loading applied nothing
}

TEST_F(ComComboBoxTest, AStoredPortWhoseValueIsNotListedLeavesNoSelectionAfterLoading)
{
    port->SetPort("varmio-combo-never-installed");
    TComponent::LoadGroup({port.get(), box.get()}, [&] {
        box->SetComProperty(cpPort);
        box->SetAutoApply(true);
        box->SetItemIndex(0);
        box->SetComPort(port.get());
    });
    EXPECT_EQ(box->ItemIndex(), -1);
    EXPECT_EQ(box->Text(), "");
}

} // namespace
} // namespace cportctl::test
