// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Mosquitto.h"

#include "support/Eventually.h"
#include "support/NetTestSupport.h"

#include <mosquitto.h>

#include <csignal>
#include <mutex>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <pwd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace varmio::test {
namespace {

using namespace std::chrono_literals;

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string Program(const std::string& name)
{
    for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/usr/local/sbin/", "/usr/local/bin/"})
        if (::access((folder + name).c_str(), X_OK) == 0) return folder + name;
    throw std::runtime_error(name + " is not installed (scripts/install-deps.sh installs it)");
}

// A client whose loop runs on the caller's thread.
struct Client {
    mosquitto* Mosq = nullptr;

    Client(int port, void* self)
    {
        static std::once_flag ready;
        std::call_once(ready, [] { mosquitto_lib_init(); });
        Mosq = mosquitto_new(nullptr, true, self);
        if (Mosq == nullptr || mosquitto_connect(Mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) Close();
    }
    ~Client() { Close(); }
    void Close()
    {
        if (Mosq != nullptr) mosquitto_destroy(Mosq);
        Mosq = nullptr;
    }
    // Runs the loop until `done()` or the deadline.
    template <class Done>
    bool LoopUntil(Done done, std::chrono::milliseconds patience)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline || mosquitto_loop(Mosq, 20, 1) != MOSQ_ERR_SUCCESS)
                return false;
        }
        return true;
    }
};

} // namespace

MosquittoBroker::MosquittoBroker(BrokerOptions options) : m_port(FreeLoopbackPort())
{
    // Started by root, the broker would drop to its own user, who may not enter the folder.
    const passwd* me = ::getpwuid(::geteuid());
    std::string config = "listener " + std::to_string(m_port) +
                         " 127.0.0.1\npersistence false\n"
                         "user " +
                         std::string(me != nullptr ? me->pw_name : "root") +
                         "\n"
                         "log_dest file " +
                         m_dir / "broker.log" + "\nlog_type all\n";
    if (options.User.empty()) {
        config += "allow_anonymous true\n";
    } else {
        ChildProcess passwd(Program("mosquitto_passwd"),
                            {"-c", "-b", m_dir / "passwords", options.User, options.Password},
                            {"/dev/null", "-", "-", false});
        if (passwd.Wait() != 0) throw std::runtime_error("mosquitto_passwd failed");
        config += "allow_anonymous false\npassword_file " + m_dir / "passwords" + "\n";
    }
    if (options.Tls) {
        // A certificate authority and a server certificate it signed, both good for a day.
        const std::string ec = "ec", curve = "ec_paramgen_curve:prime256v1";
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"req", "-x509", "-newkey", ec, "-pkeyopt", curve, "-nodes", "-days", "1",
                                       "-subj", "/CN=test authority", "-keyout", m_dir / "ca.key", "-out",
                                       m_dir / "ca.crt"},
              std::vector<std::string>{"req",     "-newkey",
                                       ec,        "-pkeyopt",
                                       curve,     "-nodes",
                                       "-days",   "1",
                                       "-subj",   "/CN=127.0.0.1",
                                       "-addext", "subjectAltName=IP:127.0.0.1",
                                       "-addext", "basicConstraints=critical,CA:FALSE",
                                       "-CA",     m_dir / "ca.crt",
                                       "-CAkey",  m_dir / "ca.key",
                                       "-keyout", m_dir / "server.key",
                                       "-out",    m_dir / "server.crt"}}) {
            ChildProcess openssl(Program("openssl"), args, {"/dev/null", "/dev/null", m_dir / "openssl.err", false});
            if (openssl.Wait() != 0) throw std::runtime_error("openssl failed: " + ReadFile(m_dir / "openssl.err"));
        }
        do m_tlsPort = FreeLoopbackPort();
        while (m_tlsPort == m_port);
        config += "listener " + std::to_string(m_tlsPort) + " 127.0.0.1\ncafile " + m_dir / "ca.crt" + "\ncertfile " +
                  m_dir / "server.crt" + "\nkeyfile " + m_dir / "server.key" + "\n";
    }
    if (!WriteFile(m_dir / "mosquitto.conf", config)) throw std::runtime_error("cannot write the broker's config");
    Start();
}

MosquittoBroker::~MosquittoBroker() { Stop(); }

std::string MosquittoBroker::Log() const { return ReadFile(m_dir / "broker.log"); }

void MosquittoBroker::Start()
{
    m_process =
        std::make_unique<ChildProcess>(Program("mosquitto"), std::vector<std::string>{"-c", m_dir / "mosquitto.conf"},
                                       ChildOptions{"/dev/null", m_dir / "broker.out", m_dir / "broker.err", false});
    bool ended = false;
    if (!Eventually([&] { return Accepts(m_port) || (ended = m_process->Wait(std::chrono::milliseconds(0)) != -1); }) ||
        ended)
        throw std::runtime_error("the broker did not start: " + ReadFile(m_dir / "broker.err"));
}

void MosquittoBroker::Stop()
{
    if (!m_process) return;
    m_process->Signal(SIGTERM);
    m_process->Wait();
    m_process.reset();
}

std::map<std::string, std::string> RetainedMessages(int port, const std::string& filter)
{
    struct Read {
        std::map<std::string, std::string> Retained;
        std::string Probe = "varmio-test/probe/" + std::to_string(::getpid());
        bool Subscribed = false;
        bool ProbeBack = false;
    } read;
    const auto fail = [&](const char* what) {
        return std::runtime_error("cannot read the broker at port " + std::to_string(port) + ": " + what);
    };
    Client client(port, &read);
    if (client.Mosq == nullptr) throw fail("no connection");
    mosquitto_subscribe_callback_set(
        client.Mosq, [](mosquitto*, void* self, int, int, const int*) { static_cast<Read*>(self)->Subscribed = true; });
    mosquitto_message_callback_set(client.Mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        Read& r = *static_cast<Read*>(self);
        if (r.Probe == m->topic) r.ProbeBack = true;
        else if (m->retain)
            r.Retained[m->topic] =
                std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
    });
    const char* const topics[] = {filter.c_str(), read.Probe.c_str()};
    if (mosquitto_subscribe_multiple(client.Mosq, nullptr, 2, const_cast<char* const*>(topics), 1, 0, nullptr) !=
            MOSQ_ERR_SUCCESS ||
        !client.LoopUntil([&] { return read.Subscribed; }, 10s))
        throw fail("no subscription");
    mosquitto_publish(client.Mosq, nullptr, read.Probe.c_str(), 1, "-", 1, false);
    if (!client.LoopUntil([&] { return read.ProbeBack; }, 10s)) throw fail("the probe did not come back");
    return read.Retained;
}

bool PublishMessage(int port, const std::string& topic, const std::string& payload, bool retain)
{
    bool sent = false;
    Client client(port, &sent);
    if (client.Mosq == nullptr) return false;
    mosquitto_publish_callback_set(client.Mosq, [](mosquitto*, void* self, int) { *static_cast<bool*>(self) = true; });
    mosquitto_publish(client.Mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, retain);
    return client.LoopUntil([&] { return sent; }, 10s);
}

struct Subscription::State {
    std::mutex Mutex;
    std::map<std::string, std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>>> Received;
    std::string Filter;
    mosquitto* Mosq = nullptr;
};

Subscription::Subscription(int port, const std::string& filter) : m_state(std::make_unique<State>())
{
    static std::once_flag ready;
    std::call_once(ready, [] { mosquitto_lib_init(); });
    State& s = *m_state;
    s.Filter = filter;
    s.Mosq = mosquitto_new(nullptr, true, &s);
    if (s.Mosq == nullptr) throw std::runtime_error("no MQTT client");
    mosquitto_connect_callback_set(s.Mosq, [](mosquitto* m, void* self, int rc) {
        if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<State*>(self)->Filter.c_str(), 1);
    });
    mosquitto_message_callback_set(s.Mosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        State& state = *static_cast<State*>(self);
        std::lock_guard lock(state.Mutex);
        state.Received[m->topic].emplace_back(
            std::chrono::steady_clock::now(),
            std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)));
    });
    mosquitto_reconnect_delay_set(s.Mosq, 1, 1, false);
    if (mosquitto_connect(s.Mosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(s.Mosq) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("cannot subscribe at port " + std::to_string(port));
}

Subscription::~Subscription()
{
    mosquitto_disconnect(m_state->Mosq);
    mosquitto_loop_stop(m_state->Mosq, false);
    mosquitto_destroy(m_state->Mosq);
}

bool Subscription::WaitFor(const std::string& topic, const std::string& payload, std::chrono::milliseconds patience)
{
    return Eventually(
        [&] {
            std::lock_guard lock(m_state->Mutex);
            const auto& got = m_state->Received[topic];
            return !got.empty() && got.back().second == payload;
        },
        patience);
}

std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>>
Subscription::History(const std::string& topic)
{
    std::lock_guard lock(m_state->Mutex);
    return m_state->Received[topic];
}

} // namespace varmio::test
