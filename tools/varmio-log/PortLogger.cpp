// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortLogger.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace varmio::logger {
namespace {

// The port's message, with the system's text for the error number it carries.
std::string Explain(const std::exception& e)
{
    std::string why = e.what();
    if (const auto* port = dynamic_cast<const cport::EComPort*>(&e); port != nullptr && port->WinErrorCode() > 0)
        why += std::string(": ") + std::strerror(port->WinErrorCode());
    return why;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

} // namespace

PortLogger::PortLogger(const std::string& portName, const LineSpeed& speed, cport::device::DeviceFactory factory)
    : m_port(std::move(factory))
{
    ApplyMonitorPortSettings(m_port);
    ApplyLineSpeed(m_port, speed);
    m_port.SetPort(portName);
    m_port.SetOnRxChar([this](cport::TObject*, std::int32_t) { ReadWaiting(false); });
    try {
        m_port.OpenPort();
    } catch (const std::exception& e) {
        throw SourceError("cannot open port " + Quoted(portName) + ": " + Explain(e));
    }
}

PortLogger::~PortLogger()
{
    try {
        m_port.ClosePort();
    } catch (...) {
        // The device is released by the port's destructor all the same.
    }
}

void PortLogger::ReadWaiting(bool atStop)
{
    if (m_session == nullptr || m_failure) return; // not running: the bytes wait for Run
    try {
        // Everything waiting, however much; a read returns at once with what is there. A stop is
        // looked at between reads: a stream that comes as fast as it is read never runs dry.
        std::size_t taken = 0;
        while (atStop ? taken < kStopReadLimit : !m_stopping.load()) {
            const std::int32_t got = m_port.ReadData(m_buffer.data(), static_cast<std::int32_t>(m_buffer.size()));
            if (got <= 0) break;
            m_session->Feed(std::span(m_buffer.data(), static_cast<std::size_t>(got)));
            m_received += static_cast<std::uint64_t>(got);
            taken += static_cast<std::size_t>(got);
        }
    } catch (...) {
        Fail(std::current_exception());
    }
}

void PortLogger::Fail(std::exception_ptr error)
{
    if (!m_failure) m_failure = std::move(error);
    m_loop.Quit(kFailed);
}

void PortLogger::Run(LogSession& session)
{
    m_session = &session;
    // The port's own failures (the device gone, the event thread ended) arrive as exceptions for the
    // application's handler, posted to this loop.
    auto previous = cport::SetApplicationExceptionHandler([this](cport::TObject*, const std::exception& e) {
        std::exception_ptr error = std::current_exception();
        Fail(error ? error : std::make_exception_ptr(std::runtime_error(e.what())));
    });
    struct Restore {
        cport::TApplicationExceptionHandler handler;
        ~Restore() { cport::SetApplicationExceptionHandler(std::move(handler)); }
    } restore{std::move(previous)};

    ReadWaiting(false);                                            // bytes that came before Run
    if (m_loop.Run() == kStopped && !m_failure) ReadWaiting(true); // what came in up to the stop
    m_session = nullptr;
    try {
        m_port.ClosePort();
    } catch (...) {
        if (!m_failure) m_failure = std::current_exception();
    }
    if (!m_failure) return;
    try {
        std::rethrow_exception(m_failure);
    } catch (const cport::EComPort& e) {
        throw SourceError("lost port " + Quoted(m_port.Port()) + ": " + Explain(e));
    }
}

} // namespace varmio::logger
