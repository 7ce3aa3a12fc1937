// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The logic of a port property selector: the choices for one property of a port, the conversion of a
// chosen text into a value, writing that value into the port, and finding the port's current value
// among the choices. TComComboBox puts it on screen.
//
// Threads: main thread only, like the port it writes to.

#include "cport/ComPort.h"
#include "cport/Framework.h"
#include "cport/Settings.h"
#include "cportctl/Strings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace cportctl {

// The port property a selector edits.
enum TComProperty : std::uint8_t {
    cpNone,        // no property: the list stays empty
    cpPort,        // Port, the device name
    cpBaudRate,    // BaudRate
    cpDataBits,    // DataBits
    cpStopBits,    // StopBits
    cpParity,      // Parity().Bits()
    cpFlowControl, // FlowControl().FlowControl(), the summary of the flow-control switches
};

// Holds one value per property; only the one of the current ComProperty is ever read, the others keep
// what they last held. Refers to its item list and its port without owning either.
class TComSelect : public cport::TObject {
public:
    const char* ClassName() const override { return "TComSelect"; }

    // ComProperty := `Property`, then the item list is emptied and refilled with its choices, one per
    // value in ordinal order (so an item's position is its value's ordinal), or for cpPort the
    // installed ports as ListSerialPorts gives them. Refills on every call, even with the same property.
    void SelectProperty(TComProperty Property);
    // Converts `Text` into the held value of ComProperty (texts match without regard to letter case;
    // a text that matches nothing gives the conversion's fallback; a port name is held as it stands),
    // then applies it when AutoApply is on. Throws what ApplySelection throws; the value stays held.
    void TakeText(std::string_view Text);
    // Writes the held value of ComProperty into the port through the port's own setter (an open port
    // takes it at once, and a new port name reopens it). Nothing happens without a port. Throws the
    // port's EComPort (a name that does not open, a line setting the device refuses).
    void ApplySelection();
    // The position of the port's current value in the item list (the first item equal to its text,
    // ignoring letter case), which is then held as that item's text converts (a port name in the list's
    // letter case); -1 with nothing held when there is no port, no property, or no such item. Nothing
    // is applied.
    std::int32_t ReadPortValue();

    TComProperty ComProperty() const { return m_comProperty; } // the property offered, set by SelectProperty
    // The port picks are written into; not owned, null for none.
    cport::TCustomComPort* ComPort() const { return m_comPort; }
    void SetComPort(cport::TCustomComPort* port) { m_comPort = port; }
    // Whether TakeText applies the value at once.
    bool AutoApply() const { return m_autoApply; }
    void SetAutoApply(bool value) { m_autoApply = value; }
    // The list SelectProperty fills; not owned, null for none.
    TStrings* ItemList() const { return m_itemList; }
    void SetItemList(TStrings* list) { m_itemList = list; }

    // The values held, one per property; only ComProperty's is current.
    const std::string& SelectedPort() const { return m_selectedPort; }                // cpPort
    cport::TBaudRate SelectedBaudRate() const { return m_selectedBaudRate; }          // cpBaudRate
    cport::TDataBits SelectedDataBits() const { return m_selectedDataBits; }          // cpDataBits
    cport::TStopBits SelectedStopBits() const { return m_selectedStopBits; }          // cpStopBits
    cport::TParityBits SelectedParity() const { return m_selectedParity; }            // cpParity
    cport::TFlowControl SelectedFlowControl() const { return m_selectedFlowControl; } // cpFlowControl

private:
    // Converts `text` into the held value of ComProperty, without applying it.
    void Hold(std::string_view text);
    // The port's current value of ComProperty as text (a port is bound, ComProperty is not cpNone).
    std::string PortValueText() const;

    std::string m_selectedPort;
    cport::TBaudRate m_selectedBaudRate = cport::brCustom;
    cport::TDataBits m_selectedDataBits = cport::dbFive;
    cport::TStopBits m_selectedStopBits = cport::sbOneStopBit;
    cport::TParityBits m_selectedParity = cport::prNone;
    cport::TFlowControl m_selectedFlowControl = cport::fcHardware;
    TStrings* m_itemList = nullptr;
    TComProperty m_comProperty = cpNone;
    cport::TCustomComPort* m_comPort = nullptr;
    bool m_autoApply = false;
};

} // namespace cportctl
