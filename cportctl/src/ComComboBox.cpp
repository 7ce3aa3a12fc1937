// SPDX-License-Identifier: GPL-3.0-or-later
#include "cportctl/ComComboBox.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QWheelEvent>

namespace cportctl {

namespace {

// The combo box's items as a text list. Each item keeps its text's exact bytes as item data, so a
// text survives the round trip through the widget unchanged; the caption shown is its decoding.
class ComboItems final : public TStrings {
public:
    explicit ComboItems(QComboBox& box) : m_box(box) {}

    std::int32_t Count() const override { return m_box.count(); }
    std::string Strings(std::int32_t index) const override
    {
        return m_box.itemData(index, kBytesRole).toByteArray().toStdString();
    }
    void Assign(std::span<const std::string> items) override
    {
        m_box.clear();
        for (const std::string& text : items) {
            const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
            m_box.addItem(QString::fromLocal8Bit(bytes), bytes);
        }
    }

private:
    static constexpr int kBytesRole = Qt::UserRole;
    QComboBox& m_box;
};

} // namespace

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), m_items(std::make_unique<ComboItems>(*this))
{
    m_selector.SetItemList(m_items.get());
    SetStyle(csDropDownList);
    setInsertPolicy(QComboBox::NoInsert); // typed texts never join the choices
    setFocusPolicy(Qt::StrongFocus);      // not taken by a wheel turn
    // activated: the user picked an item (also the one already selected); programmatic changes of
    // the selection do not count.
    connect(this, &QComboBox::activated, this, &TComComboBox::UserPicked);
}

TComComboBox::~TComComboBox()
{
    // The selector refers to the items; it must not outlive them, nor be used while they go.
    m_selector.SetItemList(nullptr);
}

void TComComboBox::SetComPort(cport::TCustomComPort* value)
{
    if (value == m_selector.ComPort()) return;
    m_selector.SetComPort(value);
    m_portComponent = value;
    if (value == nullptr) return; // the earlier port's removal notice stays requested; it is harmless
    value->FreeNotification(this);
    SyncWithPort();
}

void TComComboBox::SetComProperty(TComProperty value)
{
    m_selector.SelectProperty(value);
    if (m_items->Count() == 0) return;
    if (m_selector.ComPort() == nullptr) SetItemIndex(0);
    else SyncWithPort();
}

std::string TComComboBox::Text() const
{
    const std::int32_t index = ItemIndex();
    return index < 0 ? std::string() : m_items->Strings(index);
}

void TComComboBox::SetText(std::string_view value)
{
    const std::int32_t index = m_items->IndexOfText(value);
    if (index >= 0) SetItemIndex(index);
}

void TComComboBox::SyncWithPort() { SetItemIndex(m_selector.ReadPortValue()); }

void TComComboBox::Change()
{
    m_selector.TakeText(Text());
    FireChange();
}

void TComComboBox::FireChange()
{
    if (m_onChange) m_onChange(this);
}

void TComComboBox::wheelEvent(QWheelEvent* event) { event->ignore(); }

void TComComboBox::UserPicked()
{
    // Qt's event loop carries no exceptions: what applying the pick throws (a port name that does not
    // open, a setting the device refuses) goes to the application's handler, as any error of a
    // handler run from the event loop does. The pick stays held and shown.
    try {
        Change();
    } catch (...) {
        cport::HandleCurrentException(this);
    }
}

void TComComboBox::Notification(cport::TComponent* AComponent, cport::TOperation Operation)
{
    cport::TComponent::Notification(AComponent, Operation);
    // The port may be partly destroyed already: compare addresses only.
    if (Operation != cport::opRemove || AComponent == nullptr || AComponent != m_portComponent) return;
    m_selector.SetComPort(nullptr);
    m_portComponent = nullptr;
    if (m_items->Count() > 0) SetItemIndex(0);
}

} // namespace cportctl
