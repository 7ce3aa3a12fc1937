// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A second, separately written model of what the logger must produce from a byte stream, used to
// check the real one byte for byte. It shares no code with the monitor core: its own packet
// scanner, its own rounding (by remainders of 10·m / 256), its own number text and its own
// Windows-1250 table. Keep it plain; its value is in being obviously right.

#include <cstdint>
#include <string>
#include <vector>

namespace varmio::reference {

struct Logs {
    std::string Records; // the record-log file bytes: Windows-1250, CR LF, header first
    std::string Raw;     // the raw-log file bytes
    std::string Stdout;  // UTF-8 header and record lines, each with LF, then "Frames: N"
    long Frames = 0;
};

// What the logger writes for `input` with the change-only filter on (or off when `all`), every
// line stamped with `stamp` (UTF-8), numbers with a point.
Logs Replay(const std::vector<std::uint8_t>& input, const std::string& stamp, bool all);

// Windows-1250 bytes of UTF-8 text; characters outside the code page become "?".
std::string Cp1250(const std::string& utf8);

} // namespace varmio::reference
