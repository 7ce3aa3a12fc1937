// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The network relays the user has added (port names such as rfc2217://boiler:2217), kept in the
// user's configuration file (UserConfig.h), section [NetRelays], one key per relay (Relay1, Relay2,
// ...), in the order added. Names in the file that are no valid network port name are passed over and
// left there.
//
// Threads: main thread only.

#include "varmio/UserConfig.h"

#include <filesystem>
#include <string>
#include <vector>

namespace varmio {

class NetRelayList {
public:
    // Reads the list; a missing or unreadable file gives an empty one.
    explicit NetRelayList(std::filesystem::path file = UserConfigPath());

    const std::vector<std::string>& Names() const { return m_names; }
    // Adds `name` (a valid network port name) unless the list has it, and stores the list. Throws
    // std::runtime_error naming the file when it cannot be written (the name is listed all the same).
    void Add(const std::string& name);

private:
    std::filesystem::path m_file;
    std::vector<std::string> m_names;
};

} // namespace varmio
