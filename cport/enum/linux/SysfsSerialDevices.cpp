// SPDX-License-Identifier: GPL-3.0-or-later
#include "SysfsSerialDevices.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace cport {

namespace fs = std::filesystem;

namespace {

// The port type a serial-core tty reports in its `type` attribute; nothing when it has none (the
// tty is not driven by the serial core) or the attribute cannot be read as a number.
std::optional<long> SerialCoreType(const fs::path& tty)
{
    std::ifstream in(tty / "type");
    std::string text;
    if (!in || !std::getline(in, text)) return std::nullopt;
    long type = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), type);
    if (ec != std::errc{} || end == text.data()) return std::nullopt;
    return type;
}

bool IsSerialLine(const fs::directory_entry& tty)
{
    std::error_code ec;
    if (fs::exists(tty.path() / "device", ec)) {
        // PORT_UNKNOWN: the slot is registered but no UART answered when it was probed.
        constexpr long kPortUnknown = 0;
        return SerialCoreType(tty.path()) != kPortUnknown;
    }
    return tty.path().filename().string().starts_with("rfcomm");
}

class SysfsSerialDeviceSource : public TSerialDeviceSource {
public:
    explicit SysfsSerialDeviceSource(std::string sysfsRoot) : m_sysfsRoot(std::move(sysfsRoot)) {}

    std::unique_ptr<TSerialDeviceKey> OpenKey() override
    {
        const std::optional<std::vector<std::string>> ttys = SysfsSerialTtyNames(m_sysfsRoot);
        const std::vector<std::string> virtualPorts = VirtualPorts();
        if (!ttys && virtualPorts.empty()) return nullptr;

        std::vector<TRegistryValue> values;
        if (ttys) {
            for (const std::string& name : *ttys) values.push_back(TRegistryValue::Text(name, name));
        }
        for (const std::string& name : virtualPorts) values.push_back(TRegistryValue::Text(name, name));
        return std::make_unique<TValueListKey>(std::move(values));
    }

private:
    std::string m_sysfsRoot;
};

} // namespace

std::optional<std::vector<std::string>> SysfsSerialTtyNames(const std::string& sysfsRoot)
{
    std::error_code ec;
    fs::directory_iterator it(fs::path(sysfsRoot) / "class" / "tty", ec);
    if (ec) return std::nullopt;

    std::vector<std::string> names;
    for (const fs::directory_iterator end; it != end;) {
        if (IsSerialLine(*it)) names.push_back(it->path().filename().string());
        if (it.increment(ec); ec) break;
    }
    return names;
}

std::unique_ptr<TSerialDeviceSource> CreateSysfsSerialDeviceSource(std::string sysfsRoot)
{
    return std::make_unique<SysfsSerialDeviceSource>(std::move(sysfsRoot));
}

std::unique_ptr<TSerialDeviceSource> CreateSystemSerialDeviceSource() { return CreateSysfsSerialDeviceSource("/sys"); }

} // namespace cport
