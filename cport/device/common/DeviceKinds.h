// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The kinds of device a port can open. CreateSystemDevice gives a device that picks one of them by the
// port name at each open (device/common/NamedDevice.cpp): a network port name opens the network
// device, any other name the platform's serial device.

#include "cport/Device.h"

#include <memory>

namespace cport::device {

// The platform's serial device (device/posix).
std::unique_ptr<ISerialDevice> CreateSerialDevice();
// The network device (device/net): socket://HOST:PORT and rfc2217://HOST:PORT.
std::unique_ptr<ISerialDevice> CreateNetDevice();

} // namespace cport::device
