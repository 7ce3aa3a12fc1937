// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/Errors.h"

#include <array>
#include <system_error>

namespace cport {

namespace {

// Indexed by ordinal: the message of code n is at n - 1.
constexpr std::array<std::string_view, kComErrorCount> kComErrorMessages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

constexpr std::string_view kLineBreak = "\n";

// An operating-system error number travels as 64 bits; its low 32 bits, read as signed, are kept.
int LowWord32(std::int64_t value) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(value)); }

} // namespace

std::string_view ComErrorMessage(int code)
{
    if (code < 1 || code > kComErrorCount) return {};
    return kComErrorMessages[static_cast<std::size_t>(code - 1)];
}

std::string WinMessage(int error)
{
    const std::string systemText =
        error == 0 ? std::string("A call to an OS function failed") : std::system_category().message(error);
    return "System Error.  Code: " + std::to_string(error) + "." + std::string(kLineBreak) + systemText;
}

EComPort::EComPort(int code, std::int64_t winError)
    : EComPort(code, winError > 0 ? LowWord32(winError) : -1,
               winError > 0
                   ? std::string(ComErrorMessage(code)) + " (Error: " + std::to_string(LowWord32(winError)) + ")"
                   : std::string(ComErrorMessage(code)))
{
}

EComPort::EComPort(int code) : EComPort(code, -1, std::string(ComErrorMessage(code))) {}

EComPort::EComPort(int code, int winErrorCode, std::string message)
    : Exception(std::move(message)), m_comportCode(code), m_winErrorCode(winErrorCode)
{
}

} // namespace cport
