// SPDX-License-Identifier: GPL-3.0-or-later
// Saving a port's settings to an ini section or a registry key and loading them back: what is written,
// in which order, what loading restores and leaves, the texts of the edge cases, bad input, errors,
// and loading onto an open port.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "cport/CPort.h"
#include "support/PtyPair.h"

namespace cport {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Every stored setting, read through the port's own accessors and keyed by its stored name, so that
// the table under test is checked against something it did not produce.
using Settings = std::map<std::string, std::string>;

std::string Str(char c) { return std::to_string(static_cast<unsigned char>(c)); }

Settings SettingsOf(const TCustomComPort& p)
{
    const TComFlowControl& f = p.FlowControl();
    return {
        {"Port", p.Port()},
        {"BaudRate", std::to_string(p.BaudRate())},
        {"CustomBaudRate", std::to_string(p.CustomBaudRate())},
        {"StopBits", std::to_string(p.StopBits())},
        {"DataBits", std::to_string(p.DataBits())},
        {"Parity", std::to_string(p.Parity().Bits())},
        {"FlowControl", std::to_string(f.FlowControl())},
        {"EventChar", Str(p.EventChar())},
        {"DiscardNull", std::to_string(p.DiscardNull())},
        {"Parity.Check", std::to_string(p.Parity().Check())},
        {"Parity.Replace", std::to_string(p.Parity().Replace())},
        {"Parity.ReplaceChar", Str(p.Parity().ReplaceChar())},
        {"Buffer.OutputSize", std::to_string(p.Buffer().OutputSize())},
        {"Buffer.InputSize", std::to_string(p.Buffer().InputSize())},
        {"Timeouts.ReadInterval", std::to_string(p.Timeouts().ReadInterval())},
        {"Timeouts.ReadTotalConstant", std::to_string(p.Timeouts().ReadTotalConstant())},
        {"Timeouts.ReadTotalMultiplier", std::to_string(p.Timeouts().ReadTotalMultiplier())},
        {"Timeouts.WriteTotalConstant", std::to_string(p.Timeouts().WriteTotalConstant())},
        {"Timeouts.WriteTotalMultiplier", std::to_string(p.Timeouts().WriteTotalMultiplier())},
        {"FlowControl.ControlRTS", std::to_string(f.ControlRTS())},
        {"FlowControl.ControlDTR", std::to_string(f.ControlDTR())},
        {"FlowControl.DSRSensitivity", std::to_string(f.DSRSensitivity())},
        {"FlowControl.OutCTSFlow", std::to_string(f.OutCTSFlow())},
        {"FlowControl.OutDSRFlow", std::to_string(f.OutDSRFlow())},
        {"FlowControl.TxContinueOnXoff", std::to_string(f.TxContinueOnXoff())},
        {"FlowControl.XonXoffIn", std::to_string(f.XonXoffIn())},
        {"FlowControl.XonXoffOut", std::to_string(f.XonXoffOut())},
        {"FlowControl.XoffChar", Str(f.XoffChar())},
        {"FlowControl.XonChar", Str(f.XonChar())},
    };
}

// The 29 keys in the order every operation handles them, with their groups.
const std::vector<std::pair<std::string, TStoredProp>> kKeysInOrder = {
    {"Port", spBasic},
    {"BaudRate", spBasic},
    {"CustomBaudRate", spBasic},
    {"StopBits", spBasic},
    {"DataBits", spBasic},
    {"Parity", spBasic},
    {"FlowControl", spBasic},
    {"EventChar", spOthers},
    {"DiscardNull", spOthers},
    {"Parity.Check", spParity},
    {"Parity.Replace", spParity},
    {"Parity.ReplaceChar", spParity},
    {"Buffer.OutputSize", spBuffer},
    {"Buffer.InputSize", spBuffer},
    {"Timeouts.ReadInterval", spTimeouts},
    {"Timeouts.ReadTotalConstant", spTimeouts},
    {"Timeouts.ReadTotalMultiplier", spTimeouts},
    {"Timeouts.WriteTotalConstant", spTimeouts},
    {"Timeouts.WriteTotalMultiplier", spTimeouts},
    {"FlowControl.ControlRTS", spFlowControl},
    {"FlowControl.ControlDTR", spFlowControl},
    {"FlowControl.DSRSensitivity", spFlowControl},
    {"FlowControl.OutCTSFlow", spFlowControl},
    {"FlowControl.OutDSRFlow", spFlowControl},
    {"FlowControl.TxContinueOnXoff", spFlowControl},
    {"FlowControl.XonXoffIn", spFlowControl},
    {"FlowControl.XonXoffOut", spFlowControl},
    {"FlowControl.XoffChar", spFlowControl},
    {"FlowControl.XonChar", spFlowControl},
};

const TStoredProps kAllGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

std::vector<std::string> KeysOf(TStoredProps groups, bool customRate)
{
    std::vector<std::string> keys;
    for (const auto& [name, group] : kKeysInOrder) {
        if (groups.Contains(group) && (name != "CustomBaudRate" || customRate)) keys.push_back(name);
    }
    return keys;
}

// A port whose every setting differs from the defaults. Its flow control amounts to the hardware
// preset, which the summary key alone can restore.
void SetAllDifferent(TCustomComPort& p)
{
    p.SetName("ComPort1");
    p.SetPort("ttyUSB7");
    p.SetBaudRate(brCustom);
    p.SetCustomBaudRate(12345);
    p.SetStopBits(sbTwoStopBits);
    p.SetDataBits(dbSeven);
    p.Parity().SetBits(prEven);
    p.SetEventChar('\r');
    p.SetDiscardNull(true);
    p.Parity().SetCheck(true);
    p.Parity().SetReplace(true);
    p.Parity().SetReplaceChar('?');
    p.Buffer().SetOutputSize(2048);
    p.Buffer().SetInputSize(4096);
    p.Timeouts().SetReadInterval(11);
    p.Timeouts().SetReadTotalConstant(12);
    p.Timeouts().SetReadTotalMultiplier(13);
    p.Timeouts().SetWriteTotalConstant(14);
    p.Timeouts().SetWriteTotalMultiplier(15);
    TComFlowControl& f = p.FlowControl();
    f.SetFlowControl(fcHardware);
    f.SetControlDTR(dtrHandshake);
    f.SetDSRSensitivity(true);
    f.SetOutDSRFlow(true);
    f.SetTxContinueOnXoff(true);
    f.SetXoffChar(static_cast<char>(200));
    f.SetXonChar('A');
}

// A second set of values, none equal to the first or to the defaults; its flow control is no preset.
void SetAllOther(TCustomComPort& p)
{
    p.SetName("ComPort1");
    p.SetPort("ttyS3");
    p.SetBaudRate(br57600);
    p.SetCustomBaudRate(777);
    p.SetStopBits(sbOne5StopBits);
    p.SetDataBits(dbFive);
    p.Parity().SetBits(prMark);
    p.SetEventChar('x');
    p.Parity().SetReplaceChar('!');
    p.Buffer().SetOutputSize(256);
    p.Buffer().SetInputSize(512);
    p.Timeouts().SetReadInterval(21);
    p.Timeouts().SetReadTotalConstant(22);
    p.Timeouts().SetReadTotalMultiplier(23);
    p.Timeouts().SetWriteTotalConstant(24);
    p.Timeouts().SetWriteTotalMultiplier(25);
    TComFlowControl& f = p.FlowControl();
    f.SetControlRTS(rtsToggle);
    f.SetControlDTR(dtrEnable);
    f.SetXonXoffIn(true);
    f.SetXoffChar('\x01');
    f.SetXonChar('\x02');
}

std::vector<std::string> RegistryNames(const TMemoryRegistry& key)
{
    std::vector<std::string> names;
    for (const TRegistryValue& value : key.Values()) names.push_back(value.Name);
    return names;
}

// ---- Saving ------------------------------------------------------------------------------------------------

TEST(SavingSettings, WritesTheBasicKeysInOrderAndTheCustomRateOnlyWhenItIsUsed)
{
    TComPort port;
    port.SetName("ComPort1");
    port.SetBaudRate(br19200);
    TMemIniFile ini;
    TMemoryRegistry key;
    port.SaveToIniSection(ini);
    port.SaveToRegistryKey(key);
    const std::vector<std::string> basic{"Port", "BaudRate", "StopBits", "DataBits", "Parity", "FlowControl"};
    EXPECT_EQ(ini.ReadSection("ComPort1"), basic);
    EXPECT_EQ(RegistryNames(key), basic);
    EXPECT_EQ(ini.Text(),
              "[ComPort1]\nPort=COM1\nBaudRate=19200\nStopBits=1\nDataBits=8\nParity=None\nFlowControl=None\n");

    port.SetBaudRate(brCustom);
    TMemIniFile customIni;
    TMemoryRegistry customKey;
    port.SaveToIniSection(customIni);
    port.SaveToRegistryKey(customKey);
    const std::vector<std::string> custom{"Port",     "BaudRate", "CustomBaudRate", "StopBits",
                                          "DataBits", "Parity",   "FlowControl"};
    EXPECT_EQ(customIni.ReadSection("ComPort1"), custom);
    EXPECT_EQ(RegistryNames(customKey), custom);
    EXPECT_EQ(customIni.ReadString("ComPort1", "CustomBaudRate", ""), "9600");
}

TEST(SavingSettings, WritesEachSelectedGroupInTheHandlingOrderWithItsValueTypes)
{
    TComPort port;
    SetAllDifferent(port);
    for (unsigned bits = 0; bits < 64; ++bits) {
        const TStoredProps groups = TStoredProps::FromBits(static_cast<std::uint8_t>(bits));
        port.SetStoredProps(groups);
        TMemIniFile ini;
        TMemoryRegistry key;
        port.SaveToIniSection(ini);
        port.SaveToRegistryKey(key);
        const std::vector<std::string> expected = KeysOf(groups, true);
        EXPECT_EQ(ini.ReadSection("ComPort1"), expected) << bits;
        ASSERT_EQ(RegistryNames(key), expected) << bits;
        for (const TRegistryValue& value : key.Values()) {
            const bool integer = value.Name == "CustomBaudRate" || value.Name.starts_with("Buffer.") ||
                                 value.Name.starts_with("Timeouts.");
            EXPECT_EQ(value.Type, integer ? kRegDword : kRegSz) << value.Name;
            EXPECT_EQ(value.Data.size(), integer ? 4u : key.ReadString(value.Name).size() + 1) << value.Name;
        }
    }
}

TEST(SavingSettings, WritesTheTextsOfEveryKind)
{
    TComPort port;
    SetAllDifferent(port);
    port.SetStoredProps(kAllGroups);
    TMemIniFile ini;
    port.SaveToIniSection(ini);
    const std::map<std::string, std::string> expected = {
        {"Port", "ttyUSB7"},
        {"BaudRate", "Custom"},
        {"CustomBaudRate", "12345"},
        {"StopBits", "2"},
        {"DataBits", "7"},
        {"Parity", "Even"},
        {"FlowControl", "Hardware"},
        {"EventChar", "#13"},
        {"DiscardNull", "Yes"},
        {"Parity.Check", "Yes"},
        {"Parity.Replace", "Yes"},
        {"Parity.ReplaceChar", "?"},
        {"Buffer.OutputSize", "2048"},
        {"Buffer.InputSize", "4096"},
        {"Timeouts.ReadInterval", "11"},
        {"Timeouts.ReadTotalConstant", "12"},
        {"Timeouts.ReadTotalMultiplier", "13"},
        {"Timeouts.WriteTotalConstant", "14"},
        {"Timeouts.WriteTotalMultiplier", "15"},
        {"FlowControl.ControlRTS", "Handshake"},
        {"FlowControl.ControlDTR", "Handshake"},
        {"FlowControl.DSRSensitivity", "Yes"},
        {"FlowControl.OutCTSFlow", "Yes"},
        {"FlowControl.OutDSRFlow", "Yes"},
        {"FlowControl.TxContinueOnXoff", "Yes"},
        {"FlowControl.XonXoffIn", "No"},
        {"FlowControl.XonXoffOut", "No"},
        {"FlowControl.XoffChar", "#200"},
        {"FlowControl.XonChar", "A"},
    };
    for (const auto& [name, text] : expected) EXPECT_EQ(ini.ReadString("ComPort1", name, "missing"), text) << name;

    for (const auto& [c, text] : std::map<char, std::string>{{'\0', "#0"}, {'A', "A"}, {'#', "#"}, {' ', "#32"}}) {
        port.SetEventChar(c);
        port.SaveToIniSection(ini);
        EXPECT_EQ(ini.ReadString("ComPort1", "EventChar", ""), text);
    }
}

TEST(SavingSettings, DeletesNothing)
{
    TComPort port;
    port.SetName("ComPort1");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(31250);
    TMemIniFile ini("[ComPort1]\nEventChar=#13\n");
    TMemoryRegistry key;
    port.SaveToIniSection(ini);
    port.SaveToRegistryKey(key);
    port.SetBaudRate(br9600);
    port.SaveToIniSection(ini);
    port.SaveToRegistryKey(key);
    EXPECT_EQ(ini.ReadString("ComPort1", "CustomBaudRate", ""), "31250") << "left from the earlier save";
    EXPECT_EQ(ini.ReadString("ComPort1", "EventChar", ""), "#13") << "a key of a group not selected";
    EXPECT_EQ(key.ReadInteger("CustomBaudRate"), 31250);
    EXPECT_EQ(ini.ReadString("ComPort1", "BaudRate", ""), "9600");
}

TEST(SavingSettings, UsesTheSectionNamedAfterThePort)
{
    TComPort port;
    port.SetName("Relay");
    TMemIniFile ini;
    port.SaveToIniSection(ini);
    EXPECT_EQ(ini.ReadString("Relay", "Port", ""), "COM1");
    EXPECT_TRUE(ini.ReadSection("ComPort1").empty());
}

// A registry key whose writes of one value fail.
class FailingRegistry : public TMemoryRegistry {
public:
    explicit FailingRegistry(std::string failing) : m_failing(std::move(failing)) {}
    void WriteString(const std::string& Name, const std::string& Value) override
    {
        if (Name == m_failing) throw ERegistryException("Failed to set data for '" + Name + "'");
        TMemoryRegistry::WriteString(Name, Value);
    }

private:
    std::string m_failing;
};

TEST(SavingSettings, AFailedWriteStopsAtItsKeyAndKeepsWhatWasWritten)
{
    TComPort port;
    port.SetStoredProps(kAllGroups);
    FailingRegistry key("Parity.Check");
    try {
        port.SaveToRegistryKey(key);
        FAIL() << "the write of Parity.Check fails";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Failed to set data for 'Parity.Check'");
    }
    EXPECT_THAT(RegistryNames(key), ElementsAre("Port", "BaudRate", "StopBits", "DataBits", "Parity", "FlowControl",
                                                "EventChar", "DiscardNull"));

    TMemoryRegistry readOnly;
    readOnly.SetReadOnly(true);
    EXPECT_THROW(port.SaveToRegistryKey(readOnly), ERegistryException);
    EXPECT_TRUE(readOnly.Values().empty());
}

// ---- Loading: round trips ------------------------------------------------------------------------------

TEST(LoadingSettings, RestoresEverySelectedSettingAndOnlyThoseForEveryGroupCombination)
{
    TComPort source;
    SetAllDifferent(source);
    const Settings saved = SettingsOf(source);
    TComPort fresh;
    const Settings defaults = SettingsOf(fresh);

    for (unsigned bits = 0; bits < 64; ++bits) {
        const TStoredProps groups = TStoredProps::FromBits(static_cast<std::uint8_t>(bits));
        source.SetStoredProps(groups);
        TMemIniFile ini;
        TMemoryRegistry key;
        source.SaveToIniSection(ini);
        source.SaveToRegistryKey(key);

        for (int target = 0; target < 2; ++target) {
            TComPort port;
            port.SetName("ComPort1");
            port.SetStoredProps(groups);
            if (target == 0) port.LoadFromIniSection(ini);
            else port.LoadFromRegistryKey(key);
            const Settings loaded = SettingsOf(port);
            for (const auto& [name, group] : kKeysInOrder) {
                // The summary is what the four preset members amount to, so it follows them; a
                // loaded summary sets them in turn.
                const bool presetMember = name == "FlowControl.ControlRTS" || name == "FlowControl.OutCTSFlow" ||
                                          name == "FlowControl.XonXoffIn" || name == "FlowControl.XonXoffOut";
                const bool restored = groups.Contains(group) ||
                                      (name == "FlowControl" && groups.Contains(spFlowControl)) ||
                                      (presetMember && groups.Contains(spBasic));
                EXPECT_EQ(loaded.at(name), restored ? saved.at(name) : defaults.at(name))
                    << name << " groups " << bits << (target == 0 ? " ini" : " registry");
            }
        }
    }
}

TEST(LoadingSettings, RestoresTheSettingsOfAPortUsingAFixedRate)
{
    TComPort source;
    SetAllOther(source);
    source.SetStoredProps(kAllGroups);
    TMemIniFile ini;
    TMemoryRegistry key;
    source.SaveToIniSection(ini);
    source.SaveToRegistryKey(key);
    EXPECT_EQ(key.FindValue("CustomBaudRate"), nullptr);

    for (int target = 0; target < 2; ++target) {
        TComPort port;
        port.SetName("ComPort1");
        port.SetStoredProps(kAllGroups);
        port.SetCustomBaudRate(4242);
        target == 0 ? port.LoadFromIniSection(ini) : port.LoadFromRegistryKey(key);
        Settings expected = SettingsOf(source);
        expected["CustomBaudRate"] = "4242"; // not read while the rate is a fixed one
        EXPECT_EQ(SettingsOf(port), expected) << target;
    }
}

// ---- Loading from an ini section ---------------------------------------------------------------------

std::string WithoutKey(const std::string& text, const std::string& name)
{
    std::string result;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        if (!line.starts_with(name + "=")) result += line + "\n";
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return result;
}

TEST(LoadingFromAnIniSection, AMissingKeyLeavesItsSettingAsItWas)
{
    TComPort source;
    SetAllDifferent(source);
    source.FlowControl().SetControlRTS(rtsToggle); // no preset, so the summary changes no member
    source.SetStoredProps(kAllGroups);
    TMemIniFile full;
    source.SaveToIniSection(full);
    const Settings saved = SettingsOf(source);

    for (const auto& [missing, group] : kKeysInOrder) {
        if (missing == "CustomBaudRate") continue;
        TComPort port;
        SetAllOther(port);
        port.SetStoredProps(kAllGroups);
        const Settings before = SettingsOf(port);
        TMemIniFile ini(WithoutKey(full.Text(), missing));
        port.LoadFromIniSection(ini);
        const Settings loaded = SettingsOf(port);
        for (const auto& [name, unused] : kKeysInOrder) {
            if (name == "FlowControl") continue; // the summary follows the members
            // Without "BaudRate" the rate stays a fixed one, so "CustomBaudRate" is not read either.
            const bool left = name == missing || (name == "CustomBaudRate" && missing == "BaudRate");
            EXPECT_EQ(loaded.at(name), left ? before.at(name) : saved.at(name)) << name << " without " << missing;
        }
    }
}

TEST(LoadingFromAnIniSection, ACustomRateWithoutItsNumberGivesTheDefaultRate)
{
    TComPort port;
    port.SetName("ComPort1");
    port.SetCustomBaudRate(777);
    TMemIniFile ini("[ComPort1]\nBaudRate=Custom\n");
    port.LoadFromIniSection(ini);
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600);

    TMemIniFile fixed("[ComPort1]\nBaudRate=115200\nCustomBaudRate=250000\n");
    port.LoadFromIniSection(fixed);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.CustomBaudRate(), 9600) << "not read while the rate just loaded is a fixed one";

    TMemIniFile custom("[ComPort1]\nBaudRate=custom\nCustomBaudRate=250000\n");
    port.LoadFromIniSection(custom);
    EXPECT_EQ(port.CustomBaudRate(), 250000);
}

TEST(LoadingFromAnIniSection, ReadsTheCharacterBooleanAndHandshakeTexts)
{
    const std::pair<const char*, char> chars[] = {{"#", '#'},    {"#65", 'A'},  {"#321", 'A'},
                                                  {"#1z", '\0'}, {"#13", '\r'}, {"#200", static_cast<char>(200)},
                                                  {"Z", 'Z'}};
    for (const auto& [text, c] : chars) {
        TComPort port;
        port.SetName("P");
        port.SetStoredProps({spOthers});
        port.SetEventChar('q');
        TMemIniFile ini(std::string("[P]\nEventChar=") + text + "\n");
        port.LoadFromIniSection(ini);
        EXPECT_EQ(port.EventChar(), c) << text;
    }

    const std::pair<const char*, bool> bools[] = {{"Yes", true},   {"yes", true}, {"YES", true},
                                                  {"True", false}, {"1", false},  {"", false}};
    for (const auto& [text, value] : bools) {
        TComPort port;
        port.SetName("P");
        port.SetStoredProps({spOthers});
        port.SetDiscardNull(!value);
        TMemIniFile ini(std::string("[P]\nDiscardNull=") + text + "\n");
        port.LoadFromIniSection(ini);
        EXPECT_EQ(port.DiscardNull(), value) << text;
    }

    TComPort port;
    port.SetName("P");
    port.SetStoredProps({spFlowControl});
    port.FlowControl().SetControlDTR(dtrEnable);
    TMemIniFile ini("[P]\nFlowControl.ControlRTS=toggle\nFlowControl.ControlDTR=Toggle\n");
    port.LoadFromIniSection(ini);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsToggle);
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
}

TEST(LoadingFromAnIniSection, AppliesTheSummaryBeforeTheIndividualSwitches)
{
    TComPort port;
    port.SetName("P");
    port.SetStoredProps({spBasic, spFlowControl});
    TMemIniFile ini("[P]\nFlowControl=Software\nFlowControl.XonXoffOut=No\n");
    port.LoadFromIniSection(ini);
    EXPECT_TRUE(port.FlowControl().XonXoffIn()) << "from the summary";
    EXPECT_FALSE(port.FlowControl().XonXoffOut()) << "the switch comes after the summary";
    EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom);
}

TEST(LoadingFromAnIniSection, BadInputFallsBackKeyByKeyWithoutHarm)
{
    TComPort port;
    SetAllOther(port);
    port.SetStoredProps(kAllGroups);
    const Settings before = SettingsOf(port);
    const std::string text = std::string("garbage\n[ComPort1\n\x01\x02\x03\n") +
                             "[ComPort1]\n"
                             "BaudRate=fast\n"
                             "StopBits=1,5\n"
                             "DataBits=\xFF\xFE\n"
                             "Parity=" +
                             std::string(100000, 'E') + "\n" +
                             "FlowControl=\x80\n"
                             "EventChar=#99999999999999999999\n"
                             "DiscardNull=\xC8\n"
                             "Parity.ReplaceChar=#-\n"
                             "Buffer.OutputSize=99999999999999999999\n"
                             "Buffer.InputSize=abc\n"
                             "Timeouts.ReadInterval=0x\n"
                             "Timeouts.ReadTotalConstant=$7fffffff\n"
                             "Timeouts.ReadTotalMultiplier= -12 \n"
                             "Timeouts.WriteTotalConstant=12abc\n"
                             "FlowControl.ControlRTS=\x01\n"
                             "FlowControl.XonChar=\xC8\xC8\n"
                             "=\n==\n[]\n";
    TMemIniFile ini(text);
    port.LoadFromIniSection(ini);
    Settings expected = before;
    expected["BaudRate"] = std::to_string(br9600);       // no such rate
    expected["StopBits"] = std::to_string(sbOneStopBit); // a decimal comma is no "1.5"
    expected["DataBits"] = std::to_string(dbEight);
    expected["Parity"] = std::to_string(prNone);
    expected["EventChar"] = "0"; // out of range: no integer
    expected["DiscardNull"] = "0";
    expected["Parity.ReplaceChar"] = "0";
    expected["Timeouts.ReadTotalConstant"] = "2147483647";
    expected["Timeouts.ReadTotalMultiplier"] = "-12";
    expected["FlowControl.ControlRTS"] = std::to_string(rtsDisable);
    expected["FlowControl.XonChar"] = "200";
    expected["FlowControl"] = std::to_string(port.FlowControl().FlowControl());
    EXPECT_EQ(SettingsOf(port), expected) << "unreadable integers keep their settings";
}

// ---- Loading from a registry key ----------------------------------------------------------------------

TEST(LoadingFromARegistryKey, AMissingTextReadsAsEmptyText)
{
    TComPort port;
    SetAllOther(port);
    port.SetStoredProps({spBasic, spOthers, spParity});
    TMemoryRegistry empty;
    port.LoadFromRegistryKey(empty);
    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.StopBits(), sbOneStopBit);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.EventChar(), '\0');
    EXPECT_FALSE(port.DiscardNull());
    EXPECT_FALSE(port.Parity().Check());
    EXPECT_EQ(port.Parity().ReplaceChar(), '\0');
    EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom) << "an empty summary is the custom one: no member changed";
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsToggle);
}

TEST(LoadingFromARegistryKey, AMissingIntegerFailsAfterTheGroupsBeforeItWereApplied)
{
    TComPort source;
    SetAllDifferent(source);
    source.SetStoredProps(kAllGroups);
    TMemoryRegistry key;
    source.SaveToRegistryKey(key);
    ASSERT_TRUE(key.DeleteValue("Buffer.OutputSize"));

    TComPort port;
    SetAllOther(port);
    port.SetStoredProps(kAllGroups);
    const Settings before = SettingsOf(port);
    try {
        port.LoadFromRegistryKey(key);
        FAIL() << "Buffer.OutputSize is missing";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Failed to get data for 'Buffer.OutputSize'");
    }
    const Settings saved = SettingsOf(source);
    const Settings loaded = SettingsOf(port);
    bool reached = false;
    for (const auto& [name, group] : kKeysInOrder) {
        reached = reached || name == "Buffer.OutputSize";
        // The summary, applied with the basic keys, has already set the four members of its preset.
        const bool presetMember = name == "FlowControl.ControlRTS" || name == "FlowControl.OutCTSFlow" ||
                                  name == "FlowControl.XonXoffIn" || name == "FlowControl.XonXoffOut";
        EXPECT_EQ(loaded.at(name), reached && !presetMember ? before.at(name) : saved.at(name)) << name;
    }
}

TEST(LoadingFromARegistryKey, AValueOfTheWrongTypeFailsAtItsKey)
{
    TComPort port;
    port.SetStoredProps({spBasic, spBuffer});
    TMemoryRegistry key;
    key.WriteString("Port", "ttyACM0");
    key.WriteInteger("BaudRate", 19200);
    try {
        port.LoadFromRegistryKey(key);
        FAIL() << "BaudRate is no text";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Invalid data type for 'BaudRate'");
    }
    EXPECT_EQ(port.Port(), "ttyACM0");

    TMemoryRegistry numbers;
    numbers.WriteString("Buffer.OutputSize", "2048");
    port.SetStoredProps({spBuffer});
    EXPECT_THROW(port.LoadFromRegistryKey(numbers), ERegistryException);
}

// ---- Loading onto an open port -------------------------------------------------------------------------

class LoadingOntoAnOpenPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_port.SetName("ComPort1");
        m_port.SetPort("fake0");
        m_port.SetEvents({});
        m_port.SetOnBeforeClose([this](TObject*) { m_events.push_back("BeforeClose"); });
        m_port.SetOnAfterClose([this](TObject*) { m_events.push_back("AfterClose"); });
        m_port.SetOnBeforeOpen([this](TObject*) { m_events.push_back("BeforeOpen"); });
        m_port.SetOnAfterOpen([this](TObject*) { m_events.push_back("AfterOpen"); });
        m_port.OpenPort();
        m_fake->ClearCalls();
        m_events.clear();
    }

    std::vector<std::string> DeviceCalls() const
    {
        using F = device::FakeDevice;
        std::vector<std::string> calls;
        for (const F::Call& call : m_fake->Calls()) {
            if (call.op == F::opOpen || call.op == F::opClose || call.op == F::opSetupComm ||
                call.op == F::opSetCommTimeouts)
                calls.push_back(call.text);
            else if (call.op == F::opSetCommState) calls.push_back("SetCommState");
        }
        return calls;
    }

    // Declared before the port, whose destruction closes it and fires the handlers that record here.
    std::vector<std::string> m_events;
    std::shared_ptr<device::FakeDevice> m_fake = std::make_shared<device::FakeDevice>();
    TComPort m_port{device::FakeDevice::FactoryFor(m_fake)};
};

TEST_F(LoadingOntoAnOpenPort, ReconfiguresTheDeviceKeyByKey)
{
    m_port.SetStoredProps({spBasic, spBuffer, spTimeouts});
    TMemIniFile ini("[ComPort1]\nPort=fake0\nBaudRate=115200\nStopBits=2\nDataBits=8\nParity=Even\n"
                    "Buffer.InputSize=4096\nTimeouts.ReadInterval=50\n");
    m_port.LoadFromIniSection(ini);
    // BaudRate, StopBits, Parity change; DataBits does not; the summary always re-applies.
    EXPECT_THAT(DeviceCalls(), ElementsAre("SetCommState", "SetCommState", "SetCommState", "SetCommState",
                                           "SetupComm(4096, 1024)", "SetCommTimeouts(50, 0, 0, 100, 1000)"));
    EXPECT_TRUE(m_events.empty()) << "the same Port does not reopen";
    const device::DCB dcb = m_fake->CommState();
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.StopBits, device::TWOSTOPBITS);
    EXPECT_EQ(dcb.Parity, device::EVENPARITY);
    EXPECT_EQ(m_fake->InQueueSize(), 4096u);
    EXPECT_EQ(m_fake->CommTimeouts().ReadIntervalTimeout, 50u);
}

TEST_F(LoadingOntoAnOpenPort, AChangedPortReopensTheDeviceBeforeTheNextKeys)
{
    TMemIniFile ini("[ComPort1]\nPort=fake1\nBaudRate=19200\n");
    m_port.LoadFromIniSection(ini);
    EXPECT_THAT(m_events, ElementsAre("BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen"));
    EXPECT_THAT(DeviceCalls(),
                ElementsAre("Close()", "Open(fake1)", "SetupComm(1024, 1024)", "SetCommState",
                            "SetCommTimeouts(4294967295, 0, 0, 100, 1000)", "SetCommState", "SetCommState"));
    EXPECT_EQ(m_fake->OpenName(), "fake1");
    EXPECT_EQ(m_fake->CommState().BaudRate, 19200u);
    EXPECT_TRUE(m_port.Connected());
}

TEST_F(LoadingOntoAnOpenPort, ASettingTheDeviceRefusesStopsTheLoadAtItsKey)
{
    m_port.SetStoredProps({spBasic});
    m_fake->FailCall(device::FakeDevice::opSetCommState, 22);
    TMemIniFile ini("[ComPort1]\nBaudRate=38400\nStopBits=2\n");
    try {
        m_port.LoadFromIniSection(ini);
        FAIL() << "the device refuses the rate";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ComportCode(), CE_SetStateFailed + 1);
        EXPECT_EQ(e.Message(), "SetCommState function failed (Error: 22)");
    }
    EXPECT_EQ(m_port.BaudRate(), br38400) << "the value stays stored";
    EXPECT_EQ(m_port.StopBits(), sbOneStopBit) << "the keys after it are not applied";
    EXPECT_TRUE(m_port.Connected());
}

// ---- Loading onto an open port on a pseudo-terminal ------------------------------------------------------

// The port opens the slave by its path; the master reports the line settings the slave was given.
using Pty = varmio::test::PtyPair;

// An ini section that notes the line settings of a pseudo-terminal each time a key is read.
class ObservedIni : public TMemIniFile {
public:
    ObservedIni(std::string_view text, const Pty& pty) : TMemIniFile(text), m_pty(pty) {}
    std::string ReadString(const std::string& Section, const std::string& Ident, const std::string& Default) override
    {
        speeds[Ident] = cfgetospeed(&(lines[Ident] = m_pty.LineSettings()));
        return TMemIniFile::ReadString(Section, Ident, Default);
    }
    std::map<std::string, termios> lines;
    std::map<std::string, speed_t> speeds;

private:
    const Pty& m_pty;
};

TEST(LoadingOntoAnOpenPtyPort, ReconfiguresTheLineKeyByKeyAndReopensOnAChangedPort)
{
    Pty first;
    Pty second;
    std::vector<std::string> events;
    TComPort port;
    port.SetName("ComPort1");
    port.SetPort(first.SlavePath());
    port.SetOnBeforeClose([&](TObject*) { events.push_back("BeforeClose"); });
    port.SetOnAfterClose([&](TObject*) { events.push_back("AfterClose"); });
    port.SetOnBeforeOpen([&](TObject*) { events.push_back("BeforeOpen"); });
    port.SetOnAfterOpen([&](TObject*) { events.push_back("AfterOpen"); });
    port.OpenPort();
    events.clear();
    const termios opened = first.LineSettings();
    ASSERT_EQ(cfgetospeed(&opened), B9600);

    // A pseudo-terminal keeps the rate, the stop bits and RTS/CTS flow control (it holds every line at
    // 8 data bits without parity).
    ObservedIni ini("[ComPort1]\nPort=" + first.SlavePath() + "\nBaudRate=115200\nStopBits=2\nFlowControl=Hardware\n",
                    first);
    port.LoadFromIniSection(ini);
    EXPECT_TRUE(events.empty()) << "the same port is not reopened";
    EXPECT_EQ(ini.speeds.at("BaudRate"), B9600);
    EXPECT_EQ(ini.speeds.at("StopBits"), B115200) << "the rate reached the line before the next key was read";
    EXPECT_FALSE(ini.lines.at("StopBits").c_cflag & CSTOPB);
    EXPECT_TRUE(ini.lines.at("DataBits").c_cflag & CSTOPB);
    EXPECT_FALSE(ini.lines.at("FlowControl").c_cflag & CRTSCTS);
    EXPECT_TRUE(first.LineSettings().c_cflag & CRTSCTS);

    // A setting the device refuses stops the load at its key; the port stays open on its last good line.
    TMemIniFile refused("[ComPort1]\nDataBits=7\nParity=Odd\n");
    try {
        port.LoadFromIniSection(refused);
        FAIL() << "a pseudo-terminal refuses 7 data bits";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "SetCommState function failed (Error: 22)");
    }
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.Parity().Bits(), prNone) << "the keys after the refused one are not applied";
    const termios kept = first.LineSettings();
    EXPECT_EQ(cfgetospeed(&kept), B115200);
    port.SetDataBits(dbEight);

    TMemIniFile moved("[ComPort1]\nPort=" + second.SlavePath() + "\n");
    port.LoadFromIniSection(moved);
    EXPECT_THAT(events, ElementsAre("BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen"));
    ASSERT_TRUE(port.Connected());
    const termios reopened = second.LineSettings();
    EXPECT_EQ(cfgetospeed(&reopened), B115200) << "the new device is given the loaded settings";
    EXPECT_TRUE(reopened.c_cflag & CSTOPB);
    EXPECT_TRUE(reopened.c_cflag & CRTSCTS);

    // The port now reads the second line: its event thread hands the arrival to the main thread.
    std::string received;
    device::Event arrived(false);
    port.SetOnRxChar([&](TObject*, std::int32_t count) {
        std::string chunk(static_cast<std::size_t>(count), '\0');
        chunk.resize(static_cast<std::size_t>(port.ReadData(chunk.data(), count)));
        received += chunk;
        if (received.size() >= 3) arrived.Set();
    });
    ASSERT_EQ(write(second.Master(), "xyz", 3), 3);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!arrived.IsSet() && std::chrono::steady_clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        device::Event::WaitAny({&arrived, &MainThreadQueue::QueueEvent()}, static_cast<int>(left.count()) + 1);
        MainThreadQueue::ProcessQueuedCalls();
    }
    EXPECT_EQ(received, "xyz");
    port.ClosePort();
    MainThreadQueue::ProcessQueuedCalls();
}

} // namespace
} // namespace cport
