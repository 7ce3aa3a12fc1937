// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A drop-down list that offers the choices for one property of a port and writes the user's pick
// into that port.
//
// The control is a QComboBox and a component: the widget belongs to its Qt parent, and as a component
// it asks its port for a removal notice, so a port destroyed first is forgotten, and a control
// destroyed first leaves the port's notification list.
//
// Threads: main thread only.

#include "cport/ComPort.h"
#include "cport/Framework.h"
#include "cportctl/ComSelect.h"
#include "cportctl/Strings.h"

#include <QComboBox>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cportctl {

// csDropDown lets the user type a text; csDropDownList only picks from the list.
enum TComboBoxStyle : std::uint8_t { csDropDown, csDropDownList };

// A combo box that offers the choices of one port property (ComProperty) and writes the user's pick into its bound
// port.
class TComComboBox : public QComboBox, public cport::TComponent {
    Q_OBJECT

public:
    // Empty until ComProperty is written; styled csDropDownList.
    explicit TComComboBox(QWidget* parent = nullptr);
    ~TComComboBox() override;
    const char* ClassName() const override { return "TComComboBox"; }

    // The bound port; not owned. Binding a port asks it for a removal notice and selects the item
    // matching the port's value (SyncWithPort). Writing the port already bound does nothing; writing
    // null only forgets the port (the list and selection stay).
    cport::TCustomComPort* ComPort() const { return m_selector.ComPort(); }
    void SetComPort(cport::TCustomComPort* value);
    // Refills the list on every write (for cpPort the installed ports are listed anew), then selects
    // the first item, or with a port bound the item matching its value.
    TComProperty ComProperty() const { return m_selector.ComProperty(); }
    void SetComProperty(TComProperty value);
    // Whether a pick is written into the port at once.
    bool AutoApply() const { return m_selector.AutoApply(); }
    void SetAutoApply(bool value) { m_selector.SetAutoApply(value); }
    // The selected item's text, empty when nothing is selected. Writing selects the first item equal
    // to the text (ignoring letter case) and otherwise changes nothing; it never applies anything and
    // never fires OnChange.
    std::string Text() const;
    void SetText(std::string_view value);
    // Whether the user may type a text (csDropDown) or only pick (csDropDownList).
    TComboBoxStyle Style() const { return isEditable() ? csDropDown : csDropDownList; }
    void SetStyle(TComboBoxStyle value) { setEditable(value == csDropDown); }
    // The selected position, -1 for none.
    std::int32_t ItemIndex() const { return currentIndex(); }
    void SetItemIndex(std::int32_t value) { setCurrentIndex(value); }

    // Fired when the user picks an item, after the pick has been taken (and, with AutoApply, applied).
    const cport::TNotifyEvent& OnChange() const { return m_onChange; }
    void SetOnChange(cport::TNotifyEvent handler) { m_onChange = std::move(handler); }

    // Selects the item matching the bound port's current value; none when the list lacks it.
    void SyncWithPort();
    // Writes the held pick into the port; for applications that keep AutoApply off. Throws the port's
    // EComPort.
    void ApplySelection() { m_selector.ApplySelection(); }

    // The selector that holds the property, the pick and the port.
    const TComSelect& Selector() const { return m_selector; }
    // The item list as the selector fills it.
    TStrings& Items() { return *m_items; }
    const TStrings& Items() const { return *m_items; }

protected:
    // The change notification: the pick is taken (and applied with AutoApply), then FireChange. Runs
    // when the user picks an item. Throws what applying the pick throws (OnChange then does not fire).
    virtual void Change();
    // Calls OnChange when it is assigned.
    virtual void FireChange();
    // A wheel turn is passed on to the parent: a stray turn over the control must not move a live
    // port to another device or speed. Picks come from the list or from the keyboard.
    void wheelEvent(QWheelEvent* event) override;
    void Notification(cport::TComponent* AComponent, cport::TOperation Operation) override;

private:
    void UserPicked();

    TComSelect m_selector;
    std::unique_ptr<TStrings> m_items; // the combo box's own items, as the selector's list
    // The bound port as the component that sends its removal notice; compared, never called.
    cport::TComponent* m_portComponent = nullptr;
    cport::TNotifyEvent m_onChange;
};

} // namespace cportctl
