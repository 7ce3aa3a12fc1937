// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// varmio-log's publishing options (--mqtt and its companions) and the publisher they start.

#include "varmio/mqtt/Publisher.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <stdexcept>
#include <string>

namespace varmio::logger {

struct MqttSettings {
    std::string Address; // HOST[:PORT]; empty: no publishing
    std::string Prefix = "varmio";
    std::string User;
    std::string PasswordFile;
    bool Tls = false;
    std::string CaFile;
};

// A publishing option that cannot be used; the program ends with a usage error.
struct MqttUsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void AddMqttOptions(CLI::App& app, MqttSettings& settings);

// What the publisher is started with, or nothing without --mqtt: the address checked, the password
// read, the CA file found readable. Its reports go to standard error as lines of `program`. Throws
// MqttUsageError.
std::optional<mqtt::PublisherOptions> PublisherOptionsOf(const MqttSettings& settings, const char* program);

} // namespace varmio::logger
