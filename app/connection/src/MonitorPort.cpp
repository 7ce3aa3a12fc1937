#include "varmio/MonitorPort.h"

#include "cport/Enumeration.h"

#include <charconv>
#include <limits>
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

PublishedPort::PublishedPort(std::string name) : m_name(std::move(name)) { cport::PublishVirtualPort(m_name); }

PublishedPort::~PublishedPort() { cport::WithdrawVirtualPort(m_name); }

} // namespace varmio
