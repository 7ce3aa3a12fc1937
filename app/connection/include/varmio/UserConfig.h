// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The user's configuration file: $XDG_CONFIG_HOME/varmio/varmio.ini, or ~/.config/varmio/varmio.ini
// when XDG_CONFIG_HOME is unset or not absolute. An ini file; every part of the program that keeps
// something for the user (the network relays, ...) has a section of its own in it, and a write keeps
// whatever else the file holds.
//
// Threads: main thread only.

#include "cport/Persistence.h"

#include <filesystem>
#include <memory>
#include <string>

namespace varmio {

std::filesystem::path UserConfigPath();

// The file's content; an empty document when the file is missing or cannot be read.
std::unique_ptr<cport::TMemIniFile> ReadUserConfig(const std::filesystem::path& file = UserConfigPath());

// Sets one value in the file (its folder made when missing), read again just before, so that what
// another copy of the program wrote meanwhile is kept. Throws std::runtime_error naming the file.
void WriteUserConfig(const std::string& section, const std::string& key, const std::string& value,
                     const std::filesystem::path& file = UserConfigPath());

} // namespace varmio
