// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/OpenTherm.h"

#include "Text.h"

namespace varmio {
namespace {

constexpr std::array<std::string_view, 8> kMessageTypeNames{
    "READ-DATA", "WRITE-DATA", "INVALID-DATA", "RESERVED", "READ-ACK", "WRITE-ACK", "DATA-INVALID", "UNKNOWN-DATAID",
};

constexpr std::uint8_t kFirstSlaveType = 4;

// An ID the table does not list is shown as its two bytes.
constexpr FieldInfo kRawHigh{ValueType::U8, "hb", "Horní bajt", {}, nullptr};
constexpr FieldInfo kRawLow{ValueType::U8, "lb", "Dolní bajt", {}, nullptr};

constexpr std::array<std::string_view, 8> kWeekdays{"?", "Po", "Út", "St", "Čt", "Pá", "So", "Ne"};

DecodedField Decode(const FieldInfo& info, std::uint16_t raw, std::uint8_t byte)
{
    DecodedField field;
    field.Info = &info;
    switch (info.Type) {
    case ValueType::S8: field.Value = byte < 0x80 ? byte : byte - 0x100; break; // two's complement
    case ValueType::U16: field.Value = raw; break;
    case ValueType::S16:
    case ValueType::F88: field.Value = static_cast<std::int16_t>(raw); break;
    default: field.Value = byte; break;
    }
    return field;
}

void AppendTwoDigits(std::string& out, int value)
{
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

void AppendFlags(std::string& out, const DecodedField& field)
{
    bool any = false;
    for (int bit = 0; bit < 8; ++bit) {
        if (((field.Value >> bit) & 1) == 0) continue;
        if (any) out += ", ";
        any = true;
        const FlagBit* named =
            field.Info->Bits != nullptr ? &(*field.Info->Bits)[static_cast<std::size_t>(bit)] : nullptr;
        if (named != nullptr && !named->Key.empty()) {
            out += named->Caption;
        } else {
            out += "bit ";
            detail::AppendDecimal(out, bit);
        }
    }
    if (!any) out += "žádný";
}

// The field's value with its unit, without its caption.
void AppendField(std::string& out, const DecodedField& field, std::string_view decimalSeparator)
{
    switch (field.Info->Type) {
    case ValueType::Flag8: AppendFlags(out, field); return;
    case ValueType::F88: AppendF88(out, field.Value, decimalSeparator); break;
    case ValueType::DayHour:
        out += WeekdayText(field.Weekday());
        out += ' ';
        AppendTwoDigits(out, field.Hour());
        out += " h";
        break;
    default: detail::AppendDecimal(out, field.Value); break;
    }
    if (!field.Info->Unit.empty()) {
        out += ' ';
        out += field.Info->Unit;
    }
}

bool IsDayTime(const DecodedFrame& frame)
{
    return frame.FieldCount == 2 && frame.Fields[0].Info->Type == ValueType::DayHour;
}

} // namespace

std::string_view MessageTypeName(std::uint8_t msgType)
{
    return msgType < kMessageTypeNames.size() ? kMessageTypeNames[msgType] : std::string_view{};
}

Direction MessageDirection(std::uint8_t msgType)
{
    if (msgType >= kMessageTypeNames.size()) return Direction::Unknown;
    return msgType < kFirstSlaveType ? Direction::ThermostatToBoiler : Direction::BoilerToThermostat;
}

std::string_view DirectionText(Direction direction)
{
    switch (direction) {
    case Direction::ThermostatToBoiler: return "termostat→kotel";
    case Direction::BoilerToThermostat: return "kotel→termostat";
    case Direction::Unknown: break;
    }
    return "?";
}

std::string_view AccessText(Access access)
{
    switch (access) {
    case Access::Read: return "čtení";
    case Access::Write: return "zápis";
    case Access::ReadWrite: break;
    }
    return "čtení i zápis";
}

DecodedFrame DecodeFrame(std::uint8_t msgType, std::uint8_t dataId, std::uint16_t raw)
{
    DecodedFrame frame;
    frame.MsgType = msgType;
    frame.DataId = dataId;
    frame.Raw = raw;
    frame.Info = FindDataId(dataId);
    const auto high = static_cast<std::uint8_t>(raw >> 8);
    const auto low = static_cast<std::uint8_t>(raw & 0xFF);
    if (frame.Info == nullptr) {
        frame.Fields[0] = Decode(kRawHigh, raw, high);
        frame.Fields[1] = Decode(kRawLow, raw, low);
        frame.FieldCount = 2;
        return frame;
    }
    if (frame.Info->High.Type != ValueType::Unused)
        frame.Fields[frame.FieldCount++] = Decode(frame.Info->High, raw, high);
    if (frame.Info->Low.Type != ValueType::Unused) frame.Fields[frame.FieldCount++] = Decode(frame.Info->Low, raw, low);
    return frame;
}

void AppendF88(std::string& out, std::int32_t raw, std::string_view decimalSeparator)
{
    const std::int32_t value = static_cast<std::int16_t>(raw & 0xFFFF);
    const std::int32_t magnitude = value < 0 ? -value : value;
    // 100 * magnitude / 256 to the nearest integer, exact halves away from zero.
    const std::int32_t hundredths = (magnitude * 100 + 128) / 256;
    if (value < 0 && hundredths != 0) out += '-';
    detail::AppendDecimal(out, hundredths / 100);
    out += decimalSeparator;
    AppendTwoDigits(out, hundredths % 100);
}

std::string_view WeekdayText(int weekday)
{
    return weekday >= 1 && weekday < static_cast<int>(kWeekdays.size()) ? kWeekdays[static_cast<std::size_t>(weekday)]
                                                                        : kWeekdays[0];
}

std::string FormatValue(const DecodedFrame& frame, std::string_view decimalSeparator)
{
    if (frame.MsgType == kDataInvalid) return "neplatné";
    if (frame.MsgType == kUnknownDataId) return "nepodporováno";
    std::string out;
    if (IsDayTime(frame)) {
        out += WeekdayText(frame.Fields[0].Weekday());
        out += ' ';
        detail::AppendDecimal(out, frame.Fields[0].Hour());
        out += ':';
        AppendTwoDigits(out, frame.Fields[1].Value);
        return out;
    }
    for (const DecodedField& field : frame.Values()) {
        if (&field != frame.Fields.data()) out += "; ";
        if (frame.FieldCount > 1) {
            out += field.Info->Caption;
            out += ": ";
        }
        AppendField(out, field, decimalSeparator);
    }
    return out;
}

std::string FormatBits(const DecodedFrame& frame, std::string_view decimalSeparator)
{
    std::string out;
    if (!frame.CarriesValue()) return out;
    const auto newLine = [&out] {
        if (!out.empty()) out += '\n';
    };
    for (const DecodedField& field : frame.Values()) {
        if (field.Info->Type != ValueType::Flag8) {
            newLine();
            out += field.Info->Caption.empty() && frame.Info != nullptr ? frame.Info->Description : field.Info->Caption;
            out += ": ";
            AppendField(out, field, decimalSeparator);
            continue;
        }
        for (int bit = 0; bit < 8; ++bit) {
            const bool set = ((field.Value >> bit) & 1) != 0;
            const FlagBit* named =
                field.Info->Bits != nullptr ? &(*field.Info->Bits)[static_cast<std::size_t>(bit)] : nullptr;
            const bool reserved = named == nullptr || named->Key.empty();
            if (reserved && !set) continue; // a reserved bit is worth a line only when it is set
            newLine();
            out += field.Info->Caption;
            out += " – ";
            if (reserved) {
                out += "bit ";
                detail::AppendDecimal(out, bit);
                out += " (rezerva)";
            } else {
                out += named->Caption;
            }
            out += set ? ": ano" : ": ne";
        }
    }
    return out;
}

} // namespace varmio
