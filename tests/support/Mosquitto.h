// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A real mosquitto broker for one test fixture, on a free loopback port, configured from a file in
// a temporary folder (persistence off, anonymous clients or a password file, and on request a second,
// TLS listener with a throw-away certificate authority); and a small client that reads what the broker
// holds (on the plain listener).

#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <poll.h>

namespace varmio::test {

struct BrokerOptions {
    std::string User; // with a password: clients must log in as this user
    std::string Password;
    bool Tls = false; // also listen with TLS, on TlsPort(), with a server certificate for 127.0.0.1
};

class MosquittoBroker {
public:
    // Starts the broker and waits until it accepts connections; throws std::runtime_error when it
    // cannot be started.
    explicit MosquittoBroker(BrokerOptions options = {});
    ~MosquittoBroker();

    int Port() const { return m_port; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
    // With Tls: the TLS listener's address, and the certificate of the authority that signed its
    // certificate (made by `openssl` for this broker alone).
    std::string TlsAddress() const { return "127.0.0.1:" + std::to_string(m_tlsPort); }
    std::string CaFile() const { return m_dir / "ca.crt"; }
    // The broker's log (every connection, refusal and disconnection).
    std::string Log() const;

    // Ends the broker (its retained messages go with it) and starts it again on the same port.
    void Stop();
    void Start();

private:
    TempDir m_dir;
    int m_port = 0;
    int m_tlsPort = 0;
    std::unique_ptr<ChildProcess> m_process;
};

// What the broker holds retained under the topic filter `filter` ("varmio/#"), by topic: read by
// subscribing, then sending a message to itself, which comes after all retained ones. Throws
// std::runtime_error when the broker cannot be read.
std::map<std::string, std::string> RetainedMessages(int port, const std::string& filter);

// Reads what the broker holds every 50 ms until `done(held)`; false at the deadline. A broker that
// cannot be read (one being restarted) holds nothing yet. For what a client has sent: the broker
// may still be working through it when the client is gone.
template <class Done>
bool EventuallyRetained(int port, const std::string& filter, Done done,
                        std::chrono::milliseconds patience = std::chrono::seconds(60))
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        std::map<std::string, std::string> held;
        try {
            held = RetainedMessages(port, filter);
        } catch (const std::runtime_error&) {
        }
        if (done(held)) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        ::poll(nullptr, 0, 50);
    }
}

// Publishes one message (QoS 1) and waits until it has left.
bool PublishMessage(int port, const std::string& topic, const std::string& payload, bool retain);

// Collects the messages arriving under a topic filter, on a thread of its own, from its construction
// on (retained ones first).
class Subscription {
public:
    Subscription(int port, const std::string& filter);
    ~Subscription();
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    // Waits until `topic` has received `payload` (as its latest message); false at the deadline.
    bool WaitFor(const std::string& topic, const std::string& payload,
                 std::chrono::milliseconds patience = std::chrono::seconds(30));
    // Every payload `topic` received so far, with its arrival time.
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> History(const std::string& topic);

    struct State;

private:
    std::unique_ptr<State> m_state;
};

} // namespace varmio::test
