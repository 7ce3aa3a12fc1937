// SPDX-License-Identifier: GPL-3.0-or-later
#include "cportctl/ComSelect.h"

#include "cport/Enumeration.h"

#include <vector>

namespace cportctl {

using namespace cport;

namespace {

// The texts of a settings table, in ordinal order.
template <typename Table>
std::vector<std::string> TableTexts(const Table& table)
{
    std::vector<std::string> texts;
    texts.reserve(table.size());
    for (const auto& row : table) texts.emplace_back(row.Text);
    return texts;
}

std::vector<std::string> Choices(TComProperty property)
{
    switch (property) {
    case cpNone: return {};
    case cpPort: {
        std::vector<std::string> ports;
        ListSerialPorts(ports); // leaves the list empty when the ports cannot be listed
        return ports;
    }
    case cpBaudRate: return TableTexts(kBaudRateTable);
    case cpDataBits: return TableTexts(kDataBitsTable);
    case cpStopBits: return TableTexts(kStopBitsTable);
    case cpParity: return TableTexts(kParityTable);
    case cpFlowControl: return TableTexts(kFlowControlTable);
    }
    return {};
}

} // namespace

void TComSelect::SelectProperty(TComProperty Property)
{
    m_comProperty = Property;
    if (m_itemList == nullptr) return;
    // Assign replaces the whole content, so the list is never left with stale choices.
    const std::vector<std::string> choices = Choices(Property);
    m_itemList->Assign(choices);
}

void TComSelect::Hold(std::string_view text)
{
    switch (m_comProperty) {
    case cpNone: break;
    case cpPort: m_selectedPort.assign(text); break;
    case cpBaudRate: m_selectedBaudRate = TextToBaudRate(text); break;
    case cpDataBits: m_selectedDataBits = TextToDataBits(text); break;
    case cpStopBits: m_selectedStopBits = TextToStopBits(text); break;
    case cpParity: m_selectedParity = TextToParity(text); break;
    case cpFlowControl: m_selectedFlowControl = TextToFlowControl(text); break;
    }
}

void TComSelect::TakeText(std::string_view Text)
{
    Hold(Text);
    if (m_autoApply) ApplySelection();
}

void TComSelect::ApplySelection()
{
    if (m_comPort == nullptr) return;
    switch (m_comProperty) {
    case cpNone: break;
    case cpPort: m_comPort->SetPort(m_selectedPort); break;
    case cpBaudRate: m_comPort->SetBaudRate(m_selectedBaudRate); break;
    case cpDataBits: m_comPort->SetDataBits(m_selectedDataBits); break;
    case cpStopBits: m_comPort->SetStopBits(m_selectedStopBits); break;
    case cpParity: m_comPort->Parity().SetBits(m_selectedParity); break;
    // fcCustom leaves the individual switches as they are.
    case cpFlowControl: m_comPort->FlowControl().SetFlowControl(m_selectedFlowControl); break;
    }
}

std::string TComSelect::PortValueText() const
{
    switch (m_comProperty) {
    case cpNone: break;
    case cpPort: return m_comPort->Port();
    case cpBaudRate: return std::string(BaudRateToText(m_comPort->BaudRate()));
    case cpDataBits: return std::string(DataBitsToText(m_comPort->DataBits()));
    case cpStopBits: return std::string(StopBitsToText(m_comPort->StopBits()));
    case cpParity: return std::string(ParityToText(m_comPort->Parity().Bits()));
    case cpFlowControl: return std::string(FlowControlToText(m_comPort->FlowControl().FlowControl()));
    }
    return {};
}

std::int32_t TComSelect::ReadPortValue()
{
    if (m_comPort == nullptr || m_comProperty == cpNone || m_itemList == nullptr) return -1;
    const std::int32_t index = m_itemList->IndexOfText(PortValueText());
    if (index >= 0) Hold(m_itemList->Strings(index));
    return index;
}

} // namespace cportctl
