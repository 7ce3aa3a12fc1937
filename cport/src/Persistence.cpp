// SPDX-License-Identifier: GPL-3.0-or-later
// The 29 stored keys and the port's four operations that walk them: saving to and loading from an ini
// section or a registry key.

#include "cport/Persistence.h"

#include "cport/ComPort.h"

namespace cport {

namespace {

using Port = TCustomComPort;

// Rows of the table. A text key converts between the setting and its text; an integer key hands the
// number through.
constexpr TStoredKey TextKey(const char* name, TStoredProp group, std::string (*text)(const Port&),
                             void (*setText)(Port&, std::string_view))
{
    return {name, group, skText, text, setText, nullptr, nullptr, nullptr, std::nullopt};
}
constexpr TStoredKey IntegerKey(const char* name, TStoredProp group, std::int32_t (*integer)(const Port&),
                                void (*setInteger)(Port&, std::int32_t))
{
    return {name, group, skInteger, nullptr, nullptr, integer, setInteger, nullptr, std::nullopt};
}

std::string Text(std::string_view text) { return std::string(text); }

// "CustomBaudRate" is handled only while the rate is the custom one; an ini section lacking it gives
// the default rate.
constexpr TStoredKey CustomBaudRateKey()
{
    TStoredKey key = IntegerKey(
        "CustomBaudRate", spBasic, [](const Port& p) { return p.CustomBaudRate(); },
        [](Port& p, std::int32_t v) { p.SetCustomBaudRate(v); });
    key.Handled = [](const Port& p) { return p.BaudRate() == brCustom; };
    key.IniDefault = 9600;
    return key;
}

constexpr std::array<TStoredKey, kStoredKeyCount> kStoredKeys{{
    TextKey(
        "Port", spBasic, [](const Port& p) { return p.Port(); },
        [](Port& p, std::string_view t) { p.SetPort(std::string(t)); }),
    TextKey(
        "BaudRate", spBasic, [](const Port& p) { return Text(BaudRateToText(p.BaudRate())); },
        [](Port& p, std::string_view t) { p.SetBaudRate(TextToBaudRate(t)); }),
    CustomBaudRateKey(),
    TextKey(
        "StopBits", spBasic, [](const Port& p) { return Text(StopBitsToText(p.StopBits())); },
        [](Port& p, std::string_view t) { p.SetStopBits(TextToStopBits(t)); }),
    TextKey(
        "DataBits", spBasic, [](const Port& p) { return Text(DataBitsToText(p.DataBits())); },
        [](Port& p, std::string_view t) { p.SetDataBits(TextToDataBits(t)); }),
    TextKey(
        "Parity", spBasic, [](const Port& p) { return Text(ParityToText(p.Parity().Bits())); },
        [](Port& p, std::string_view t) { p.Parity().SetBits(TextToParity(t)); }),
    TextKey(
        "FlowControl", spBasic, [](const Port& p) { return Text(FlowControlToText(p.FlowControl().FlowControl())); },
        [](Port& p, std::string_view t) { p.FlowControl().SetFlowControl(TextToFlowControl(t)); }),

    TextKey(
        "EventChar", spOthers, [](const Port& p) { return CharToText(p.EventChar()); },
        [](Port& p, std::string_view t) { p.SetEventChar(TextToChar(t)); }),
    TextKey(
        "DiscardNull", spOthers, [](const Port& p) { return BoolToText(p.DiscardNull()); },
        [](Port& p, std::string_view t) { p.SetDiscardNull(TextToBool(t)); }),

    TextKey(
        "Parity.Check", spParity, [](const Port& p) { return BoolToText(p.Parity().Check()); },
        [](Port& p, std::string_view t) { p.Parity().SetCheck(TextToBool(t)); }),
    TextKey(
        "Parity.Replace", spParity, [](const Port& p) { return BoolToText(p.Parity().Replace()); },
        [](Port& p, std::string_view t) { p.Parity().SetReplace(TextToBool(t)); }),
    TextKey(
        "Parity.ReplaceChar", spParity, [](const Port& p) { return CharToText(p.Parity().ReplaceChar()); },
        [](Port& p, std::string_view t) { p.Parity().SetReplaceChar(TextToChar(t)); }),

    IntegerKey(
        "Buffer.OutputSize", spBuffer, [](const Port& p) { return p.Buffer().OutputSize(); },
        [](Port& p, std::int32_t v) { p.Buffer().SetOutputSize(v); }),
    IntegerKey(
        "Buffer.InputSize", spBuffer, [](const Port& p) { return p.Buffer().InputSize(); },
        [](Port& p, std::int32_t v) { p.Buffer().SetInputSize(v); }),

    IntegerKey(
        "Timeouts.ReadInterval", spTimeouts, [](const Port& p) { return p.Timeouts().ReadInterval(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetReadInterval(v); }),
    IntegerKey(
        "Timeouts.ReadTotalConstant", spTimeouts, [](const Port& p) { return p.Timeouts().ReadTotalConstant(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
    IntegerKey(
        "Timeouts.ReadTotalMultiplier", spTimeouts, [](const Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
    IntegerKey(
        "Timeouts.WriteTotalConstant", spTimeouts, [](const Port& p) { return p.Timeouts().WriteTotalConstant(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
    IntegerKey(
        "Timeouts.WriteTotalMultiplier", spTimeouts, [](const Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }),

    TextKey(
        "FlowControl.ControlRTS", spFlowControl,
        [](const Port& p) { return Text(RTSToText(p.FlowControl().ControlRTS())); },
        [](Port& p, std::string_view t) { p.FlowControl().SetControlRTS(TextToRTS(t)); }),
    TextKey(
        "FlowControl.ControlDTR", spFlowControl,
        [](const Port& p) { return Text(DTRToText(p.FlowControl().ControlDTR())); },
        [](Port& p, std::string_view t) { p.FlowControl().SetControlDTR(TextToDTR(t)); }),
    TextKey(
        "FlowControl.DSRSensitivity", spFlowControl,
        [](const Port& p) { return BoolToText(p.FlowControl().DSRSensitivity()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetDSRSensitivity(TextToBool(t)); }),
    TextKey(
        "FlowControl.OutCTSFlow", spFlowControl, [](const Port& p) { return BoolToText(p.FlowControl().OutCTSFlow()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetOutCTSFlow(TextToBool(t)); }),
    TextKey(
        "FlowControl.OutDSRFlow", spFlowControl, [](const Port& p) { return BoolToText(p.FlowControl().OutDSRFlow()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetOutDSRFlow(TextToBool(t)); }),
    TextKey(
        "FlowControl.TxContinueOnXoff", spFlowControl,
        [](const Port& p) { return BoolToText(p.FlowControl().TxContinueOnXoff()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetTxContinueOnXoff(TextToBool(t)); }),
    TextKey(
        "FlowControl.XonXoffIn", spFlowControl, [](const Port& p) { return BoolToText(p.FlowControl().XonXoffIn()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXonXoffIn(TextToBool(t)); }),
    TextKey(
        "FlowControl.XonXoffOut", spFlowControl, [](const Port& p) { return BoolToText(p.FlowControl().XonXoffOut()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXonXoffOut(TextToBool(t)); }),
    TextKey(
        "FlowControl.XoffChar", spFlowControl, [](const Port& p) { return CharToText(p.FlowControl().XoffChar()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXoffChar(TextToChar(t)); }),
    TextKey(
        "FlowControl.XonChar", spFlowControl, [](const Port& p) { return CharToText(p.FlowControl().XonChar()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXonChar(TextToChar(t)); }),
}};

// Every operation walks the rows in table order; that is the group order only if the rows keep it.
constexpr bool GroupedInHandlingOrder()
{
    constexpr TStoredProp kGroupOrder[] = {spBasic, spOthers, spParity, spBuffer, spTimeouts, spFlowControl};
    std::size_t group = 0;
    for (const TStoredKey& key : kStoredKeys) {
        while (group < std::size(kGroupOrder) && kGroupOrder[group] != key.Group) ++group;
        if (group == std::size(kGroupOrder)) return false;
    }
    return true;
}
static_assert(GroupedInHandlingOrder());

bool Handled(const TStoredKey& key, const Port& port)
{
    return port.StoredProps().Contains(key.Group) && (key.Handled == nullptr || key.Handled(port));
}

// Walks the keys of the selected groups and writes each one: writeText(name, text) for text keys,
// writeInteger(name, number) for integer keys.
template <typename WriteText, typename WriteInteger>
void SaveKeys(const Port& port, WriteText writeText, WriteInteger writeInteger)
{
    for (const TStoredKey& key : StoredKeys) {
        if (!Handled(key, port)) continue;
        if (key.Kind == skText) writeText(key.Name, key.Text(port));
        else writeInteger(key.Name, key.Integer(port));
    }
}

// Walks the keys of the selected groups and applies each one before the next is read (whether
// "CustomBaudRate" is read depends on the "BaudRate" just applied). readText(key) and
// readInteger(key) read one key; they may use the key's current value as their default.
template <typename ReadText, typename ReadInteger>
void LoadKeys(Port& port, ReadText readText, ReadInteger readInteger)
{
    for (const TStoredKey& key : StoredKeys) {
        if (!Handled(key, port)) continue;
        if (key.Kind == skText) key.SetText(port, readText(key));
        else key.SetInteger(port, readInteger(key));
    }
}

} // namespace

const std::array<TStoredKey, kStoredKeyCount> StoredKeys = kStoredKeys;

void TCustomComPort::SaveToRegistryKey(TRegistry& Registry) const
{
    SaveKeys(
        *this, [&](const char* name, const std::string& text) { Registry.WriteString(name, text); },
        [&](const char* name, std::int32_t number) { Registry.WriteInteger(name, number); });
}

void TCustomComPort::SaveToIniSection(TCustomIniFile& IniFile) const
{
    SaveKeys(
        *this, [&](const char* name, const std::string& text) { IniFile.WriteString(Name(), name, text); },
        [&](const char* name, std::int32_t number) { IniFile.WriteInteger(Name(), name, number); });
}

void TCustomComPort::LoadFromRegistryKey(TRegistry& Registry)
{
    // No defaults: a missing text reads as empty text and goes through its conversion; a missing
    // integer is the registry's error.
    LoadKeys(
        *this, [&](const TStoredKey& key) { return Registry.ReadString(key.Name); },
        [&](const TStoredKey& key) { return Registry.ReadInteger(key.Name); });
}

void TCustomComPort::LoadFromIniSection(TCustomIniFile& IniFile)
{
    // The section is the component's name as loading begins (no key renames the component).
    const std::string section = Name();
    LoadKeys(
        *this, [&](const TStoredKey& key) { return IniFile.ReadString(section, key.Name, key.Text(*this)); },
        [&](const TStoredKey& key) {
            return IniFile.ReadInteger(section, key.Name, key.IniDefault.value_or(key.Integer(*this)));
        });
}

} // namespace cport
