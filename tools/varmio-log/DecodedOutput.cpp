// SPDX-License-Identifier: GPL-3.0-or-later
#include "DecodedOutput.h"

#include "varmio/OpenTherm.h"

#include <algorithm>

namespace varmio::logger {
namespace {

constexpr std::size_t kTypeColumnWidth = 14; // "UNKNOWN-DATAID"

std::string TypeText(std::uint8_t msgType)
{
    const std::string_view name = MessageTypeName(msgType);
    return name.empty() ? "TYPE-" + std::to_string(msgType) : std::string(name);
}

nlohmann::ordered_json FieldValue(const DecodedField& field)
{
    switch (field.Info->Type) {
    case ValueType::F88: return field.F88();
    case ValueType::Flag8: {
        nlohmann::ordered_json bits = nlohmann::ordered_json::object();
        for (int bit = 0; bit < 8; ++bit) {
            const bool set = ((field.Value >> bit) & 1) != 0;
            const FlagBit* named =
                field.Info->Bits != nullptr ? &(*field.Info->Bits)[static_cast<std::size_t>(bit)] : nullptr;
            if (named != nullptr && !named->Key.empty()) bits[std::string(named->Key)] = set;
            else if (set) bits["bit" + std::to_string(bit)] = true; // a reserved bit only when set
        }
        return bits;
    }
    default: return field.Value;
    }
}

} // namespace

std::string DecodedLine(const Frame& frame, std::string_view time, std::string_view decimalSeparator)
{
    const DecodedFrame decoded = DecodeFrame(frame);
    std::string line(time);
    line += "  ";
    line += DirectionText(MessageDirection(frame.MsgType));
    line += "  ";
    const std::string type = TypeText(frame.MsgType);
    line += type;
    line.append(kTypeColumnWidth - std::min(kTypeColumnWidth, type.size()) + 1, ' ');
    const std::string id = std::to_string(frame.DataId);
    line.append(3 - std::min<std::size_t>(3, id.size()), ' ');
    line += id;
    line += ' ';
    line += decoded.Info != nullptr ? decoded.Info->Name : std::string_view("?");
    line += ": ";
    line += FormatValue(decoded, decimalSeparator);
    line += "  (raw ";
    line += std::to_string(decoded.Raw);
    line += ')';
    return line;
}

nlohmann::ordered_json FrameJson(const Frame& frame, std::string_view time)
{
    const DecodedFrame decoded = DecodeFrame(frame);
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    out["time"] = std::string(time);
    out["type"] = frame.MsgType;
    const std::string_view typeName = MessageTypeName(frame.MsgType);
    out["type_name"] = typeName.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(std::string(typeName));
    switch (MessageDirection(frame.MsgType)) {
    case Direction::ThermostatToBoiler: out["direction"] = "thermostat_to_boiler"; break;
    case Direction::BoilerToThermostat: out["direction"] = "boiler_to_thermostat"; break;
    case Direction::Unknown: out["direction"] = nullptr; break;
    }
    out["id"] = frame.DataId;
    out["name"] =
        decoded.Info != nullptr ? nlohmann::ordered_json(std::string(decoded.Info->Name)) : nlohmann::ordered_json();
    out["description"] = decoded.Info != nullptr ? nlohmann::ordered_json(std::string(decoded.Info->Description))
                                                 : nlohmann::ordered_json();

    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    nlohmann::ordered_json units = nlohmann::ordered_json::object();
    for (const DecodedField& field : decoded.Values()) {
        if (field.Info->Type == ValueType::DayHour) {
            fields["weekday"] = field.Weekday();
            fields["hour"] = field.Hour();
            continue;
        }
        fields[std::string(field.Info->Key)] = FieldValue(field);
        if (!field.Info->Unit.empty()) units[std::string(field.Info->Key)] = std::string(field.Info->Unit);
    }
    out["fields"] = decoded.CarriesValue() ? fields : nlohmann::ordered_json();
    const bool single = decoded.FieldCount == 1 && !decoded.Fields[0].Info->Unit.empty();
    out["unit"] = single ? nlohmann::ordered_json(std::string(decoded.Fields[0].Info->Unit)) : nlohmann::ordered_json();
    out["units"] = units;
    out["text"] = FormatValue(decoded);
    out["raw"] = decoded.Raw;
    return out;
}

std::string FrameJsonLine(const Frame& frame, std::string_view time)
{
    return FrameJson(frame, time).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace varmio::logger
