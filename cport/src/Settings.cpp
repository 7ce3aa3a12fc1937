// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/Settings.h"

#include <cstddef>

namespace cport {

namespace {

// Every table lists its values in ordinal order, so a value's row is found by indexing.
template <typename Row, std::size_t N>
constexpr bool InOrdinalOrder(const std::array<Row, N>& table)
{
    for (std::size_t i = 0; i < N; ++i) {
        if constexpr (requires { table[i].Value; }) {
            if (static_cast<std::size_t>(table[i].Value) != i) return false;
        } else {
            if (static_cast<std::size_t>(table[i].Member) != i) return false;
        }
    }
    return true;
}
static_assert(InOrdinalOrder(kBaudRateTable));
static_assert(InOrdinalOrder(kStopBitsTable));
static_assert(InOrdinalOrder(kDataBitsTable));
static_assert(InOrdinalOrder(kParityTable));
static_assert(InOrdinalOrder(kDTRTable));
static_assert(InOrdinalOrder(kRTSTable));
static_assert(InOrdinalOrder(kFlowControlTable));
static_assert(InOrdinalOrder(kComEventTable));
static_assert(InOrdinalOrder(kComErrorTable));
static_assert(InOrdinalOrder(kModemSignalTable));

constexpr char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
    return true;
}

template <typename E, typename Table>
std::string_view ToText(const Table& table, E value)
{
    const auto index = static_cast<std::size_t>(value);
    return index < table.size() ? table[index].Text : std::string_view{};
}

template <typename E, typename Table>
E FromText(const Table& table, std::string_view text, E fallback)
{
    for (const auto& row : table)
        if (EqualIgnoringAsciiCase(row.Text, text)) return row.Value;
    return fallback;
}

template <typename E, typename Table>
DWORD DeviceValue(const Table& table, E value)
{
    const auto index = static_cast<std::size_t>(value);
    return index < table.size() ? table[index].Device : 0;
}

template <typename S, typename Table>
S FlagsToSet(const Table& table, DWORD flags)
{
    S result;
    for (const auto& row : table)
        if ((flags & row.Flag) != 0) result.Include(row.Member);
    return result;
}

constexpr DWORD FlagIf(bool on, DWORD flag) { return on ? flag : 0; }

} // namespace

// ---- Conversions -----------------------------------------------------------------------------------

std::string_view BaudRateToText(TBaudRate value) { return ToText(kBaudRateTable, value); }
TBaudRate TextToBaudRate(std::string_view text) { return FromText(kBaudRateTable, text, br9600); }
std::string_view StopBitsToText(TStopBits value) { return ToText(kStopBitsTable, value); }
TStopBits TextToStopBits(std::string_view text) { return FromText(kStopBitsTable, text, sbOneStopBit); }
std::string_view DataBitsToText(TDataBits value) { return ToText(kDataBitsTable, value); }
TDataBits TextToDataBits(std::string_view text) { return FromText(kDataBitsTable, text, dbEight); }
std::string_view ParityToText(TParityBits value) { return ToText(kParityTable, value); }
TParityBits TextToParity(std::string_view text) { return FromText(kParityTable, text, prNone); }
std::string_view FlowControlToText(TFlowControl value) { return ToText(kFlowControlTable, value); }
TFlowControl TextToFlowControl(std::string_view text) { return FromText(kFlowControlTable, text, fcCustom); }
std::string_view DTRToText(TDTRFlowControl value) { return ToText(kDTRTable, value); }
TDTRFlowControl TextToDTR(std::string_view text) { return FromText(kDTRTable, text, dtrDisable); }
std::string_view RTSToText(TRTSFlowControl value) { return ToText(kRTSTable, value); }
TRTSFlowControl TextToRTS(std::string_view text) { return FromText(kRTSTable, text, rtsDisable); }

DWORD EventsToMask(TComEvents events)
{
    DWORD mask = 0;
    for (const auto& row : kComEventTable)
        if (events.Contains(row.Member)) mask |= row.Flag;
    return mask;
}

TComEvents MaskToEvents(DWORD mask) { return FlagsToSet<TComEvents>(kComEventTable, mask); }

TComErrors LineErrorsToErrors(DWORD flags, bool parityCheck)
{
    TComErrors errors = FlagsToSet<TComErrors>(kComErrorTable, flags);
    if (!parityCheck) errors.Exclude(ceRxParity);
    return errors;
}

TModemSignals ModemStatusToSignals(DWORD status) { return FlagsToSet<TModemSignals>(kModemSignalTable, status); }

// ---- Settings objects ------------------------------------------------------------------------------

void TComParity::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TComParity*>(source);
    if (other == nullptr) return TComSettings::Assign(source);
    m_bits = other->m_bits;
    m_check.store(other->Check(), std::memory_order_relaxed);
    m_replace = other->m_replace;
    m_replaceChar = other->m_replaceChar;
}

void TComParity::SetCheck(bool value)
{
    if (Check() == value) return;
    m_check.store(value, std::memory_order_relaxed);
    Reapply();
}

TFlowControl TComFlowControl::FlowControl() const
{
    if (m_controlRTS == rtsHandshake && m_outCTSFlow && !m_xonXoffIn && !m_xonXoffOut) return fcHardware;
    if (m_controlRTS == rtsDisable && !m_outCTSFlow && m_xonXoffIn && m_xonXoffOut) return fcSoftware;
    if (m_controlRTS == rtsDisable && !m_outCTSFlow && !m_xonXoffIn && !m_xonXoffOut) return fcNone;
    return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value)
{
    if (value == fcHardware || value == fcSoftware || value == fcNone) {
        m_controlRTS = value == fcHardware ? rtsHandshake : rtsDisable;
        m_outCTSFlow = value == fcHardware;
        m_xonXoffIn = value == fcSoftware;
        m_xonXoffOut = value == fcSoftware;
    }
    Reapply();
}

void TComFlowControl::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TComFlowControl*>(source);
    if (other == nullptr) return TComSettings::Assign(source);
    m_outCTSFlow = other->m_outCTSFlow;
    m_outDSRFlow = other->m_outDSRFlow;
    m_controlDTR = other->m_controlDTR;
    m_controlRTS = other->m_controlRTS;
    m_xonXoffOut = other->m_xonXoffOut;
    m_xonXoffIn = other->m_xonXoffIn;
    m_dsrSensitivity = other->m_dsrSensitivity;
    m_txContinueOnXoff = other->m_txContinueOnXoff;
    m_xonChar = other->m_xonChar;
    m_xoffChar = other->m_xoffChar;
}

void TComTimeouts::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TComTimeouts*>(source);
    if (other == nullptr) return TComSettings::Assign(source);
    m_readInterval = other->m_readInterval;
    m_readTotalMultiplier = other->m_readTotalMultiplier;
    m_readTotalConstant = other->m_readTotalConstant;
    m_writeTotalMultiplier = other->m_writeTotalMultiplier;
    m_writeTotalConstant = other->m_writeTotalConstant;
}

void TComBuffer::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TComBuffer*>(source);
    if (other == nullptr) return TComSettings::Assign(source);
    m_inputSize = other->m_inputSize;
    m_outputSize = other->m_outputSize;
}

void TComBuffer::ChangeSize(std::int32_t& field, std::int32_t value)
{
    if (field == value) return;
    // Queues are kept to even sizes.
    field = (value > 0 && value % 2 != 0) ? value - 1 : value;
    Reapply();
}

// ---- Composing the device's structures -------------------------------------------------------------

device::DCB ComposeDCB(const TLineFields& line, const TComParity& parity, const TComFlowControl& flowControl,
                       const TComBuffer& buffer)
{
    device::DCB dcb; // DCBlength set, everything else zero
    dcb.BaudRate = line.BaudRate == brCustom ? static_cast<DWORD>(line.CustomBaudRate)
                                             : DeviceValue(kBaudRateTable, line.BaudRate);

    const bool errorChar = parity.Check() && parity.Replace();
    dcb.Flags = device::fBinary                                                                  //
                | FlagIf(parity.Check(), device::fParity)                                        //
                | FlagIf(flowControl.OutCTSFlow(), device::fOutxCtsFlow)                         //
                | FlagIf(flowControl.OutDSRFlow(), device::fOutxDsrFlow)                         //
                | (DeviceValue(kDTRTable, flowControl.ControlDTR()) << device::fDtrControlShift) //
                | FlagIf(flowControl.DSRSensitivity(), device::fDsrSensitivity)                  //
                | FlagIf(flowControl.TxContinueOnXoff(), device::fTXContinueOnXoff)              //
                | FlagIf(flowControl.XonXoffOut(), device::fOutX)                                //
                | FlagIf(flowControl.XonXoffIn(), device::fInX)                                  //
                | FlagIf(errorChar, device::fErrorChar)                                          //
                | FlagIf(line.DiscardNull, device::fNull)                                        //
                | (DeviceValue(kRTSTable, flowControl.ControlRTS()) << device::fRtsControlShift);

    const auto flowLimit = static_cast<std::uint16_t>(buffer.InputSize() / 4); // C++ division truncates toward zero
    dcb.XonLim = flowLimit;
    dcb.XoffLim = flowLimit;
    dcb.ByteSize = static_cast<std::uint8_t>(DeviceValue(kDataBitsTable, line.DataBits));
    dcb.Parity = static_cast<std::uint8_t>(DeviceValue(kParityTable, parity.Bits()));
    dcb.StopBits = static_cast<std::uint8_t>(DeviceValue(kStopBitsTable, line.StopBits));
    dcb.XonChar = flowControl.XonChar();
    dcb.XoffChar = flowControl.XoffChar();
    dcb.ErrorChar = errorChar ? parity.ReplaceChar() : 0;
    dcb.EvtChar = line.EventChar;
    return dcb;
}

device::COMMTIMEOUTS ComposeTimeouts(const TComTimeouts& timeouts)
{
    device::COMMTIMEOUTS result;
    result.ReadIntervalTimeout = static_cast<DWORD>(timeouts.ReadInterval());
    result.ReadTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.ReadTotalMultiplier());
    result.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.ReadTotalConstant());
    result.WriteTotalTimeoutMultiplier = static_cast<DWORD>(timeouts.WriteTotalMultiplier());
    result.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.WriteTotalConstant());
    return result;
}

} // namespace cport
