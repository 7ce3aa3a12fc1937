// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The OpenTherm application layer as the monitor reads it: the names of the message types, the one
// table of data IDs, and a decoder that turns a frame into typed values. This is a second reading of
// every frame beside the Monitor's eight values and record log, which it leaves exactly as they are.
//
// Constant data and pure functions only: callable from any thread. Texts are UTF-8; captions and
// descriptions are Czech (they appear in the window), keys are ASCII (they appear in JSON output).

#include "varmio/Monitor.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace varmio {

// ---- Message types ---------------------------------------------------------------------------

// Message types 0..3 travel from the thermostat (master) to the boiler (slave), 4..7 back. The relay
// forwards the type as a plain byte, so a damaged packet may carry any number: such a type has no
// name and no direction.
inline constexpr std::uint8_t kInvalidData = 2;
inline constexpr std::uint8_t kWriteAck = 5;
inline constexpr std::uint8_t kDataInvalid = 6;
inline constexpr std::uint8_t kUnknownDataId = 7;

enum class Direction : std::uint8_t { ThermostatToBoiler, BoilerToThermostat, Unknown };

// "READ-DATA", "WRITE-DATA", ... "UNKNOWN-DATAID"; empty for a type above 7.
std::string_view MessageTypeName(std::uint8_t msgType);
Direction MessageDirection(std::uint8_t msgType);
// "termostat→kotel", "kotel→termostat", or "?" for a type above 7.
std::string_view DirectionText(Direction direction);

// ---- The data-ID table -----------------------------------------------------------------------

// How a byte or the 16-bit data value is read. U16, S16 and F88 take both bytes; the others one.
// DayHour is the high byte of ID 20: weekday in bits 7..5 (1 Monday .. 7 Sunday, 0 unknown), hour in
// bits 4..0.
enum class ValueType : std::uint8_t { Unused, Flag8, U8, S8, U16, S16, F88, DayHour };

constexpr bool IsWide(ValueType type)
{
    return type == ValueType::U16 || type == ValueType::S16 || type == ValueType::F88;
}

// One bit of a flag byte: what it means when it is 1. An empty key marks a reserved bit.
struct FlagBit {
    std::string_view Key;
    std::string_view Caption;
};
using FlagBits = std::array<FlagBit, 8>;

// One item of a data value: a byte, or the whole 16-bit value when its type is wide.
struct FieldInfo {
    ValueType Type = ValueType::Unused;
    std::string_view Key;           // "value" for a whole 16-bit value
    std::string_view Caption;       // empty for a whole 16-bit value: the data ID's description says it
    std::string_view Unit;          // empty when the value has none (flags, counts, codes)
    const FlagBits* Bits = nullptr; // Flag8 only; null when every bit is reserved
};

// Which way the thermostat normally uses the ID.
enum class Access : std::uint8_t { Read, Write, ReadWrite };

struct DataIdInfo {
    std::uint8_t Id;
    std::string_view Name;        // the protocol's short name, ASCII ("Tboiler")
    std::string_view Description; // Czech
    Access Dir;
    std::string_view Since; // the protocol version that added it ("≤1.2" for the early ones)
    FieldInfo High;         // the high byte, or the whole value when its type is wide
    FieldInfo Low;          // the low byte; Unused when High is wide
};

// "čtení", "zápis", "čtení i zápis".
std::string_view AccessText(Access access);

// Every data ID of protocol 2.2 and the later ones monitors commonly meet, in ID order.
std::span<const DataIdInfo> DataIdTable();
// The table's row for `id`, or null for an ID the table does not list.
const DataIdInfo* FindDataId(std::uint8_t id);

// ---- Decoding --------------------------------------------------------------------------------

// One typed item of a decoded frame. Value holds: the byte for Flag8, U8 and DayHour; the signed
// number for S8 and S16; 0..65535 for U16; for F88 the raw signed 16-bit number, so that the exact
// value is Value / 256.
struct DecodedField {
    const FieldInfo* Info = nullptr;
    std::int32_t Value = 0;

    double F88() const { return Value / 256.0; }
    int Weekday() const { return (Value >> 5) & 7; } // DayHour only
    int Hour() const { return Value & 0x1F; }        // DayHour only
};

struct DecodedFrame {
    std::uint8_t MsgType = 0;
    std::uint8_t DataId = 0;
    std::uint16_t Raw = 0;                // ValueHigh * 256 + ValueLow
    const DataIdInfo* Info = nullptr;     // null: the ID is not in the table
    std::array<DecodedField, 2> Fields{}; // an unknown ID gives its two bytes as U8 fields
    std::uint8_t FieldCount = 0;

    std::span<const DecodedField> Values() const { return {Fields.data(), FieldCount}; }
    // DATA-INVALID and UNKNOWN-DATAID answers carry no value, whatever their data bytes hold.
    bool CarriesValue() const { return MsgType != kDataInvalid && MsgType != kUnknownDataId; }
};

// Decodes any frame; never fails. An ID missing from the table decodes as its two raw bytes.
DecodedFrame DecodeFrame(std::uint8_t msgType, std::uint8_t dataId, std::uint16_t raw);
inline DecodedFrame DecodeFrame(const Frame& frame)
{
    return DecodeFrame(frame.MsgType, frame.DataId, static_cast<std::uint16_t>(frame.DataValue));
}

// ---- Text forms ------------------------------------------------------------------------------

// An f8.8 value with exactly two decimals, rounded to the nearest hundredth (exact halves away from
// zero): 0x36E6 gives "54.90", 0xFE80 "-1.50". `decimalSeparator` replaces the point.
void AppendF88(std::string& out, std::int32_t raw, std::string_view decimalSeparator = ".");
// "Po", "Út", ... "Ne"; "?" for 0 (unknown) and out-of-range numbers.
std::string_view WeekdayText(int weekday);

// The decoded value on one line, units included: "54.90 °C", "7661", "Po 13:05",
// "Max. výkon kotle: 24 kW; Min. modulace: 10 %", flags as the captions of their set bits
// ("Topení povoleno, TUV povoleno", "žádný" when none is set). For the answers that carry no value:
// "neplatné" (DATA-INVALID) and "nepodporováno" (UNKNOWN-DATAID).
std::string FormatValue(const DecodedFrame& frame, std::string_view decimalSeparator = ".");
// Every flag of the frame's flag bytes, bit by bit, one per line ("Topení povoleno: ano"); the
// other fields follow as "Caption: value". Empty when the frame carries no value.
std::string FormatBits(const DecodedFrame& frame, std::string_view decimalSeparator = ".");

} // namespace varmio
