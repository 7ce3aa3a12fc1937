// SPDX-License-Identifier: GPL-3.0-or-later
// The port object: construction, opening and closing, property setters, re-applying settings to the
// open device, load completion and error reports.

#include "cport/ComPort.h"

#include "ComThread.h"

#include <stdexcept>
#include <vector>

namespace cport {

TCustomComPort::TCustomComPort(device::DeviceFactory deviceFactory)
    : m_deviceFactory(std::move(deviceFactory)), m_parity(std::make_unique<TComParity>(this)),
      m_flowControl(std::make_unique<TComFlowControl>(this)), m_timeouts(std::make_unique<TComTimeouts>(this)),
      m_buffer(std::make_unique<TComBuffer>(this))
{
}

TCustomComPort::~TCustomComPort()
{
    try {
        ClosePort();
    } catch (...) {
        try {
            HandleCurrentException(this);
        } catch (...) { // a destructor has nobody left to tell
        }
    }
    // Whatever the close left behind (it failed, or a handler stopped it), no thread may outlive the
    // port and no device may stay open.
    StopEventThread();
    ReapRetiredThreads(true);
    m_deviceHandle.reset();
    // Removal notices go out while the port is whole: a control told of it may still detach its link.
    Destroying();
    m_buffer.reset();
    m_flowControl.reset();
    m_timeouts.reset();
    m_parity.reset();
}

void TCustomComPort::StopEventThread() noexcept
{
    m_portThread.reset();
    m_eventThreadRunning = false;
    m_notifyWindow.reset();
}

void TCustomComPort::ReapRetiredThreads(bool waitForAll) noexcept
{
    std::erase_if(m_retiredThreads, [waitForAll](const std::unique_ptr<TComThread>& t) {
        return t->Finished() || (waitForAll && !t->IsCurrentThread());
    });
}

// ---- Opening and closing --------------------------------------------------------------------------

void TCustomComPort::OpenPort()
{
    if (m_connected || Designing()) return;
    ReapRetiredThreads(false);
    HandleBeforeOpen();
    CreateDeviceHandle();
    // A failure an OnException handler took leaves no device: the open ends here.
    if (!m_deviceHandle) return;
    m_connected = true;
    try {
        ConfigureDevice();
    } catch (...) {
        ReleaseDeviceHandle();
        m_connected = false;
        throw;
    }
    if (m_events.Empty()) {
        m_eventThreadRunning = false;
    } else {
        try {
            if (m_syncMethod == smWindowSync)
                m_notifyWindow = std::make_unique<TNotifyWindow>(
                    [this](const TMessage& message) { return NotifyWindowProc(message); });
            m_portThread = std::make_unique<TComThread>(*this);
        } catch (...) {
            // The system gave no thread: an open port without its events would fail silently.
            m_notifyWindow.reset();
            ReleaseDeviceHandle();
            m_connected = false;
            throw;
        }
        m_eventThreadRunning = true;
    }
    HandleAfterOpen();
}

void TCustomComPort::ClosePort()
{
    if (!m_connected || Designing() || m_closing) return;
    ReapRetiredThreads(false);
    struct ClosingGuard {
        std::atomic<bool>& flag;
        explicit ClosingGuard(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~ClosingGuard() { flag = false; }
    } closing(m_closing);

    HandleBeforeClose();
    CancelAllIO();
    if (m_eventThreadRunning) {
        if (m_portThread && m_portThread->IsCurrentThread()) {
            // A handler on the event thread closes its port: the thread cannot wait for itself. It
            // ends when the handler returns, and is joined by a later open or close, or at the end.
            m_portThread->Retire();
            m_retiredThreads.push_back(std::move(m_portThread));
            m_eventThreadRunning = false;
        } else {
            StopEventThread();
        }
    }
    ReleaseDeviceHandle();
    m_connected = false;
    HandleAfterClose();
}

std::unique_ptr<device::ISerialDevice> TCustomComPort::MakeDevice() const
{
    return m_deviceFactory ? m_deviceFactory() : device::CreateSystemDevice();
}

void TCustomComPort::CreateDeviceHandle()
{
    std::unique_ptr<device::ISerialDevice> device = MakeDevice();
    if (!device->Open(m_port)) {
        const int error = device::GetLastError();
        ReportComError(ComErrorCode(CE_OpenFailed), error);
        return;
    }
    SetDeviceHandle(std::move(device));
}

void TCustomComPort::ReleaseDeviceHandle()
{
    if (m_deviceHandle && m_deviceHandle->Close()) SetDeviceHandle(nullptr);
}

void TCustomComPort::ConfigureDevice()
{
    ApplyBufferSizes();
    ApplyLineSettings();
    ApplyTimeoutSettings();
}

// ---- Re-applying settings ---------------------------------------------------------------------------

void TCustomComPort::ApplyLineSettings()
{
    if (!CanApply()) return;
    if (!m_deviceHandle->SetCommState(ComposeDCB(m_line, *m_parity, *m_flowControl, *m_buffer)))
        ReportComError(ComErrorCode(CE_SetStateFailed), device::GetLastError());
}

void TCustomComPort::ApplyTimeoutSettings()
{
    if (!CanApply()) return;
    if (!m_deviceHandle->SetCommTimeouts(ComposeTimeouts(*m_timeouts)))
        ReportComError(ComErrorCode(CE_TimeoutsFailed), device::GetLastError());
}

void TCustomComPort::ApplyBufferSizes()
{
    if (!CanApply()) return;
    if (!m_deviceHandle->SetupComm(static_cast<DWORD>(m_buffer->InputSize()),
                                   static_cast<DWORD>(m_buffer->OutputSize())))
        ReportComError(ComErrorCode(CE_SetupComFailed), device::GetLastError());
}

// ---- Property setters ---------------------------------------------------------------------------------

void TCustomComPort::SetConnected(bool value)
{
    if (Designing() || Loading()) {
        m_connected = value;
        return;
    }
    if (value == m_connected) return;
    if (value) OpenPort();
    else ClosePort();
}

namespace {
template <typename T>
bool Store(T& field, T value)
{
    if (field == value) return false;
    field = value;
    return true;
}
} // namespace

void TCustomComPort::SetBaudRate(TBaudRate value)
{
    if (Store(m_line.BaudRate, value)) ApplyLineSettings();
}

void TCustomComPort::SetCustomBaudRate(std::int32_t value)
{
    if (Store(m_line.CustomBaudRate, value)) ApplyLineSettings();
}

void TCustomComPort::SetStopBits(TStopBits value)
{
    if (Store(m_line.StopBits, value)) ApplyLineSettings();
}

void TCustomComPort::SetDataBits(TDataBits value)
{
    if (Store(m_line.DataBits, value)) ApplyLineSettings();
}

void TCustomComPort::SetDiscardNull(bool value)
{
    if (Store(m_line.DiscardNull, value)) ApplyLineSettings();
}

void TCustomComPort::SetEventChar(char value)
{
    if (Store(m_line.EventChar, value)) ApplyLineSettings();
}

void TCustomComPort::SetPort(const std::string& value)
{
    if (value == m_port) return;
    m_port = value;
    if (CanApply()) {
        ClosePort();
        OpenPort();
    }
}

void TCustomComPort::SetParity(const TComParity& value)
{
    m_parity->Assign(&value);
    ApplyLineSettings();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value)
{
    m_flowControl->Assign(&value);
    ApplyLineSettings();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value)
{
    m_timeouts->Assign(&value);
    ApplyTimeoutSettings();
}

void TCustomComPort::SetBuffer(const TComBuffer& value)
{
    m_buffer->Assign(&value);
    ApplyBufferSizes();
}

void TCustomComPort::SetSyncMethod(TSyncMethod value)
{
    if (value == m_syncMethod) return;
    if (CanApply()) {
        // The event thread's route is fixed for the whole open; the old value stays even when a
        // handler took the report.
        ReportComError(ComErrorCode(CE_ConnChangeProp), 0);
        return;
    }
    m_syncMethod = value;
}

void TCustomComPort::SetTriggersOnRxChar(bool value)
{
    if (m_rxBufLinked) ReportComError(ComErrorCode(CE_HasLink), 0);
    m_triggersOnRxChar = value;
}

// ---- Load completion ------------------------------------------------------------------------------------

void TCustomComPort::Loaded()
{
    TComponent::Loaded();
    if (!m_connected || Designing()) return;
    m_connected = false;
    try {
        OpenPort();
    } catch (...) {
        HandleCurrentException(this);
    }
}

void TCustomComPort::LoadFailed() noexcept
{
    if (!Designing()) m_connected = m_deviceHandle != nullptr;
}

// ---- Errors -------------------------------------------------------------------------------------------

void TCustomComPort::ReportComError(int Code, std::int64_t WinError)
{
    if (Code < 1 || Code > kComErrorCount) throw std::out_of_range("error code out of range: " + std::to_string(Code));
    if (m_onException) {
        const std::string winMessage = WinError > 0 ? WinMessage(static_cast<int>(WinError)) : std::string();
        m_onException(this, ComErrorKind(Code), std::string(ComErrorMessage(Code)), WinError, winMessage);
        return;
    }
    throw EComPort(Code, WinError);
}

} // namespace cport
