#include "varmio/NetRelays.h"

#include "cport/NetPort.h"
#include "cport/Persistence.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace varmio {

namespace {

constexpr const char* kSection = "NetRelays";
constexpr const char* kKeyPrefix = "Relay";

std::string ReadText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

std::filesystem::path UserConfigPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path folder;
    if (config != nullptr && std::filesystem::path(config).is_absolute()) {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::filesystem::path(home != nullptr ? home : "") / ".config";
    }
    return folder / "varmio" / "varmio.ini";
}

NetRelayList::NetRelayList(std::filesystem::path file) : m_file(std::move(file))
{
    cport::TMemIniFile ini(ReadText(m_file));
    for (const std::string& key : ini.ReadSection(kSection)) {
        const std::string name = ini.ReadString(kSection, key, "");
        if (cport::ParseNetPortName(name) && std::find(m_names.begin(), m_names.end(), name) == m_names.end())
            m_names.push_back(name);
    }
}

void NetRelayList::Add(const std::string& name)
{
    if (std::find(m_names.begin(), m_names.end(), name) != m_names.end()) return;
    m_names.push_back(name);
    try {
        std::filesystem::create_directories(m_file.parent_path());
        // The file is read again just before writing: whatever else it holds (other sections, keys
        // written by another copy of the program) is kept.
        cport::TIniFile ini(m_file.string());
        const std::vector<std::string> keys = ini.ReadSection(kSection);
        int number = static_cast<int>(keys.size()) + 1;
        while (std::find(keys.begin(), keys.end(), kKeyPrefix + std::to_string(number)) != keys.end()) ++number;
        ini.WriteString(kSection, kKeyPrefix + std::to_string(number), name);
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot store the network relays in " + m_file.string() + ": " + e.what());
    }
}

} // namespace varmio
