// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The port component's error kinds, their fixed messages, and the exception that carries them.
// Plain data and value types; safe to use from any thread.

#include "cport/Framework.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace cport {

// The error kinds; a kind's code is its ordinal plus one (CE_OpenFailed = code 1 ... CEPortNotOpen = 24).
enum TComExceptions : std::uint8_t {
    CE_OpenFailed,
    CE_WriteFailed,
    CE_ReadFailed,
    CE_InvalidAsync,
    CE_PurgeFailed,
    CE_AsyncCheck,
    CE_SetStateFailed,
    CE_TimeoutsFailed,
    CE_SetupComFailed,
    CE_ClearComFailed,
    CE_ModemStatFailed,
    CE_EscapeComFailed,
    CE_TransmitFailed,
    CE_ConnChangeProp,
    CE_EnumPortsFailed,
    CE_StoreFailed,
    CE_LoadFailed,
    CE_RegFailed,
    CE_LedStateFailed,
    CE_ThreadCreated,
    CE_WaitFailed,
    CE_HasLink,
    CE_RegError,
    CEPortNotOpen,
};
// The number of error codes (1..24).
inline constexpr int kComErrorCount = 24;

// The code 1..24 of an error kind.
constexpr int ComErrorCode(TComExceptions kind) { return static_cast<int>(kind) + 1; }
// The kind of a code 1..24. Other codes have no kind; the caller checks the range.
constexpr TComExceptions ComErrorKind(int code) { return static_cast<TComExceptions>(code - 1); }

// The fixed message of error code 1..24 ("Unable to open com port" for 1); empty for any other code.
std::string_view ComErrorMessage(int code);

// The text of an operating-system error number as an error report words it:
// "System Error.  Code: <n>." and a line break, then the system's own text for the number
// ("A call to an OS function failed" for 0).
std::string WinMessage(int error);

// The port's error: code 1..24 of the table and the operating-system error number that came with it.
class EComPort : public Exception {
public:
    // With an operating-system error number: when `winError` > 0, WinErrorCode() is its low 32 bits and
    // the message is the code's message followed by " (Error: <WinErrorCode>)"; otherwise this is
    // EComPort(code).
    EComPort(int code, std::int64_t winError);
    // Without one: the code's message alone, WinErrorCode() -1.
    explicit EComPort(int code);

    // The code 1..24.
    int ComportCode() const noexcept { return m_comportCode; }
    // The operating-system error number (its low 32 bits), or -1 when none came with the error.
    int WinErrorCode() const noexcept { return m_winErrorCode; }

private:
    EComPort(int code, int winErrorCode, std::string message);

    int m_comportCode;
    int m_winErrorCode;
};

} // namespace cport
