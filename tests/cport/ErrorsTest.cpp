// SPDX-License-Identifier: GPL-3.0-or-later
// Error kinds, their messages, and how EComPort words them.

#include "cport/CPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace cport;

namespace {

TEST(ComErrorTable, CodesAreOrdinalPlusOne)
{
    EXPECT_EQ(ComErrorCode(CE_OpenFailed), 1);
    EXPECT_EQ(ComErrorCode(CE_ConnChangeProp), 14);
    EXPECT_EQ(ComErrorCode(CE_LedStateFailed), 19);
    EXPECT_EQ(ComErrorCode(CEPortNotOpen), 24);
    for (int code = 1; code <= kComErrorCount; ++code) EXPECT_EQ(ComErrorCode(ComErrorKind(code)), code);
}

TEST(ComErrorTable, EveryCodeHasItsFixedMessage)
{
    const char* const expected[] = {
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
    static_assert(std::size(expected) == kComErrorCount);
    for (int code = 1; code <= kComErrorCount; ++code) EXPECT_EQ(ComErrorMessage(code), expected[code - 1]) << code;
}

TEST(ComErrorTable, CodesOutsideTheTableHaveNoMessage)
{
    EXPECT_EQ(ComErrorMessage(0), "");
    EXPECT_EQ(ComErrorMessage(25), "");
    EXPECT_EQ(ComErrorMessage(-1), "");
}

TEST(EComPortMessage, OperatingSystemErrorIsAppended)
{
    const EComPort e(ComErrorCode(CE_OpenFailed), 2);
    EXPECT_EQ(e.Message(), "Unable to open com port (Error: 2)");
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
    EXPECT_EQ(e.ComportCode(), 1);
    EXPECT_EQ(e.WinErrorCode(), 2);
}

TEST(EComPortMessage, NoOrNegativeErrorGivesTheMessageAloneAndMinusOne)
{
    for (std::int64_t winError : {std::int64_t{0}, std::int64_t{-24}, std::int64_t{-1}}) {
        const EComPort e(ComErrorCode(CEPortNotOpen), winError);
        EXPECT_EQ(e.Message(), "Port Not Open");
        EXPECT_EQ(e.ComportCode(), 24);
        EXPECT_EQ(e.WinErrorCode(), -1);
    }
    const EComPort e(ComErrorCode(CE_ConnChangeProp));
    EXPECT_EQ(e.Message(), "Cannot set property while connected");
    EXPECT_EQ(e.WinErrorCode(), -1);
}

TEST(EComPortMessage, OnlyTheLow32BitsOfTheErrorAreKept)
{
    const EComPort e(ComErrorCode(CE_SetStateFailed), (std::int64_t{1} << 32) + 22);
    EXPECT_EQ(e.WinErrorCode(), 22);
    EXPECT_EQ(e.Message(), "SetCommState function failed (Error: 22)");
}

TEST(EComPortMessage, IsCaughtAsTheLibrarysException)
{
    try {
        throw EComPort(ComErrorCode(CE_RegFailed), 0);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Link (un)registration failed");
    }
}

TEST(WinMessageText, NumberThenLineBreakThenTheSystemsText)
{
    EXPECT_EQ(WinMessage(ENOENT), "System Error.  Code: 2.\n" + std::string(std::strerror(ENOENT)));
    EXPECT_EQ(WinMessage(EACCES), "System Error.  Code: 13.\n" + std::string(std::strerror(EACCES)));
}

TEST(WinMessageText, ZeroIsAFailedCallWithoutANumberedReason)
{
    EXPECT_EQ(WinMessage(0), "System Error.  Code: 0.\nA call to an OS function failed");
}

} // namespace
