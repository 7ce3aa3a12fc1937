// SPDX-License-Identifier: GPL-3.0-or-later
#include "cport/Registry.h"

#include <cstring>

namespace cport {

TRegistryValue TRegistryValue::Text(std::string name, std::string_view text)
{
    TRegistryValue value{std::move(name), kRegSz, {}};
    value.Data.reserve(text.size() + 1);
    value.Data.assign(text.begin(), text.end());
    value.Data.push_back(0);
    return value;
}

TRegistryValue TRegistryValue::Integer(std::string name, std::uint32_t number)
{
    TRegistryValue value{std::move(name), kRegDword, {}};
    for (int shift = 0; shift < 32; shift += 8) value.Data.push_back(static_cast<std::uint8_t>(number >> shift));
    return value;
}

long CopyRegistryValue(const TRegistryValue& value, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                       std::uint8_t* data, std::uint32_t& dataSize)
{
    const std::size_t nameCapacity = nameSize;
    const std::size_t dataCapacity = dataSize;
    // A value whose data cannot be reported in 32 bits cannot be copied either; report the most we can.
    dataSize = value.Data.size() > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(value.Data.size());
    if (value.Name.size() + 1 > nameCapacity || value.Data.size() > dataCapacity) return kErrorMoreData;

    std::memcpy(name, value.Name.data(), value.Name.size());
    name[value.Name.size()] = '\0';
    nameSize = static_cast<std::uint32_t>(value.Name.size());
    type = value.Type;
    if (!value.Data.empty()) std::memcpy(data, value.Data.data(), value.Data.size());
    return kErrorSuccess;
}

} // namespace cport
