// SPDX-License-Identifier: GPL-3.0-or-later
// The port's event dispatch: one operation per line event, the open and close notices, the event
// hooks, and the registry of links with its notices.

#include "cport/ComPort.h"

#include <algorithm>

namespace cport {

const std::array<TCustomComPort::TEventRoute, 10> TCustomComPort::kEventRoutes = {{
    // Errors first: the receive handling's input count query also clears the driver's error state.
    {evError, device::EV_ERR, &TCustomComPort::HandleError},
    {evRxChar, device::EV_RXCHAR, &TCustomComPort::HandleRxChar},
    {evTxEmpty, device::EV_TXEMPTY, &TCustomComPort::HandleTxEmpty},
    {evBreak, device::EV_BREAK, &TCustomComPort::HandleBreak},
    {evRing, device::EV_RING, &TCustomComPort::HandleRing},
    {evCTS, device::EV_CTS, &TCustomComPort::HandleCTSChange},
    {evDSR, device::EV_DSR, &TCustomComPort::HandleDSRChange},
    {evRxFlag, device::EV_RXFLAG, &TCustomComPort::HandleRxFlag},
    {evRLSD, device::EV_RLSD, &TCustomComPort::HandleRLSDChange},
    {evRx80Full, device::EV_RX80FULL, &TCustomComPort::HandleRx80Full},
}};

void TCustomComPort::RunEventHandlers(TComEvents events)
{
    for (const auto& route : kEventRoutes) {
        // A handler may have closed the port: the rest of the batch belongs to a device now gone.
        if (!m_connected) return;
        if (events.Contains(route.Event)) (this->*route.Handle)();
    }
}

std::intptr_t TCustomComPort::NotifyWindowProc(const TMessage& Message)
{
    if (Message.Msg != kEventMessage) return TNotifyWindow::DefWindowProc(Message);
    if (!m_connected) return 0;
    const auto route = std::find_if(kEventRoutes.begin(), kEventRoutes.end(),
                                    [&](const TEventRoute& r) { return r.Flag == Message.WParam; });
    if (route == kEventRoutes.end()) return 0;
    try {
        (this->*route->Handle)();
    } catch (...) {
        // Events keep flowing: the failure is shown and the event thread goes on.
        HandleCurrentException(this);
    }
    return 0;
}

// ---- Line events --------------------------------------------------------------------------------------

void TCustomComPort::HandleError()
{
    const TComErrors errors = TakeLineErrors();
    if (!errors.Empty()) FireError(errors);
}

void TCustomComPort::HandleRxChar()
{
    std::int32_t count = BytesWaiting();
    if (count > 0) SignalLinks(lnRx, true);
    if (count > 0 && !TriggersOnRxChar()) {
        // The port reads the waiting bytes itself, once, into one buffer shared by OnRxBuf and every
        // link that watches received data. They are given what the read returned, which is less than
        // the count when something took bytes in between (a link's receive notice that reads, a
        // purge, a failed read that OnException took); a read that got nothing hands out nothing.
        std::unique_ptr<std::uint8_t[]> buffer;
        std::int32_t got = 0;
        const auto readOnce = [&] {
            buffer = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(count));
            got = ReadData(buffer.get(), count);
            if (got > 0) FireRxBuf(buffer.get(), got);
        };
        const std::size_t links = m_linkList.size();
        for (std::size_t i = 0; i < links && i < m_linkList.size(); ++i) {
            const TComLink* link = m_linkList[i];
            if (!link->OnLinkRxBuf()) continue;
            if (!buffer) readOnce();
            if (got > 0) link->OnLinkRxBuf()(this, buffer.get(), got);
        }
        if (!buffer && !m_triggersOnRxChar) readOnce();
        if (buffer) count = 0;
    }
    if (count > 0) FireRxChar(count);
}

void TCustomComPort::HandleTxEmpty()
{
    SignalLinks(lnTx, false);
    PulseLinks(lnTxEmpty);
    FireTxEmpty();
}

void TCustomComPort::HandleBreak() { FireBreak(); }

void TCustomComPort::HandleRing()
{
    PulseLinks(lnRing);
    FireRing();
}

void TCustomComPort::HandleCTSChange()
{
    const bool on = ModemSignals().Contains(msCTS);
    SignalLinks(lnCTS, on);
    FireCTSChange(on);
}

void TCustomComPort::HandleDSRChange()
{
    const bool on = ModemSignals().Contains(msDSR);
    SignalLinks(lnDSR, on);
    FireDSRChange(on);
}

void TCustomComPort::HandleRLSDChange()
{
    const bool on = ModemSignals().Contains(msRLSD);
    SignalLinks(lnRLSD, on);
    FireRLSDChange(on);
}

void TCustomComPort::HandleRxFlag()
{
    PulseLinks(lnRxFlag);
    FireRxFlag();
}

void TCustomComPort::HandleRx80Full() { FireRx80Full(); }

// ---- Open and close notices -------------------------------------------------------------------------

void TCustomComPort::HandleBeforeOpen() { FireBeforeOpen(); }

void TCustomComPort::HandleAfterOpen()
{
    SignalLinks(lnConn, true);
    FireAfterOpen();
    ReportSignals(true);
}

void TCustomComPort::HandleBeforeClose()
{
    ReportSignals(false);
    FireBeforeClose();
}

void TCustomComPort::HandleAfterClose()
{
    SignalLinks(lnConn, false);
    FireAfterClose();
}

void TCustomComPort::ReportSignals(bool OnOff)
{
    if (OnOff) {
        HandleCTSChange();
        HandleDSRChange();
        HandleRLSDChange();
        return;
    }
    SignalLinks(lnCTS, false);
    SignalLinks(lnDSR, false);
    SignalLinks(lnRLSD, false);
    FireCTSChange(false);
    FireDSRChange(false);
    FireRLSDChange(false);
}

// ---- Event hooks ----------------------------------------------------------------------------------------

void TCustomComPort::FireAfterClose()
{
    if (m_onAfterClose) m_onAfterClose(this);
}

void TCustomComPort::FireAfterOpen()
{
    if (m_onAfterOpen) m_onAfterOpen(this);
}

void TCustomComPort::FireBeforeClose()
{
    if (m_onBeforeClose) m_onBeforeClose(this);
}

void TCustomComPort::FireBeforeOpen()
{
    if (m_onBeforeOpen) m_onBeforeOpen(this);
}

void TCustomComPort::FireRxChar(std::int32_t Count)
{
    if (m_onRxChar) m_onRxChar(this, Count);
}

void TCustomComPort::FireRxBuf(const void* Buffer, std::int32_t Count)
{
    if (m_onRxBuf) m_onRxBuf(this, Buffer, Count);
}

void TCustomComPort::FireTxEmpty()
{
    if (m_onTxEmpty) m_onTxEmpty(this);
}

void TCustomComPort::FireBreak()
{
    if (m_onBreak) m_onBreak(this);
}

void TCustomComPort::FireRing()
{
    if (m_onRing) m_onRing(this);
}

void TCustomComPort::FireRxFlag()
{
    if (m_onRxFlag) m_onRxFlag(this);
}

void TCustomComPort::FireCTSChange(bool OnOff)
{
    if (m_onCTSChange) m_onCTSChange(this, OnOff);
}

void TCustomComPort::FireDSRChange(bool OnOff)
{
    if (m_onDSRChange) m_onDSRChange(this, OnOff);
}

void TCustomComPort::FireError(TComErrors Errors)
{
    if (m_onError) m_onError(this, Errors);
}

void TCustomComPort::FireRLSDChange(bool OnOff)
{
    if (m_onRLSDChange) m_onRLSDChange(this, OnOff);
}

void TCustomComPort::FireRx80Full()
{
    if (m_onRx80Full) m_onRx80Full(this);
}

// ---- Links ----------------------------------------------------------------------------------------------

namespace {

bool AnyWatchesRxBuf(const std::vector<TComLink*>& links)
{
    return std::any_of(links.begin(), links.end(), [](const TComLink* link) { return bool(link->OnLinkRxBuf()); });
}

// Calls `call` for each link registered when the walk starts, in registration order. A callback must
// not attach or detach links; one that does anyway only shortens the walk.
template <typename Call>
void WalkLinks(const std::vector<TComLink*>& links, Call&& call)
{
    const std::size_t count = links.size();
    for (std::size_t i = 0; i < count && i < links.size(); ++i) call(*links[i]);
}

} // namespace

void TCustomComPort::AttachLink(TComLink* Link)
{
    if (Link == nullptr || std::find(m_linkList.begin(), m_linkList.end(), Link) != m_linkList.end())
        ReportComError(ComErrorCode(CE_RegFailed), 0);
    else m_linkList.push_back(Link);
    m_rxBufLinked = AnyWatchesRxBuf(m_linkList);
}

void TCustomComPort::DetachLink(TComLink* Link)
{
    const auto it = std::find(m_linkList.begin(), m_linkList.end(), Link);
    if (it == m_linkList.end()) ReportComError(ComErrorCode(CE_RegFailed), 0);
    else m_linkList.erase(it);
    m_rxBufLinked = AnyWatchesRxBuf(m_linkList);
}

void TCustomComPort::SignalLinks(TLinkNotice Notice, bool OnOff)
{
    const TComSignalEvent& (TComLink::*slot)() const = nullptr;
    switch (Notice) {
    case lnConn: slot = &TComLink::OnLinkConn; break;
    case lnCTS: slot = &TComLink::OnLinkCTS; break;
    case lnDSR: slot = &TComLink::OnLinkDSR; break;
    case lnRLSD: slot = &TComLink::OnLinkRLSD; break;
    case lnRx: slot = &TComLink::OnLinkRx; break;
    case lnTx: slot = &TComLink::OnLinkTx; break;
    default: return;
    }
    WalkLinks(m_linkList, [&](const TComLink& link) {
        if (const auto& callback = (link.*slot)()) callback(this, OnOff);
    });
}

void TCustomComPort::PulseLinks(TLinkNotice Notice)
{
    const TNotifyEvent& (TComLink::*slot)() const = nullptr;
    switch (Notice) {
    case lnRing: slot = &TComLink::OnLinkRing; break;
    case lnTxEmpty: slot = &TComLink::OnLinkTxEmpty; break;
    case lnRxFlag: slot = &TComLink::OnLinkRxFlag; break;
    default: return;
    }
    WalkLinks(m_linkList, [&](const TComLink& link) {
        if (const auto& callback = (link.*slot)()) callback(this);
    });
}

void TCustomComPort::TxBufferToLinks(const void* Buffer, std::int32_t Count)
{
    WalkLinks(m_linkList, [&](const TComLink& link) {
        if (const auto& callback = link.OnLinkTxBuf()) callback(this, Buffer, Count);
    });
}

} // namespace cport
