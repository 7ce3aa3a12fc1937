// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Listing the serial ports installed on the machine.
//
// The system publishes its serial devices as the named values of one key (on Windows the registry key
// HARDWARE\DEVICEMAP\SERIALCOMM; on Linux the tty devices backed by real hardware, read from sysfs),
// each value's data being the port name as a program opens it ("COM12", "ttyUSB0"). Ports that the
// running program provides itself (a built-in relay, a pseudo-terminal named on the command line) are
// published to the component the way virtual-port drivers register themselves with the system, and
// are listed with the others.
//
// Threads: ListSerialPorts may run on any thread (in this system the main thread). Publishing and
// withdrawing virtual ports is synchronised and may happen on any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cport/Registry.h"

namespace cport {

// An open key of published serial devices. Destroying it closes it.
class TSerialDeviceKey {
public:
    virtual ~TSerialDeviceKey() = default;

    // Reads the value at `index` (counted from 0) as the registry's value enumeration does: see
    // CopyRegistryValue for the buffers and sizes. Returns kErrorSuccess, kErrorNoMoreItems past the
    // last value, kErrorMoreData for a value that does not fit, or another error number.
    virtual long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                           std::uint8_t* data, std::uint32_t& dataSize) = 0;
};

// Where the published serial devices are read from.
class TSerialDeviceSource {
public:
    virtual ~TSerialDeviceSource() = default;

    // Opens the key of published devices; null when it cannot be opened (it is missing, or access is
    // denied). Throws only what allocation throws.
    virtual std::unique_ptr<TSerialDeviceKey> OpenKey() = 0;
};

// A key whose values are given as a list, read in list order.
class TValueListKey : public TSerialDeviceKey {
public:
    // The key of these values.
    explicit TValueListKey(std::vector<TRegistryValue> values) : m_values(std::move(values)) {}
    long EnumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type, std::uint8_t* data,
                   std::uint32_t& dataSize) override;

private:
    std::vector<TRegistryValue> m_values;
};

// The machine's published serial devices, followed by the virtual ports published to the component.
// Each call of OpenKey takes a fresh snapshot.
std::unique_ptr<TSerialDeviceSource> CreateSystemSerialDeviceSource();

// Replaces the content of `List` with the names of the published serial ports, sorted without regard
// to letter case by the text order of the user's locale (no numeric ordering: COM10 sorts before
// COM2). Duplicates are kept. A value whose name or data does not fit in 256 bytes ends the listing
// there; each name is its value's data less the last byte (the terminating NUL of a text value).
// When the key cannot be opened `List` is left exactly as it was. Nothing is reported in any case;
// only what allocation throws can leave.
void ListSerialPorts(std::vector<std::string>& List);
void ListSerialPorts(std::vector<std::string>& List, TSerialDeviceSource& Source);

// The longest port name that can be listed (with its NUL it fills the 256-byte data buffer).
inline constexpr std::size_t kMaxListedPortName = 255;

// Publishes a port that this program provides, under the name `Port` opens it by (a device name under
// /dev or a full path). Publications are counted: a name published twice is listed once, until it
// has been withdrawn twice. Throws std::invalid_argument for an empty name, a name holding a NUL, or
// one longer than kMaxListedPortName (it could not be listed).
void PublishVirtualPort(const std::string& name);
// Withdraws one publication of `name`; false when the name is not published.
bool WithdrawVirtualPort(const std::string& name);
// The published virtual port names, in order of first publication.
std::vector<std::string> VirtualPorts();

} // namespace cport
