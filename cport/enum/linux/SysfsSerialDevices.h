// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial devices Linux publishes, read from sysfs: the tty devices backed by real hardware.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cport/Enumeration.h"

namespace cport {

// The names (as under /dev) of the tty devices in `<sysfsRoot>/class/tty` that stand for a serial
// line: those with a parent device (USB serial, CDC-ACM, on-board and PCI UARTs …) and the Bluetooth
// RFCOMM ttys (bound without a parent until connected). Virtual consoles, the console and pseudo-tty
// masters have no parent and are left out, and so is a serial-core slot whose `type` is 0: a ttyS*
// line the kernel reserves without a UART behind it. In directory order; nothing when the folder is
// missing or cannot be read.
std::optional<std::vector<std::string>> SysfsSerialTtyNames(const std::string& sysfsRoot);

// A source whose key holds, at each opening, the serial ttys of `sysfsRoot` followed by the virtual
// ports published to the component. The key cannot be opened when `<sysfsRoot>/class/tty` cannot be
// read and no virtual port is published.
std::unique_ptr<TSerialDeviceSource> CreateSysfsSerialDeviceSource(std::string sysfsRoot);

} // namespace cport
