// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the device tests share: an overlapped transfer with its event, the main window's line, and
// reading what is waiting.

#include "cport/Device.h"

#include <gtest/gtest.h>

#include <string>

namespace cport::device::test {

// One overlapped transfer with its event, as a caller keeps it.
struct Transfer {
    Event event{true};
    Overlapped ov;
    DWORD mask = 0;
    Transfer() { ov.hEvent = &event; }
};

// Reads return at once with what is there; writes as a port's defaults say.
inline constexpr COMMTIMEOUTS kAtOnce{MAXDWORD, 0, 0, 100, 1000};

// The line of a newly created port at `rate`: 8 data bits, no parity, one stop bit, no flow control.
inline DCB Line(DWORD rate)
{
    DCB dcb;
    dcb.BaudRate = rate;
    dcb.Flags = fBinary;
    dcb.XonLim = dcb.XoffLim = 256;
    dcb.ByteSize = 8;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    return dcb;
}

// Reads up to `count` bytes from a device (or the core of one) whose timeouts return at once.
template <typename Device>
std::string ReadNow(Device& device, DWORD count)
{
    Transfer t;
    std::string bytes(count, '\0');
    DWORD n = 0;
    EXPECT_TRUE(device.ReadFile(bytes.data(), count, n, t.ov)) << GetLastError();
    bytes.resize(n);
    return bytes;
}

} // namespace cport::device::test
