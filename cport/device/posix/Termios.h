// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The line settings of a DCB in termios terms. Pure composition, kept apart from the device so that it
// can be tested without one.

#include "cport/Device.h"

#include <termios.h>

namespace cport::device {

// The termios speed constant for a rate the classic interface names (B19200 for 19200), or B0 when
// the rate needs the custom-rate interface (56000, 128000, 256000, ...).
speed_t StandardSpeed(DWORD rate);

// A raw line: no byte is rewritten, dropped or added (0x0D, 0x11, 0x13 and 0xFF pass as they are),
// breaks are not turned into NUL bytes, modem control lines do not hang the line up, and reads never
// block in the kernel. Speed bits are kept.
void MakeRaw(termios& tio);

// Writes the DCB's line settings into `tio` (which holds the line's current settings): data bits,
// parity (mark and space through CMSPAR), stop bits, RTS/CTS, XON/XOFF with their characters, error
// replacement and the rate when it is a standard one. Returns 0, or EINVAL for values no line takes.
//
// What termios cannot say is the device's own business and left out here: DTR/DSR input flow (the
// reader drives DTR from its queue), DSR sensitivity and NUL discarding (the reader filters), an error
// character other than NUL (the reader replaces marked bytes), and RTS toggling (RTS stays off, since
// this layer never transmits).
int ComposeTermios(const DCB& dcb, termios& tio);

// The termios bits ComposeTermios decides; a driver that changes any of them has refused the setting.
inline constexpr tcflag_t kDecidedCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
inline constexpr tcflag_t kDecidedIflags = IXON | IXOFF | INPCK | PARMRK | IGNPAR | IGNBRK;

} // namespace cport::device
