// SPDX-License-Identifier: GPL-3.0-or-later
// One fuzz input: read as a character text, as an integer text and as an ini file loaded onto a port.
// Besides not crashing, the conversions must read back what they write, and settings loaded from any
// file must survive being saved and loaded again.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "cport/CPort.h"

namespace {

void Require(bool condition)
{
    if (!condition) std::abort();
}

// The settings of a port, as it saves them with every group selected.
std::string SavedText(const cport::TCustomComPort& port)
{
    cport::TMemIniFile ini;
    port.SaveToIniSection(ini);
    return ini.Text();
}

void LoadAll(cport::TCustomComPort& port, cport::TCustomIniFile& ini)
{
    port.SetName("ComPort1");
    port.SetStoredProps(
        {cport::spBasic, cport::spFlowControl, cport::spBuffer, cport::spTimeouts, cport::spParity, cport::spOthers});
    port.LoadFromIniSection(ini);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const char c = cport::TextToChar(text);
    Require(cport::TextToChar(cport::CharToText(c)) == c);
    if (const std::optional<std::int32_t> number = cport::TextToInteger(text))
        Require(cport::TextToInteger(std::to_string(*number)) == number);
    Require(cport::TextToBool(text) == (cport::BoolToText(cport::TextToBool(text)) == "Yes"));

    // A closed port: loading touches no device.
    cport::TMemIniFile ini(text);
    cport::TComPort port;
    LoadAll(port, ini);
    const std::string saved = SavedText(port);

    cport::TMemIniFile reread(saved);
    cport::TComPort copy;
    LoadAll(copy, reread);
    Require(SavedText(copy) == saved);
    return 0;
}
