// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/MonitorPort.h"

#include "cport/Enumeration.h"
#include "cport/NetPort.h"
#include "cport/Persistence.h"
#include "varmio/UserConfig.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace varmio {

void ApplyMonitorPortSettings(cport::TCustomComPort& port)
{
    using namespace cport;
    port.SetBaudRate(kDesignBaudRate);
    port.SetPort(std::string(kDesignPortName));
    port.Parity().SetBits(prNone);
    port.SetStopBits(sbOneStopBit);
    port.SetDataBits(dbEight);
    port.SetEvents({evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full});
    TComFlowControl& flow = port.FlowControl();
    flow.SetOutCTSFlow(false);
    flow.SetOutDSRFlow(false);
    flow.SetControlDTR(dtrDisable);
    flow.SetControlRTS(rtsDisable);
    flow.SetXonXoffOut(false);
    flow.SetXonXoffIn(false);
    port.SetStoredProps({spBasic});
    port.SetTriggersOnRxChar(true);
}

std::optional<LineSpeed> ParseLineSpeed(std::string_view text)
{
    for (const auto& row : cport::kBaudRateTable) {
        if (row.Value != cport::brCustom && row.Text == text) return LineSpeed{row.Value, 0};
    }
    std::int32_t rate = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || rate <= 0) return std::nullopt;
    return LineSpeed{cport::brCustom, rate};
}

void ApplyLineSpeed(cport::TCustomComPort& port, const LineSpeed& speed)
{
    // The custom rate first, so that an open port switching to brCustom is configured once, right.
    if (speed.BaudRate == cport::brCustom) port.SetCustomBaudRate(speed.CustomBaudRate);
    port.SetBaudRate(speed.BaudRate);
}

void RememberPort(const cport::TCustomComPort& port, const std::filesystem::path& file)
{
    try {
        std::filesystem::create_directories(file.parent_path());
        cport::TIniFile ini(file.string()); // keeps the other sections (the network relays, ...)
        port.SaveToIniSection(ini);
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot write " + file.string() + ": " + e.what());
    }
}

std::optional<RememberedPort> RecallPort(const std::string& componentName, const std::filesystem::path& file)
{
    std::error_code missing;
    if (!std::filesystem::exists(file, missing)) return std::nullopt;
    try {
        if (!std::ifstream(file, std::ios::binary)) throw std::runtime_error("it cannot be read");
        const std::unique_ptr<cport::TMemIniFile> ini = ReadUserConfig(file);
        if (ini->ReadSection(componentName).empty()) return std::nullopt;
        // Loaded into a closed port of its own, through the setters that check every value.
        cport::TComPort scratch;
        scratch.SetName(componentName);
        ApplyMonitorPortSettings(scratch);
        scratch.LoadFromIniSection(*ini);
        // An unknown rate text would load as the component's fallback rate: refused here instead.
        const std::string rate =
            ini->ReadString(componentName, "BaudRate", std::string(cport::BaudRateToText(kDesignBaudRate)));
        if (rate != cport::BaudRateToText(scratch.BaudRate()))
            throw std::runtime_error("unknown speed \"" + rate + "\"");
        if (scratch.Port().empty()) throw std::runtime_error("empty port name");
        return RememberedPort{scratch.Port(), LineSpeed{scratch.BaudRate(), scratch.CustomBaudRate()}};
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot use " + file.string() + ": " + e.what());
    }
}

PortError::PortError(int code, std::int64_t winError, std::string portName, bool lost)
    : EComPort(code, winError), m_portName(std::move(portName)),
      m_reason(winError > 0 ? std::system_category().message(static_cast<int>(winError)) : std::string()), m_lost(lost)
{
}

std::string PortError::Details() const { return m_reason.empty() ? m_portName : m_portName + ": " + m_reason; }

void RaisePortErrors(cport::TCustomComPort& port)
{
    port.SetOnException([&port](cport::TObject* /*Sender*/, cport::TComExceptions kind,
                                const std::string& /*ComportMessage*/, std::int64_t winError,
                                const std::string& /*WinMessage*/) {
        // Both end the port's event loop: a wait that fails (reported only once the loop has ended),
        // and a read in a receive handler that finds the device removed (ENODEV, the device layer's
        // word for a hang-up), whose exception ends the loop.
        const bool lost =
            port.Connected() && (kind == cport::CE_WaitFailed || (kind == cport::CE_ReadFailed && winError == ENODEV));
        throw PortError(cport::ComErrorCode(kind), winError, port.Port(), lost);
    });
}

bool CloseLostPort(cport::TObject* sender, const std::exception& error) noexcept
{
    const auto* failure = dynamic_cast<const PortError*>(&error);
    auto* port = dynamic_cast<cport::TCustomComPort*>(sender);
    if (failure == nullptr || !failure->Lost() || port == nullptr || !port->Connected()) return false;
    try {
        port->ClosePort();
    } catch (...) {
        // Whatever the gone device answers to the close, the loss is what the user is told.
    }
    return !port->Connected();
}

std::string ListedPortName(const std::string& name)
{
    constexpr std::string_view kDevices = "/dev/";
    // A device under /dev already, or a network relay's socket:// or rfc2217:// name.
    if (name.find('/') == std::string::npos || cport::IsNetPortName(name)) return name;
    std::error_code error;
    std::filesystem::path path(name);
    if (path.is_relative()) {
        if (std::filesystem::exists(std::string(kDevices) + name, error)) return name;
        path = std::filesystem::absolute(path, error);
        if (error) return name;
    }
    std::string full = path.lexically_normal().string();
    if (full.size() > kDevices.size() && full.starts_with(kDevices)) return full.substr(kDevices.size());
    return full;
}

std::string PortDevicePath(const std::string& listedName)
{
    if (listedName.empty() || listedName.front() == '/' || cport::IsNetPortName(listedName)) return listedName;
    return "/dev/" + listedName;
}

PublishedPort::PublishedPort(const std::string& name) : m_name(ListedPortName(name))
{
    if (m_name.empty()) throw std::invalid_argument("The port name is empty.");
    if (m_name.find('\0') != std::string::npos) throw std::invalid_argument("The port name holds a NUL character.");
    if (m_name.size() > cport::kMaxListedPortName)
        throw std::invalid_argument("The port name is longer than " + std::to_string(cport::kMaxListedPortName) +
                                    " bytes.");
    cport::PublishVirtualPort(m_name);
}

PublishedPort::~PublishedPort() { cport::WithdrawVirtualPort(m_name); }

} // namespace varmio
