// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Registry terms shared by port enumeration and settings persistence: value types, result codes, one
// named value, and the copy rule of the registry's value enumeration. The numbers are the Win32 ones,
// so a registry-backed implementation hands them through unchanged.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cport {

// Value types (REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD).
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// Result codes of the registry calls (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
// ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS).
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNoMoreItems = 259;

// One named value of a key: its type and its raw data bytes (text as stored, with its terminating NUL).
struct TRegistryValue {
    std::string Name;               // the value's name
    std::uint32_t Type = kRegNone;  // its registry type (kRegSz, kRegDword, ...)
    std::vector<std::uint8_t> Data; // its bytes

    static TRegistryValue Text(std::string name, std::string_view text);  // REG_SZ, NUL added
    static TRegistryValue Integer(std::string name, std::uint32_t value); // REG_DWORD, 4 bytes LE
    friend bool operator==(const TRegistryValue&, const TRegistryValue&) = default;
};

// Copies one value out as the registry's value enumeration does: the name with a NUL into `name`
// (capacity `nameSize` characters), the type, the data into `data` (capacity `dataSize` bytes).
// Returns kErrorSuccess with `nameSize` = name length (without the NUL) and `dataSize` = data length,
// or kErrorMoreData when the name (with its NUL) or the data does not fit; then nothing is copied and
// `dataSize` holds the size the data needs.
long CopyRegistryValue(const TRegistryValue& value, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                       std::uint8_t* data, std::uint32_t& dataSize);

} // namespace cport
