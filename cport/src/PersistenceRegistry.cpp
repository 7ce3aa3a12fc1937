// SPDX-License-Identifier: GPL-3.0-or-later
// The registry key held in memory, with the registry access layer's reading rules and errors.

#include <algorithm>
#include <cstring>

#include "AsciiCase.h"
#include "cport/Persistence.h"

namespace cport {

namespace {

[[noreturn]] void FailedToSet(const std::string& name)
{
    throw ERegistryException("Failed to set data for '" + name + "'");
}
[[noreturn]] void FailedToGet(const std::string& name)
{
    throw ERegistryException("Failed to get data for '" + name + "'");
}
[[noreturn]] void InvalidType(const std::string& name)
{
    throw ERegistryException("Invalid data type for '" + name + "'");
}

} // namespace

std::vector<TRegistryValue>::iterator TMemoryRegistry::Find(std::string_view name)
{
    return std::find_if(m_values.begin(), m_values.end(),
                        [&](const TRegistryValue& value) { return EqualIgnoringAsciiCase(value.Name, name); });
}

const TRegistryValue* TMemoryRegistry::FindValue(std::string_view name) const
{
    const auto it = const_cast<TMemoryRegistry*>(this)->Find(name);
    return it == m_values.end() ? nullptr : &*it;
}

void TMemoryRegistry::Store(TRegistryValue value)
{
    const auto it = Find(value.Name);
    if (it == m_values.end()) m_values.push_back(std::move(value));
    else *it = std::move(value); // the registry keeps the name as first written
}

void TMemoryRegistry::PutValue(TRegistryValue value) { Store(std::move(value)); }

bool TMemoryRegistry::DeleteValue(std::string_view name)
{
    const auto it = Find(name);
    if (it == m_values.end()) return false;
    m_values.erase(it);
    return true;
}

void TMemoryRegistry::WriteString(const std::string& Name, const std::string& Value)
{
    if (m_readOnly) FailedToSet(Name);
    Store(TRegistryValue::Text(Name, Value));
}

void TMemoryRegistry::WriteInteger(const std::string& Name, std::int32_t Value)
{
    if (m_readOnly) FailedToSet(Name);
    Store(TRegistryValue::Integer(Name, static_cast<std::uint32_t>(Value)));
}

std::string TMemoryRegistry::ReadString(const std::string& Name)
{
    const TRegistryValue* value = FindValue(Name);
    if (!value || value->Data.empty()) return {};
    if (value->Type != kRegSz && value->Type != kRegExpandSz) InvalidType(Name);
    const auto* begin = reinterpret_cast<const char*>(value->Data.data());
    return std::string(begin, strnlen(begin, value->Data.size()));
}

std::int32_t TMemoryRegistry::ReadInteger(const std::string& Name)
{
    const TRegistryValue* value = FindValue(Name);
    if (!value || value->Data.size() > sizeof(std::uint32_t)) FailedToGet(Name);
    if (value->Type != kRegDword) InvalidType(Name);
    // Little-endian, as REG_DWORD is; a shorter value reads as if padded with zero bytes.
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < value->Data.size(); ++i) number |= std::uint32_t{value->Data[i]} << (8 * i);
    return static_cast<std::int32_t>(number);
}

} // namespace cport
