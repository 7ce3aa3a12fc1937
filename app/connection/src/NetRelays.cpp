// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/NetRelays.h"

#include "varmio/UserConfig.h"

#include "cport/NetPort.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace varmio {

namespace {

constexpr const char* kSection = "NetRelays";
constexpr const char* kKeyPrefix = "Relay";

} // namespace

NetRelayList::NetRelayList(std::filesystem::path file) : m_file(std::move(file))
{
    const std::unique_ptr<cport::TMemIniFile> ini = ReadUserConfig(m_file);
    for (const std::string& key : ini->ReadSection(kSection)) {
        const std::string name = ini->ReadString(kSection, key, "");
        if (cport::ParseNetPortName(name) && std::find(m_names.begin(), m_names.end(), name) == m_names.end())
            m_names.push_back(name);
    }
}

void NetRelayList::Add(const std::string& name)
{
    if (std::find(m_names.begin(), m_names.end(), name) != m_names.end()) return;
    m_names.push_back(name);
    // The next free key of the section as the file holds it now (it may have been edited by hand).
    const std::vector<std::string> keys = ReadUserConfig(m_file)->ReadSection(kSection);
    int number = static_cast<int>(keys.size()) + 1;
    while (std::find(keys.begin(), keys.end(), kKeyPrefix + std::to_string(number)) != keys.end()) ++number;
    try {
        WriteUserConfig(kSection, kKeyPrefix + std::to_string(number), name, m_file);
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("cannot store the network relays: ") + e.what());
    }
}

} // namespace varmio
