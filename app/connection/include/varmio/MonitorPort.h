#pragma once
// The monitor's serial port as the main window designs it: 19200 baud, 8 data bits, no parity, one
// stop bit, no flow control, DTR and RTS held off, all ten line events watched, received characters
// announced to OnRxChar; everything else at the component's defaults. The window's ComPort1 and the
// headless logger's port are both set up from here.
//
// Threads: main thread only, like the port.

#include "cport/ComPort.h"

#include <cstdint>
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

// A port this program offers by name (one given on the command line, the demo relay's device): it
// is published to the port list while the object lives. Publications are counted, so two objects
// may publish the same name. Throws std::invalid_argument for a name that cannot be listed.
class PublishedPort {
public:
    explicit PublishedPort(std::string name);
    ~PublishedPort();
    PublishedPort(const PublishedPort&) = delete;
    PublishedPort& operator=(const PublishedPort&) = delete;

    const std::string& Name() const { return m_name; }

private:
    std::string m_name;
};

} // namespace varmio
