// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The vocabulary of a serial line's configuration: the enumerations for line parameters, flow control,
// line events, line errors and modem signals, with their device values and texts (one table each);
// the four settings objects every port owns; and their translation into the device's terms (DCB,
// COMMTIMEOUTS, event mask, error flags, modem status).
//
// Threads: the settings objects belong to the port's owning thread (the main thread); the event thread
// only reads Parity().Check() when it converts line errors, which needs no lock. The tables and the
// free functions are pure and may be used from any thread.

#include "cport/Device.h"
#include "cport/Framework.h"
#include "cport/Set.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string_view>

namespace cport {

using device::DWORD;

// ---- Enumerations ----------------------------------------------------------------------------------

// The line speeds a port offers; brCustom uses the port's CustomBaudRate.
enum TBaudRate : std::uint8_t {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000,
};
// The stop bits of a character: 1, 1.5 or 2.
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
// The data bits of a character: 5 to 8.
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
// The parity bit: none, odd, even, always 1 (mark), always 0 (space).
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
// How the port drives DTR: off, on, or as input flow control.
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
// How the port drives RTS: off, on, as input flow control, or on while sending.
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
// Not a device value: a summary of four members of TComFlowControl (see TComFlowControl::FlowControl).
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };

// The line events a port can wait for (Events) and hand to its handlers.
enum TComEvent : std::uint8_t {
    evRxChar,
    evTxEmpty,
    evRxFlag,
    evRing,
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRLSD,
    evRx80Full,
};
using TComEvents = Set<TComEvent, std::uint16_t>; // a set of line events

// The line errors OnError reports.
enum TComError : std::uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
using TComErrors = Set<TComError, std::uint8_t>; // a set of line errors

// The modem input lines.
enum TModemSignal : std::uint8_t { msCTS, msDSR, msRing, msRLSD };
using TModemSignals = Set<TModemSignal, std::uint8_t>; // the modem input lines that are on

// How line events reach the handlers (see the port's event thread).
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };

// Groups of settings that the port's stored-settings operations handle.
enum TStoredProp : std::uint8_t { spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers };
using TStoredProps = Set<TStoredProp, std::uint8_t>; // a set of setting groups

// ---- Tables ----------------------------------------------------------------------------------------
// One table per enumeration, in ordinal order (row n is the value with ordinal n): the single source
// of the value's device value and text. Lists of choices are built by walking a table.

template <typename E>
// A row of a value table: the value, its device value, its text.
struct ValueRow {
    E Value;               // the enumeration's value
    DWORD Device;          // the DCB member's value
    std::string_view Text; // its text, as shown and stored
};
template <typename E>
// A row of a text table: the value and its text.
struct TextRow {
    E Value;               // the enumeration's value
    std::string_view Text; // its text, as shown and stored
};
template <typename E>
// A row of a flag table: a set member and its device bit.
struct FlagRow {
    E Member;   // the set's member
    DWORD Flag; // the device's bit for the member
};

// brCustom's device value is the port's CustomBaudRate; its row holds 0.
inline constexpr std::array<ValueRow<TBaudRate>, 16> kBaudRateTable = {{
    {brCustom, 0, "Custom"},
    {br110, 110, "110"},
    {br300, 300, "300"},
    {br600, 600, "600"},
    {br1200, 1200, "1200"},
    {br2400, 2400, "2400"},
    {br4800, 4800, "4800"},
    {br9600, 9600, "9600"},
    {br14400, 14400, "14400"},
    {br19200, 19200, "19200"},
    {br38400, 38400, "38400"},
    {br56000, 56000, "56000"},
    {br57600, 57600, "57600"},
    {br115200, 115200, "115200"},
    {br128000, 128000, "128000"},
    {br256000, 256000, "256000"},
}};
inline constexpr std::array<ValueRow<TStopBits>, 3> kStopBitsTable = {{
    {sbOneStopBit, device::ONESTOPBIT, "1"},
    {sbOne5StopBits, device::ONE5STOPBITS, "1.5"},
    {sbTwoStopBits, device::TWOSTOPBITS, "2"},
}};
inline constexpr std::array<ValueRow<TDataBits>, 4> kDataBitsTable = {{
    {dbFive, 5, "5"},
    {dbSix, 6, "6"},
    {dbSeven, 7, "7"},
    {dbEight, 8, "8"},
}};
inline constexpr std::array<ValueRow<TParityBits>, 5> kParityTable = {{
    {prNone, device::NOPARITY, "None"},
    {prOdd, device::ODDPARITY, "Odd"},
    {prEven, device::EVENPARITY, "Even"},
    {prMark, device::MARKPARITY, "Mark"},
    {prSpace, device::SPACEPARITY, "Space"},
}};
// Device value: the two-bit fDtrControl field of the DCB flag word.
inline constexpr std::array<ValueRow<TDTRFlowControl>, 3> kDTRTable = {{
    {dtrDisable, device::DTR_CONTROL_DISABLE, "Disable"},
    {dtrEnable, device::DTR_CONTROL_ENABLE, "Enable"},
    {dtrHandshake, device::DTR_CONTROL_HANDSHAKE, "Handshake"},
}};
// Device value: the two-bit fRtsControl field of the DCB flag word.
inline constexpr std::array<ValueRow<TRTSFlowControl>, 4> kRTSTable = {{
    {rtsDisable, device::RTS_CONTROL_DISABLE, "Disable"},
    {rtsEnable, device::RTS_CONTROL_ENABLE, "Enable"},
    {rtsHandshake, device::RTS_CONTROL_HANDSHAKE, "Handshake"},
    {rtsToggle, device::RTS_CONTROL_TOGGLE, "Toggle"},
}};
inline constexpr std::array<TextRow<TFlowControl>, 4> kFlowControlTable = {{
    {fcHardware, "Hardware"},
    {fcSoftware, "Software"},
    {fcNone, "None"},
    {fcCustom, "Custom"},
}};

// Event-mask bit of each event. EV_PERR has no member: it is never requested and ignored when reported.
inline constexpr std::array<FlagRow<TComEvent>, 10> kComEventTable = {{
    {evRxChar, device::EV_RXCHAR},
    {evTxEmpty, device::EV_TXEMPTY},
    {evRxFlag, device::EV_RXFLAG},
    {evRing, device::EV_RING},
    {evBreak, device::EV_BREAK},
    {evCTS, device::EV_CTS},
    {evDSR, device::EV_DSR},
    {evError, device::EV_ERR},
    {evRLSD, device::EV_RLSD},
    {evRx80Full, device::EV_RX80FULL},
}};
// Line-error flag of each error; other flags are ignored.
inline constexpr std::array<FlagRow<TComError>, 8> kComErrorTable = {{
    {ceFrame, device::CE_FRAME},
    {ceRxParity, device::CE_RXPARITY},
    {ceOverrun, device::CE_OVERRUN},
    {ceBreak, device::CE_BREAK},
    {ceIO, device::CE_IOE},
    {ceMode, device::CE_MODE},
    {ceRxOver, device::CE_RXOVER},
    {ceTxFull, device::CE_TXFULL},
}};
// Modem-status bit of each input line.
inline constexpr std::array<FlagRow<TModemSignal>, 4> kModemSignalTable = {{
    {msCTS, device::MS_CTS_ON},
    {msDSR, device::MS_DSR_ON},
    {msRing, device::MS_RING_ON},
    {msRLSD, device::MS_RLSD_ON},
}};

// ---- Conversions -----------------------------------------------------------------------------------
// Value to text: the table's text; an out-of-range value (a cast number) gives empty text.
// Text to value: the first value whose text equals the given one without regard to the case of ASCII
// letters (no trimming, no numeric reading: " 9600" and "9600.0" match nothing); otherwise the
// fallback named below. The texts returned live as long as the program.

std::string_view BaudRateToText(TBaudRate value);
TBaudRate TextToBaudRate(std::string_view text);        // fallback br9600
std::string_view StopBitsToText(TStopBits value);       // "1", "1.5", "2"
TStopBits TextToStopBits(std::string_view text);        // fallback sbOneStopBit
std::string_view DataBitsToText(TDataBits value);       // "5" .. "8"
TDataBits TextToDataBits(std::string_view text);        // fallback dbEight
std::string_view ParityToText(TParityBits value);       // "None", "Odd", "Even", "Mark", "Space"
TParityBits TextToParity(std::string_view text);        // fallback prNone
std::string_view FlowControlToText(TFlowControl value); // "Hardware", "Software", "None", "Custom"
TFlowControl TextToFlowControl(std::string_view text);  // fallback fcCustom
std::string_view DTRToText(TDTRFlowControl value);      // "Disable", "Enable", "Handshake"
TDTRFlowControl TextToDTR(std::string_view text);       // fallback dtrDisable
std::string_view RTSToText(TRTSFlowControl value);      // "Disable", "Enable", "Handshake", "Toggle"
TRTSFlowControl TextToRTS(std::string_view text);       // fallback rtsDisable

// The event mask requesting exactly the events of the set (all ten give 0x05FF).
DWORD EventsToMask(TComEvents events);
// The events of a reported mask; bits of no event (EV_PERR and unknown bits) are ignored.
TComEvents MaskToEvents(DWORD mask);
// The errors of the device's line-error flags. A parity error counts only while parity is checked.
TComErrors LineErrorsToErrors(DWORD flags, bool parityCheck);
// The input lines that are on in the device's modem status.
TModemSignals ModemStatusToSignals(DWORD status);

// ---- Settings objects ------------------------------------------------------------------------------

// What a settings object asks of the port that owns it: re-apply one group of settings. Each does
// nothing unless the port is open and neither designed nor loading. The port implements this.
class TComSettingsOwner {
public:
    virtual void ApplyLineSettings() = 0;    // the line settings (DCB)
    virtual void ApplyTimeoutSettings() = 0; // the timeouts
    virtual void ApplyBufferSizes() = 0;     // the queue sizes

protected:
    ~TComSettingsOwner() = default;
};

// The common part of the four settings objects: the owner port, fixed at construction, and the setter
// rule. A setter given the value already held does nothing; otherwise it stores the value and, when
// there is an owner port, asks it to re-apply the object's group. An object without an owner port
// (free-standing, e.g. the source of a copy) only stores values. Exceptions from the re-apply (an
// EComPort from an open port that refuses the setting) propagate; the new value stays stored.
class TComSettings : public TPersistent {
public:
    TComSettingsOwner* OwnerPort() const { return m_ownerPort; } // the owner port, null for none

protected:
    // The owner's operation that re-applies this object's group.
    using ApplyOperation = void (TComSettingsOwner::*)();
    TComSettings(TComSettingsOwner* ownerPort, ApplyOperation apply)
        : m_ownerPort(ownerPort), m_apply(apply) {} // with its owner port (null: none) and its group's re-apply

    template <typename T>
    // The setter rule (see the class).
    void Change(T& field, T value)
    {
        if (field == value) return;
        field = value;
        Reapply();
    }
    // Asks the owner port, when there is one, to re-apply the group.
    void Reapply() const
    {
        if (m_ownerPort != nullptr) (m_ownerPort->*m_apply)();
    }

private:
    TComSettingsOwner* const m_ownerPort;
    const ApplyOperation m_apply;
};

// Parity: re-applies the line settings.
class TComParity : public TComSettings {
public:
    TComParity() : TComParity(nullptr) {}
    // Owned by a port, which re-applies its line settings on a change.
    explicit TComParity(TComSettingsOwner* ownerPort) : TComSettings(ownerPort, &TComSettingsOwner::ApplyLineSettings)
    {
    }
    const char* ClassName() const override { return "TComParity"; }
    // Copies every member from another TComParity without re-applying; see TPersistent::Assign.
    void Assign(const TPersistent* source) override;

    // The parity bit sent and expected.
    TParityBits Bits() const { return m_bits; }
    void SetBits(TParityBits value) { Change(m_bits, value); }
    // Parity is checked on received bytes (and parity errors reported). The event thread reads it
    // while converting line errors, so it is kept atomically; any thread may read it.
    bool Check() const { return m_check.load(std::memory_order_relaxed); }
    void SetCheck(bool value);
    // Bytes with a parity error are replaced by ReplaceChar; only while Check is on.
    bool Replace() const { return m_replace; }
    void SetReplace(bool value) { Change(m_replace, value); }
    // The character that replaces a byte with a parity error.
    char ReplaceChar() const { return m_replaceChar; }
    void SetReplaceChar(char value) { Change(m_replaceChar, value); }

private:
    TParityBits m_bits = prNone;
    std::atomic<bool> m_check{false};
    bool m_replace = false;
    char m_replaceChar = 0;
};

// Flow control: re-applies the line settings.
class TComFlowControl : public TComSettings {
public:
    TComFlowControl() : TComFlowControl(nullptr) {}
    // Owned by a port, which re-applies its line settings on a change.
    explicit TComFlowControl(TComSettingsOwner* ownerPort)
        : TComSettings(ownerPort, &TComSettingsOwner::ApplyLineSettings)
    {
    }
    const char* ClassName() const override { return "TComFlowControl"; }
    // Copies the ten stored members from another TComFlowControl without re-applying.
    void Assign(const TPersistent* source) override;

    // The preset the members amount to, judged by ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut
    // only: fcHardware (RTS handshake, CTS flow), fcSoftware (XON/XOFF both ways), fcNone (none of
    // them), otherwise fcCustom.
    TFlowControl FlowControl() const;
    // Writes a preset into those four members directly (DTR, DSR, TxContinueOnXoff and the characters
    // are never touched; fcCustom touches nothing), then re-applies once, even when nothing changed.
    void SetFlowControl(TFlowControl value);

    // CTS output flow. On Linux the kernel couples it with RTS input flow (one termios switch): either
    // OutCTSFlow or ControlRTS = rtsHandshake turns on both, so with OutCTSFlow alone RTS is driven as
    // input flow too, and with rtsHandshake alone output waits for CTS.
    bool OutCTSFlow() const { return m_outCTSFlow; }
    void SetOutCTSFlow(bool value) { Change(m_outCTSFlow, value); }
    // Output waits while DSR is off.
    bool OutDSRFlow() const { return m_outDSRFlow; }
    void SetOutDSRFlow(bool value) { Change(m_outDSRFlow, value); }
    // How DTR is driven.
    TDTRFlowControl ControlDTR() const { return m_controlDTR; }
    void SetControlDTR(TDTRFlowControl value) { Change(m_controlDTR, value); }
    // How RTS is driven.
    TRTSFlowControl ControlRTS() const { return m_controlRTS; }
    void SetControlRTS(TRTSFlowControl value) { Change(m_controlRTS, value); }
    // Output stops at XoffChar from the other side and goes on at XonChar.
    bool XonXoffOut() const { return m_xonXoffOut; }
    void SetXonXoffOut(bool value) { Change(m_xonXoffOut, value); }
    // The port sends XoffChar when its input queue fills and XonChar once it has room.
    bool XonXoffIn() const { return m_xonXoffIn; }
    void SetXonXoffIn(bool value) { Change(m_xonXoffIn, value); }
    // Bytes received while DSR is off are dropped.
    bool DSRSensitivity() const { return m_dsrSensitivity; }
    void SetDSRSensitivity(bool value) { Change(m_dsrSensitivity, value); }
    // Output goes on after the port has sent XoffChar.
    bool TxContinueOnXoff() const { return m_txContinueOnXoff; }
    void SetTxContinueOnXoff(bool value) { Change(m_txContinueOnXoff, value); }
    // The character that lets the sender go on (XON, DC1).
    char XonChar() const { return m_xonChar; }
    void SetXonChar(char value) { Change(m_xonChar, value); }
    // The character that stops the sender (XOFF, DC3).
    char XoffChar() const { return m_xoffChar; }
    void SetXoffChar(char value) { Change(m_xoffChar, value); }

private:
    bool m_outCTSFlow = false;
    bool m_outDSRFlow = false;
    TDTRFlowControl m_controlDTR = dtrDisable;
    TRTSFlowControl m_controlRTS = rtsDisable;
    bool m_xonXoffOut = false;
    bool m_xonXoffIn = false;
    bool m_dsrSensitivity = false;
    bool m_txContinueOnXoff = false;
    char m_xonChar = 17;  // DC1
    char m_xoffChar = 19; // DC3
};

// Timeouts in milliseconds, in COMMTIMEOUTS order: re-applies the timeouts. The defaults make a read
// return at once with what has been received, and let a write take 100 ms per byte plus 1000 ms.
class TComTimeouts : public TComSettings {
public:
    TComTimeouts() : TComTimeouts(nullptr) {}
    // Owned by a port, which re-applies its timeouts on a change.
    explicit TComTimeouts(TComSettingsOwner* ownerPort)
        : TComSettings(ownerPort, &TComSettingsOwner::ApplyTimeoutSettings)
    {
    }
    const char* ClassName() const override { return "TComTimeouts"; }
    void Assign(const TPersistent* source) override;

    // The longest gap between two received bytes; -1 (all bits set) with both read totals 0 makes a read return at
    // once.
    std::int32_t ReadInterval() const { return m_readInterval; }
    void SetReadInterval(std::int32_t value) { Change(m_readInterval, value); }
    // The read total, per byte asked for.
    std::int32_t ReadTotalMultiplier() const { return m_readTotalMultiplier; }
    void SetReadTotalMultiplier(std::int32_t value) { Change(m_readTotalMultiplier, value); }
    // The read total, added once.
    std::int32_t ReadTotalConstant() const { return m_readTotalConstant; }
    void SetReadTotalConstant(std::int32_t value) { Change(m_readTotalConstant, value); }
    // The write total, per byte written: a write may take WriteTotalMultiplier * bytes + WriteTotalConstant; both 0: no
    // limit.
    std::int32_t WriteTotalMultiplier() const { return m_writeTotalMultiplier; }
    void SetWriteTotalMultiplier(std::int32_t value) { Change(m_writeTotalMultiplier, value); }
    // The write total, added once.
    std::int32_t WriteTotalConstant() const { return m_writeTotalConstant; }
    void SetWriteTotalConstant(std::int32_t value) { Change(m_writeTotalConstant, value); }

private:
    std::int32_t m_readInterval = -1; // all bits set: no interval limit
    std::int32_t m_readTotalMultiplier = 0;
    std::int32_t m_readTotalConstant = 0;
    std::int32_t m_writeTotalMultiplier = 100;
    std::int32_t m_writeTotalConstant = 1000;
};

// Recommended sizes of the driver's queues, in bytes: re-applies the buffer sizes. A positive odd size
// is stored one less (1025 becomes 1024); the comparison with the held value is made on the size as
// given, so setting 1025 twice re-applies twice while setting the held 1024 again does nothing.
class TComBuffer : public TComSettings {
public:
    TComBuffer() : TComBuffer(nullptr) {}
    // Owned by a port, which re-applies its queue sizes on a change.
    explicit TComBuffer(TComSettingsOwner* ownerPort) : TComSettings(ownerPort, &TComSettingsOwner::ApplyBufferSizes) {}
    const char* ClassName() const override { return "TComBuffer"; }
    void Assign(const TPersistent* source) override;

    // The input queue's size.
    std::int32_t InputSize() const { return m_inputSize; }
    void SetInputSize(std::int32_t value) { ChangeSize(m_inputSize, value); }
    // The output queue's size.
    std::int32_t OutputSize() const { return m_outputSize; }
    void SetOutputSize(std::int32_t value) { ChangeSize(m_outputSize, value); }

private:
    void ChangeSize(std::int32_t& field, std::int32_t value);

    std::int32_t m_inputSize = 1024;
    std::int32_t m_outputSize = 1024;
};

// ---- Composing the device's structures -------------------------------------------------------------

// The port's own line fields that go into the DCB besides its settings objects.
struct TLineFields {
    TBaudRate BaudRate = br9600;        // the line speed
    std::int32_t CustomBaudRate = 9600; // used for brCustom; handed over unvalidated
    TDataBits DataBits = dbEight;       // data bits
    TStopBits StopBits = sbOneStopBit;  // stop bits
    bool DiscardNull = false;           // received NUL bytes dropped
    char EventChar = 0;                 // the character that raises EV_RXFLAG
};

// The DCB that sets the line: binary mode always, no abort on error, XonLim = XoffLim = a quarter of
// the input queue, the error character only while parity is checked and replaced.
device::DCB ComposeDCB(const TLineFields& line, const TComParity& parity, const TComFlowControl& flowControl,
                       const TComBuffer& buffer);
// The five timeouts in order, each as its 32-bit pattern (-1 becomes MAXDWORD).
device::COMMTIMEOUTS ComposeTimeouts(const TComTimeouts& timeouts);

} // namespace cport
