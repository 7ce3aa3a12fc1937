// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the publisher makes of the decoded frames: every item of the data-ID table that has a present
// value becomes a quantity with its own topic (a number, or ON/OFF for one bit of a flag byte), and a
// Home Assistant entity described by a discovery config.
//
// Constant data and pure functions only: callable from any thread.

#include "varmio/OpenTherm.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace varmio::mqtt {

enum class Component : std::uint8_t { Sensor, BinarySensor };

// Which part of a decoded field the quantity is.
enum class Part : std::uint8_t { Number, Bit, Weekday, Hour };

struct Quantity {
    std::uint8_t DataId = 0;
    std::uint8_t Field = 0; // index into DecodedFrame::Fields
    Part Of = Part::Number;
    std::uint8_t Bit = 0; // Part::Bit only
    Component Kind = Component::Sensor;
    std::string Object;           // the topic's last level and the entity's object id: [a-z0-9_]
    std::string Name;             // the entity's name (Czech, UTF-8)
    std::string_view Unit;        // as Home Assistant spells it; empty for none
    std::string_view DeviceClass; // empty for none
    std::string_view StateClass;  // empty for none
    bool Diagnostic = false;      // a secondary entity: configuration, versions, codes
};

// Every quantity, grouped by data ID in ID order. Data IDs whose value means something else for
// every index (parameter and fault-history entries, brand characters) have none.
std::span<const Quantity> Quantities();
// The quantities of `dataId`; empty for an ID that has none.
std::span<const Quantity> QuantitiesOf(std::uint8_t dataId);

// Whether the frame carries the present value of its data ID: the boiler's READ-ACK, or the
// thermostat's WRITE-DATA.
bool CarriesPresentValue(std::uint8_t msgType);

// The quantity's value in `frame` (decoded from the quantity's data ID): an f8.8 value with two
// decimals ("54.90", "-1.50"), a whole number, or "ON"/"OFF". `out` is replaced.
void QuantityValue(const Quantity& quantity, const DecodedFrame& frame, std::string& out);

// Where the configs go and what they name.
struct Discovery {
    std::string Prefix = "varmio"; // the values' topics: PREFIX/<object>, availability PREFIX/status
    std::string DiscoveryPrefix = "homeassistant";
    std::string Version; // the program's version, for the device block
};

// The node id for the prefix: its characters outside [A-Za-z0-9_-] replaced by "_".
std::string NodeId(std::string_view prefix);
std::string StateTopic(const Discovery& discovery, const Quantity& quantity);
std::string AvailabilityTopic(const Discovery& discovery);
// DISCOVERY_PREFIX/sensor|binary_sensor/<node id>/<object>/config
std::string ConfigTopic(const Discovery& discovery, const Quantity& quantity);
// The config object: name, unique id (<node id>_<object>), state and availability topics, unit,
// device class, state class, entity category, the device block (one device per prefix) and origin.
nlohmann::json ConfigJson(const Discovery& discovery, const Quantity& quantity);

} // namespace varmio::mqtt
