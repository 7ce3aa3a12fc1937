// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The logger's decoded output: each frame as one readable line (--decode) or as one JSON object on
// a line of its own (--json, JSON Lines). Both read the frame through the core's data-ID table.
// Pure functions; any thread.

#include "varmio/Monitor.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace varmio::logger {

// What standard output shows: the record log (header and record lines), or every frame decoded.
enum class OutputFormat { Records, Decoded, Json };

// "<time>  kotel→termostat  READ-ACK        25 Tboiler: 54.90 °C  (raw 14054)"; the value's
// decimal separator is `decimalSeparator`.
std::string DecodedLine(const Frame& frame, std::string_view time, std::string_view decimalSeparator);

// {"time", "type", "type_name", "direction", "id", "name", "description", "fields", "unit", "units",
//  "text", "raw"}: fields maps each item's key to its value (numbers; f8.8 exact; flag bytes as objects
// of named bits; ID 20 as weekday, hour and minute), null for the answers that carry no value; unit is
// the single value's unit (null when the value has none or has several items), units each item's unit.
// An ID the table does not know has a null name and its two bytes as "hb" and "lb".
nlohmann::ordered_json FrameJson(const Frame& frame, std::string_view time);
// The object on one line. Text that is not UTF-8 (a --timestamp argument) is replaced, never thrown.
std::string FrameJsonLine(const Frame& frame, std::string_view time);

} // namespace varmio::logger
