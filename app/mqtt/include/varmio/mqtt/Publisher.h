// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Publishes the decoded values to an MQTT broker, for home automation: each quantity retained on its
// own topic when it changes (at most once a second per topic), availability on PREFIX/status
// ("online"; "offline" as the last will and on a clean end), and a Home Assistant discovery config
// per quantity, sent again whenever Home Assistant announces itself on DISCOVERY_PREFIX/status.
//
// The broker is served by a thread of the publisher's own, which connects and reconnects with
// back-off. Post hands a frame over without ever waiting: the latest frame of each data ID sits in a
// fixed table of atomics, so memory is bounded by the number of data IDs however long the broker is
// away; what it held is published when the broker is back.
//
// Post may be called from one thread at a time; Finish and the destructor from the thread that made
// the publisher. Report is called on the publisher's thread.

#include "varmio/Monitor.h"
#include "varmio/mqtt/Quantities.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace varmio::mqtt {

inline constexpr int kDefaultPort = 1883;
inline constexpr int kDefaultTlsPort = 8883;

struct BrokerAddress {
    std::string Host;
    std::optional<int> Port; // none given
};

// "HOST", "HOST:PORT", "[IPv6]" or "[IPv6]:PORT"; port 1..65535. On failure, nullopt and `problem`
// says why.
std::optional<BrokerAddress> ParseBrokerAddress(std::string_view text, std::string* problem);

// The first line of a password file, without its line end. Throws std::runtime_error naming the file
// when it cannot be read or the line is empty.
std::string ReadPasswordFile(const std::string& path);

struct PublisherOptions {
    std::string Host;
    int Port = kDefaultPort;
    Discovery Names;
    std::string User;     // empty: no user name
    std::string Password; // used only with a user
    bool Tls = false;
    std::string CaFile;                              // empty with Tls: the system's certificate folder
    std::chrono::milliseconds MinInterval{1000};     // between two publishes of one topic
    std::chrono::milliseconds MaxBackoff{16'000};    // the longest pause between connection attempts
    std::chrono::milliseconds FinishPatience{5'000}; // how long Finish waits for the broker
    // A line for the user: a connection failure (once until the next success), a connection regained
    // after a failure, a lost connection. Without the program's name; no line end.
    std::function<void(const std::string& line)> Report;
};

class Publisher {
public:
    // Starts the publisher's thread. Throws std::runtime_error when the options cannot be used
    // (a CA file that cannot be read); an unreachable broker is reported, not thrown.
    explicit Publisher(PublisherOptions options);
    ~Publisher(); // Finish, unless done
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Takes a frame from the bus. Never blocks, never allocates.
    void Post(const Frame& frame) noexcept;

    // Publishes what is still held and "offline", disconnects cleanly and ends the thread. Waits at
    // most FinishPatience for a broker that is being connected or is slow; with the broker away it
    // returns at once. Values not yet published are then lost, as the broker is not there to hold them.
    void Finish();

    struct Core; // shared with the publisher's thread, which may outlive a Finish that gave up waiting

private:
    std::shared_ptr<Core> m_core;
    std::thread m_thread;
    bool m_finished = false;
};

} // namespace varmio::mqtt
