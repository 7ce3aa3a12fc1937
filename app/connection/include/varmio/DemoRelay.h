// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The built-in demo relay: the relay simulator's thermostat/boiler conversation sent, paced like the
// bus, into a pseudo-terminal of this process, and that terminal published as a serial port for as
// long as the relay lives. The relay waits for a program to open its port before it sends anything,
// pauses while nobody has it open, and runs on a thread of its own.
//
// Threads: construct and destroy on one thread; PortName() and Simulator() from any thread.

#include "varmio/MonitorPort.h"
#include "varmio/relaysim/RelaySimulator.h"

#include <memory>
#include <string>

namespace varmio {

class DemoRelay {
public:
    // Makes the terminal, publishes it and starts sending. `options` chooses the pacing (Speed) and
    // the conversation (Seed, StartTimeOfDay) or a replay; the default is the conversation at the
    // bus's pace from a random seed at the local time of day. Throws what the simulator throws
    // (std::system_error when no terminal can be made).
    DemoRelay();
    explicit DemoRelay(const relaysim::RelayOptions& options);
    // Stops the relay (a program that still has the port open sees it hang up) and withdraws the port.
    ~DemoRelay();
    DemoRelay(const DemoRelay&) = delete;
    DemoRelay& operator=(const DemoRelay&) = delete;

    // The name the port is listed and opened by: the terminal's name under /dev ("pts/3").
    const std::string& PortName() const { return m_published->Name(); }
    relaysim::RelaySimulator& Simulator() { return *m_simulator; }

private:
    std::unique_ptr<relaysim::RelaySimulator> m_simulator;
    std::unique_ptr<PublishedPort> m_published;
};

// The options of the demo relay: the conversation at the bus's pace, from a random seed, following
// the local time of day.
relaysim::RelayOptions DemoRelayOptions();

} // namespace varmio
