// SPDX-License-Identifier: GPL-3.0-or-later
// The calling thread's last error number, kept per thread as Win32 keeps it.

#include "cport/Device.h"

namespace cport::device {

namespace {
thread_local int t_lastError = 0;
}

int GetLastError() { return t_lastError; }

void SetLastError(int error) { t_lastError = error; }

} // namespace cport::device
