// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/UserConfig.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace varmio {

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

std::unique_ptr<cport::TMemIniFile> ReadUserConfig(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::make_unique<cport::TMemIniFile>(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

void WriteUserConfig(const std::string& section, const std::string& key, const std::string& value,
                     const std::filesystem::path& file)
{
    try {
        std::filesystem::create_directories(file.parent_path());
        cport::TIniFile ini(file.string()); // reads the file as it is now; each write replaces it whole
        ini.WriteString(section, key, value);
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot write " + file.string() + ": " + e.what());
    }
}

} // namespace varmio
