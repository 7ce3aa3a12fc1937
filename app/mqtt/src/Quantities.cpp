// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/mqtt/Quantities.h"

#include <algorithm>
#include <array>
#include <vector>

namespace varmio::mqtt {
namespace {

// Data IDs whose value is one entry of a list the thermostat walks through by index: published as
// one topic, they would only flicker between unrelated entries.
constexpr std::array<std::uint8_t, 9> kIndexed{11, 13, 89, 91, 93, 94, 95, 106, 108};
// Whole numbers without a unit that only count up (until a reset).
constexpr std::array<std::uint8_t, 8> kCounters{97, 109, 113, 114, 116, 117, 118, 119};
// Whole fault-flag bytes: each bit is a problem when set.
constexpr std::array<std::uint8_t, 3> kFaultFlags{5, 72, 102};
// Configuration, versions, sizes and codes the user rarely looks at.
constexpr std::array<std::uint8_t, 23> kDiagnostic{2,  3,  4,  6,   10,  12,  73,  74,  75,  76,  86, 88,
                                                   90, 98, 99, 100, 103, 104, 105, 107, 115, 124, 125};

template <std::size_t N>
bool Listed(const std::array<std::uint8_t, N>& ids, std::uint8_t id)
{
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Lower case letters and digits, every run of anything else one "_".
std::string Slug(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += c;
        } else if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if (!out.empty() && out.back() != '_') {
            out += '_';
        }
    }
    if (!out.empty() && out.back() == '_') out.pop_back();
    return out;
}

struct HomeAssistantUnit {
    std::string_view Unit;
    std::string_view DeviceClass;
    std::string_view StateClass;
};

// The table's unit as Home Assistant spells it, with the device class it is valid for.
HomeAssistantUnit ForUnit(std::string_view unit)
{
    static constexpr std::array<std::pair<std::string_view, HomeAssistantUnit>, 11> kUnits{{
        {"°C", {"°C", "temperature", "measurement"}},
        {"%", {"%", "", "measurement"}}, // no generic percentage class
        {"bar", {"bar", "pressure", "measurement"}},
        {"l/min", {"L/min", "volume_flow_rate", "measurement"}},
        {"µA", {"µA", "", "measurement"}}, // older releases reject µA with the current class
        {"h", {"h", "duration", "total_increasing"}},
        {"W", {"W", "power", "measurement"}},
        {"kW", {"kW", "power", "measurement"}},
        {"kWh", {"kWh", "energy", "total_increasing"}},
        {"ppm", {"ppm", "carbon_dioxide", "measurement"}},
        {"Hz", {"Hz", "frequency", "measurement"}},
    }};
    for (const auto& [from, to] : kUnits)
        if (from == unit) return to;
    return {unit, "", unit.empty() ? "" : "measurement"};
}

std::string_view BitClass(std::uint8_t dataId, std::string_view key)
{
    if (Listed(kFaultFlags, dataId) || key == "fault") return "problem";
    if (key == "flame_on") return "heat";
    if (key.ends_with("_active")) return "running";
    return "";
}

struct Catalog {
    std::vector<Quantity> All;
    std::array<std::uint16_t, 257> Start{}; // All[Start[id] .. Start[id + 1]) are id's

    Catalog()
    {
        for (int id = 0; id < 256; ++id) {
            Start[static_cast<std::size_t>(id)] = static_cast<std::uint16_t>(All.size());
            const DataIdInfo* info = FindDataId(static_cast<std::uint8_t>(id));
            if (info != nullptr && !Listed(kIndexed, info->Id)) Add(*info);
        }
        Start[256] = static_cast<std::uint16_t>(All.size());
    }

    void Add(const DataIdInfo& info)
    {
        const std::string slug = Slug(info.Name);
        const std::array<const FieldInfo*, 2> fields{&info.High, &info.Low};
        const bool single = info.High.Type == ValueType::Unused || info.Low.Type == ValueType::Unused;
        const bool twoFlagBytes = info.High.Type == ValueType::Flag8 && info.Low.Type == ValueType::Flag8;
        const bool diagnostic = Listed(kDiagnostic, info.Id);
        for (std::uint8_t f = 0; f < 2; ++f) {
            const FieldInfo& field = *fields[f];
            Quantity q;
            q.DataId = info.Id;
            q.Field = static_cast<std::uint8_t>(single || IsWide(info.High.Type) ? 0 : f);
            q.Diagnostic = diagnostic;
            const std::string described = std::string(info.Description);
            switch (field.Type) {
            case ValueType::Unused: break;
            case ValueType::Flag8:
                if (field.Bits == nullptr) break;
                for (std::uint8_t bit = 0; bit < 8; ++bit) {
                    const FlagBit& flag = (*field.Bits)[bit];
                    if (flag.Key.empty()) continue;
                    Quantity b = q;
                    b.Of = Part::Bit;
                    b.Bit = bit;
                    b.Kind = Component::BinarySensor;
                    b.Object = slug + (twoFlagBytes ? "_" + std::string(field.Key) : "") + "_" + std::string(flag.Key);
                    b.Name = described + ": " + std::string(flag.Caption);
                    b.DeviceClass = BitClass(info.Id, flag.Key);
                    All.push_back(std::move(b));
                }
                break;
            case ValueType::DayHour:
                for (const Part part : {Part::Weekday, Part::Hour}) {
                    Quantity d = q;
                    d.Of = part;
                    d.Object = slug + (part == Part::Weekday ? "_weekday" : "_hour");
                    d.Name = described + (part == Part::Weekday ? ": den v týdnu" : ": hodina");
                    All.push_back(std::move(d));
                }
                break;
            default: {
                const HomeAssistantUnit unit = ForUnit(field.Unit);
                q.Object = single ? slug : slug + "_" + std::string(field.Key);
                q.Name = single || field.Caption.empty() ? described : described + ": " + std::string(field.Caption);
                q.Unit = unit.Unit;
                q.DeviceClass = unit.DeviceClass;
                q.StateClass = Listed(kCounters, info.Id) ? "total_increasing" : unit.StateClass;
                All.push_back(std::move(q));
            }
            }
            if (IsWide(field.Type)) break;
        }
    }
};

const Catalog& TheCatalog()
{
    static const Catalog catalog;
    return catalog;
}

} // namespace

std::span<const Quantity> Quantities() { return TheCatalog().All; }

std::span<const Quantity> QuantitiesOf(std::uint8_t dataId)
{
    const Catalog& c = TheCatalog();
    return std::span(c.All).subspan(c.Start[dataId], c.Start[dataId + 1u] - c.Start[dataId]);
}

bool CarriesPresentValue(std::uint8_t msgType) { return msgType == kReadAck || msgType == kWriteData; }

void QuantityValue(const Quantity& quantity, const DecodedFrame& frame, std::string& out)
{
    out.clear();
    const DecodedField& field = frame.Fields[quantity.Field];
    switch (quantity.Of) {
    case Part::Bit: out = (field.Value >> quantity.Bit) & 1 ? "ON" : "OFF"; return;
    case Part::Weekday: out += std::to_string(field.Weekday()); return;
    case Part::Hour: out += std::to_string(field.Hour()); return;
    case Part::Number: break;
    }
    if (field.Info != nullptr && field.Info->Type == ValueType::F88) AppendF88(out, field.Value);
    else out += std::to_string(field.Value);
}

std::string NodeId(std::string_view prefix)
{
    std::string node(prefix);
    for (char& c : node) {
        const bool kept =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!kept) c = '_';
    }
    return node;
}

std::string StateTopic(const Discovery& discovery, const Quantity& quantity)
{
    return discovery.Prefix + "/" + quantity.Object;
}

std::string AvailabilityTopic(const Discovery& discovery) { return discovery.Prefix + "/status"; }

std::string ConfigTopic(const Discovery& discovery, const Quantity& quantity)
{
    const char* component = quantity.Kind == Component::BinarySensor ? "/binary_sensor/" : "/sensor/";
    return discovery.DiscoveryPrefix + component + NodeId(discovery.Prefix) + "/" + quantity.Object + "/config";
}

nlohmann::json ConfigJson(const Discovery& discovery, const Quantity& quantity)
{
    const std::string node = NodeId(discovery.Prefix);
    nlohmann::json config = {
        {"name", quantity.Name},
        {"unique_id", node + "_" + quantity.Object},
        {"state_topic", StateTopic(discovery, quantity)},
        {"availability_topic", AvailabilityTopic(discovery)},
    };
    if (quantity.Kind == Component::BinarySensor) {
        config["payload_on"] = "ON";
        config["payload_off"] = "OFF";
    }
    if (!quantity.Unit.empty()) config["unit_of_measurement"] = quantity.Unit;
    if (!quantity.DeviceClass.empty()) config["device_class"] = quantity.DeviceClass;
    if (!quantity.StateClass.empty()) config["state_class"] = quantity.StateClass;
    if (quantity.Diagnostic) config["entity_category"] = "diagnostic";
    config["device"] = {
        {"identifiers", nlohmann::json::array({node})},
        {"name", discovery.Prefix == "varmio" ? std::string("Varmio") : "Varmio " + discovery.Prefix},
        {"model", "OpenTherm monitor"},
        {"sw_version", discovery.Version},
    };
    config["origin"] = {{"name", "varmio-log"}, {"sw_version", discovery.Version}};
    return config;
}

} // namespace varmio::mqtt
