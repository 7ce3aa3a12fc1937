// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The monitor's serial port as the main window designs it: 19200 baud, 8 data bits, no parity, one
// stop bit, no flow control, DTR and RTS held off, all ten line events watched, received characters
// announced to OnRxChar; everything else at the component's defaults. The window's ComPort1 and the
// headless logger's port are both set up from here.
//
// Threads: main thread only, like the port.

#include "cport/ComPort.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace varmio {

// The port name until the selector or a click sets another.
inline constexpr std::string_view kDesignPortName = "COM12";
inline constexpr cport::TBaudRate kDesignBaudRate = cport::br19200;

// Writes the design's settings into `port` through its setters (a closed port stores them; an open
// one re-applies them). The port name is set to kDesignPortName. Throws the port's EComPort.
void ApplyMonitorPortSettings(cport::TCustomComPort& port);

// A line speed given as text: one of the listed rates ("19200"), or any other whole number of
// bits per second as a custom rate. Empty for a text that is neither.
struct LineSpeed {
    cport::TBaudRate BaudRate = kDesignBaudRate;
    std::int32_t CustomBaudRate = 0; // for brCustom
};
std::optional<LineSpeed> ParseLineSpeed(std::string_view text);
// Sets the port's speed (BaudRate, and CustomBaudRate for a custom one). Throws the port's EComPort.
void ApplyLineSpeed(cport::TCustomComPort& port, const LineSpeed& speed);

// The port and speed of the last successful open, kept in the user's configuration file
// (UserConfig.h) by the port's own ini persistence: the section named after the port component
// ("ComPort1") holds its basic settings (Port, BaudRate, CustomBaudRate and the line format).
struct RememberedPort {
    std::string Port;
    LineSpeed Speed;
};
// Writes the open `port`'s basic settings to `file`, keeping the rest of the file. Throws
// std::runtime_error naming the file when it cannot be written.
void RememberPort(const cport::TCustomComPort& port, const std::filesystem::path& file);
// Reads back what RememberPort wrote for the component called `componentName`; nothing when the file
// or its section is missing. Throws std::runtime_error naming the file when the file exists but
// cannot be read, or holds a port name or speed that a port refuses.
std::optional<RememberedPort> RecallPort(const std::string& componentName, const std::filesystem::path& file);

// An error of a monitor port as RaisePortErrors raises it: the component's EComPort, with its code,
// number and message unchanged (callers rely on them), and besides the port's name and the system's
// text for the number, so that the user can be told which port failed and why.
class PortError : public cport::EComPort {
public:
    PortError(int code, std::int64_t winError, std::string portName, bool lost = false);

    // The port's name as it was set ("ttyUSB0", "pts/3"; empty when none was picked).
    const std::string& PortName() const { return m_portName; }
    // The system's text for the number ("No such file or directory"); empty when there is none.
    const std::string& Reason() const { return m_reason; }
    // The device went away while the port was open (an unplugged adapter, a relay that ended), and
    // the port's event loop has ended: the port hears nothing more until it is closed and opened.
    bool Lost() const { return m_lost; }
    // "ttyUSB0: No such file or directory"; just the name without a reason.
    std::string Details() const;

private:
    std::string m_portName;
    std::string m_reason;
    bool m_lost;
};

// Makes `port` raise PortError instead of the plain EComPort for every error it reports (it sets
// the port's OnException). A failure that ends the port's event loop because the device went away is
// marked Lost. Main thread only, like the port.
void RaisePortErrors(cport::TCustomComPort& port);

// For the application's exception handler: when `error` is a PortError marked Lost and `sender` is
// the open port that raised it (the port's event loop reports its end with itself as the sender),
// closes that port, so that it reads as closed and one open tries again. Returns whether it closed.
bool CloseLostPort(cport::TObject* sender, const std::exception& error) noexcept;

// The name a port is listed by: a device under /dev by its name relative to /dev ("/dev/pts/3" and
// "pts/3" are "pts/3", which opening finds there again), any other path made absolute, a network
// relay's name as it is.
std::string ListedPortName(const std::string& name);
// The device a listed name stands for: "pts/3" is "/dev/pts/3", a path stays as it is.
std::string PortDevicePath(const std::string& listedName);

// A port this program offers by name (one given on the command line, the demo relay's device): it
// is published to the port list while the object lives, under ListedPortName. Publications are
// counted, so two objects may publish the same name. Throws std::invalid_argument with a plain
// sentence for a name that cannot be listed (empty, holding a NUL, too long).
class PublishedPort {
public:
    explicit PublishedPort(const std::string& name);
    ~PublishedPort();
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

    // The name as listed and opened (ListedPortName).
    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
};

} // namespace varmio
