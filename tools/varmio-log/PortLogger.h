// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The logger on a serial port: a port set up as the main window's ComPort1, whose OnRxChar handler
// reads every waiting byte and feeds it to a LogSession, served by a headless event loop.
//
// Unlike the window, which takes at most 33 bytes per receive event, the logger takes all that is
// waiting: it has no window buffer to respect and must keep up with a stream that nothing paces.
//
// Threads: construct, Run and destroy on the main thread; RequestStop from any thread (not from a
// signal handler: the loop's quit takes a lock).

#include "ByteSource.h"
#include "LogSession.h"

#include "cport/CPort.h"
#include "varmio/MonitorPort.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

namespace varmio::logger {

class PortLogger {
public:
    // Opens the port `portName` at `speed` (the device layer given, or the system's serial device).
    // Throws SourceError "cannot open port NAME: <the port's message>" when it does not open.
    PortLogger(const std::string& portName, const LineSpeed& speed, cport::device::DeviceFactory factory = {});
    // Closes the port if Run has not.
    ~PortLogger();
    PortLogger(const PortLogger&) = delete;
    PortLogger& operator=(const PortLogger&) = delete;

    // Feeds every received byte to `session` until RequestStop, then feeds what is still waiting (at
    // most kStopReadLimit bytes, so that a stream nothing paces cannot hold up the stop) and closes
    // the port. Throws SourceError "lost port NAME: <why>" when the port fails (it went away,
    // say) and what the session throws (FileError); the port is closed then as well, and every
    // byte received before the failure has been fed.
    void Run(LogSession& session);
    static constexpr std::size_t kStopReadLimit = 1024 * 1024;

    // Ends Run.
    void RequestStop()
    {
        m_stopping = true;
        m_loop.Quit(kStopped);
    }

    // Bytes fed so far.
    std::uint64_t BytesReceived() const { return m_received; }

private:
    static constexpr int kStopped = 0;
    static constexpr int kFailed = 1;

    void ReadWaiting(bool atStop);
    void Fail(std::exception_ptr error);

    cport::THeadlessEventLoop m_loop;
    cport::TComPort m_port;
    LogSession* m_session = nullptr;
    std::exception_ptr m_failure;
    std::uint64_t m_received = 0;
    std::atomic<bool> m_stopping{false};
    std::array<std::uint8_t, 64 * 1024> m_buffer{};
};

} // namespace varmio::logger
