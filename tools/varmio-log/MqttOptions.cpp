// SPDX-License-Identifier: GPL-3.0-or-later
#include "MqttOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace varmio::logger {

void AddMqttOptions(CLI::App& app, MqttSettings& settings)
{
    auto* mqtt = app.add_option("--mqtt", settings.Address,
                                "Publish the decoded values to the MQTT broker at HOST[:PORT] (port 1883, 8883 with "
                                "--mqtt-tls), with Home Assistant discovery")
                     ->option_text("HOST[:PORT]");
    app.add_option("--mqtt-prefix", settings.Prefix, "Topic prefix of the values and of PREFIX/status (default varmio)")
        ->option_text("PREFIX")
        ->needs(mqtt);
    auto* user =
        app.add_option("--mqtt-user", settings.User, "Log in to the broker as NAME")->option_text("NAME")->needs(mqtt);
    app.add_option("--mqtt-password-file", settings.PasswordFile,
                   "Read the broker password from the first line of FILE (never given on the command line)")
        ->option_text("FILE")
        ->needs(user);
    auto* tls =
        app.add_flag("--mqtt-tls", settings.Tls, "Talk to the broker over TLS, verifying its certificate")->needs(mqtt);
    app.add_option("--mqtt-cafile", settings.CaFile,
                   "Verify the broker's certificate with the CA certificate(s) in FILE (PEM) instead of the system's")
        ->option_text("FILE")
        ->needs(tls);
}

std::optional<mqtt::PublisherOptions> PublisherOptionsOf(const MqttSettings& settings, const char* program)
{
    if (settings.Address.empty()) return std::nullopt;
    std::string problem;
    const std::optional<mqtt::BrokerAddress> address = mqtt::ParseBrokerAddress(settings.Address, &problem);
    if (!address) throw MqttUsageError("--mqtt: " + problem);
    if (settings.Prefix.empty() || settings.Prefix.find_first_of("+#") != std::string::npos)
        throw MqttUsageError("--mqtt-prefix: \"" + settings.Prefix +
                             "\" is not a topic prefix (empty, or with + or #)");

    mqtt::PublisherOptions options;
    options.Host = address->Host;
    options.Port = address->Port.value_or(settings.Tls ? mqtt::kDefaultTlsPort : mqtt::kDefaultPort);
    options.Names.Prefix = settings.Prefix;
    options.Names.Version = VARMIO_VERSION;
    options.User = settings.User;
    try {
        if (!settings.PasswordFile.empty()) options.Password = mqtt::ReadPasswordFile(settings.PasswordFile);
    } catch (const std::runtime_error& e) {
        throw MqttUsageError(std::string("--mqtt-password-file: ") + e.what());
    }
    options.Tls = settings.Tls;
    options.CaFile = settings.CaFile;
    if (!options.CaFile.empty() && !std::ifstream(options.CaFile))
        throw MqttUsageError("--mqtt-cafile: cannot read " + options.CaFile + ": " + std::strerror(errno));
    options.Report = [program](const std::string& line) { std::fprintf(stderr, "%s: %s\n", program, line.c_str()); };
    return options;
}

} // namespace varmio::logger
