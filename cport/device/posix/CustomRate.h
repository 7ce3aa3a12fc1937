// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Rates the classic termios interface has no constant for (56000, 128000, 256000, ...), through the
// kernel's termios2 interface. Kept in a file of its own: its kernel header cannot share a translation
// unit with <termios.h>.

#include <cstdint>

namespace cport::device {

// Sets the line's input and output rate to `rate` bits per second, leaving every other setting as it
// is. Returns 0 or the system's error number.
int SetCustomRate(int fd, std::uint32_t rate);

// The line's output rate in bits per second as the driver holds it (after any rounding of its own).
// Returns 0 or the system's error number.
int ReadLineRate(int fd, std::uint32_t& rate);

} // namespace cport::device
