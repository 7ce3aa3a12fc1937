// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/mqtt/Publisher.h"

#include <mosquitto.h>

#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <stdexcept>
#include <vector>

namespace varmio::mqtt {

std::optional<BrokerAddress> ParseBrokerAddress(std::string_view text, std::string* problem)
{
    auto fail = [&](std::string why) -> std::optional<BrokerAddress> {
        if (problem != nullptr) *problem = "\"" + std::string(text) + "\" is not HOST[:PORT]: " + std::move(why);
        return std::nullopt;
    };
    BrokerAddress address;
    std::string_view port;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return fail("the \"[\" of an IPv6 address is not closed");
        address.Host = text.substr(1, close - 1);
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return fail("something follows the \"]\" that is not \":PORT\"");
            port = rest.substr(1);
            if (port.empty()) return fail("the port is missing after \":\"");
        }
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos && text.rfind(':') == colon) {
        address.Host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (port.empty()) return fail("the port is missing after \":\"");
    } else {
        address.Host = text; // a name, or an IPv6 address without a port
    }
    if (address.Host.empty()) return fail("the host is missing");
    if (!port.empty()) {
        int number = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
        if (ec != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535)
            return fail("the port must be a number from 1 to 65535");
        address.Port = number;
    }
    return address;
}

std::string ReadPasswordFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
        if (in.is_open() && in.eof()) throw std::runtime_error("the password file " + path + " is empty");
        throw std::runtime_error("cannot read the password file " + path + ": " + std::strerror(errno));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) throw std::runtime_error("the first line of the password file " + path + " is empty");
    return line;
}

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kKeepAliveSeconds = 30;
constexpr auto kTick = 100ms;            // how often the thread looks at what Post handed over
constexpr auto kConnackPatience = 10s;   // from the TCP connection to the broker's answer
constexpr auto kDisconnectPatience = 2s; // for the last values and "offline" to leave
constexpr std::uint32_t kPresent = 1u << 24;

std::once_flag g_libraryReady;

std::string ErrorText(int rc)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO: return std::strerror(errno);
    case MOSQ_ERR_EAI: return "the host name cannot be resolved";
    case MOSQ_ERR_TLS:
        return "the TLS handshake failed (not a TLS listener, or a certificate the CA file does not vouch for)";
    case MOSQ_ERR_CONN_LOST: return "the broker closed the connection";
    default: return mosquitto_strerror(rc);
    }
}

std::string ConnackText(int rc)
{
    switch (rc) {
    case 4:
    case 5: return "the broker refused the user name or password (not authorised)";
    default: return std::string("the broker refused the connection: ") + mosquitto_connack_string(rc);
    }
}

} // namespace

struct Publisher::Core {
    enum class State { Idle, Connecting, Connected };

    struct Topic {
        const Quantity* Of = nullptr;
        std::string StateTopic;
        std::string ConfigTopic;
        std::string Config;
        bool Seen = false;
        bool ConfigSent = false;
        bool Published = false; // the broker has PublishedValue
        std::string Value;
        std::string PublishedValue;
        Clock::time_point Last{};
    };

    explicit Core(PublisherOptions o) : Options(std::move(o)) {}
    ~Core()
    {
        if (Mosq != nullptr) mosquitto_destroy(Mosq);
    }

    PublisherOptions Options;
    std::string Where; // "HOST:PORT", for the reports
    std::string StatusTopic;
    std::string DiscoveryStatusTopic;

    // Handed over by Post: the latest present-value frame of each data ID (kPresent | type << 16 | raw),
    // and which of them changed since the thread last looked.
    std::array<std::atomic<std::uint32_t>, 256> Latest{};
    std::array<std::atomic<std::uint64_t>, 4> Dirty{};

    std::mutex Mutex;
    std::condition_variable Wake;
    bool Stop = false; // under Mutex
    bool Done = false; // under Mutex

    // The thread's own.
    mosquitto* Mosq = nullptr;
    std::vector<Topic> Topics; // one per quantity, in Quantities() order
    std::string Scratch;
    State Now = State::Idle;
    bool Attempted = false;
    bool FailureReported = false;
    int ConnackError = 0;
    bool Accepted = false; // the broker accepted the connection; not yet acted on
    int OfflineMid = 0;    // the message id of the last "offline"
    bool OfflineAcked = false;
    Clock::duration Backoff = 1s;
    Clock::time_point NextAttempt{};
    Clock::time_point ConnackDeadline{};
    std::optional<Clock::time_point> Rediscover;
    std::minstd_rand Random{std::random_device{}()};

    void Say(const std::string& line)
    {
        if (Options.Report) Options.Report("MQTT broker " + Where + ": " + line);
    }

    void TakePosted()
    {
        const Quantity* first = Quantities().data();
        for (std::size_t word = 0; word < Dirty.size(); ++word) {
            std::uint64_t bits = Dirty[word].exchange(0, std::memory_order_acquire);
            while (bits != 0) {
                const int bit = std::countr_zero(bits);
                bits &= bits - 1;
                const auto id = static_cast<std::uint8_t>(word * 64 + static_cast<std::size_t>(bit));
                const std::uint32_t latest = Latest[id].load(std::memory_order_acquire);
                const DecodedFrame frame =
                    DecodeFrame(static_cast<std::uint8_t>(latest >> 16), id, static_cast<std::uint16_t>(latest));
                for (const Quantity& q : QuantitiesOf(id)) {
                    Topic& t = Topics[static_cast<std::size_t>(&q - first)];
                    QuantityValue(q, frame, Scratch);
                    t.Value.assign(Scratch);
                    t.Seen = true;
                }
            }
        }
    }

    void Connect()
    {
        Attempted = true;
        ConnackError = 0;
        Accepted = false;
        const int rc = mosquitto_connect(Mosq, Options.Host.c_str(), Options.Port, kKeepAliveSeconds);
        if (rc != MOSQ_ERR_SUCCESS) return Failed(ErrorText(rc));
        Now = State::Connecting;
        ConnackDeadline = Clock::now() + kConnackPatience;
    }

    // The connection failed or broke: the first failure since the start or the last success is told,
    // and the next attempt waits twice as long as the one before, up to MaxBackoff.
    void Failed(const std::string& why)
    {
        const bool lost = Now == State::Connected;
        if (Now != State::Idle) mosquitto_disconnect(Mosq);
        Now = State::Idle;
        if (!FailureReported) {
            Say(lost ? "connection lost (" + why + "); reconnecting in the background, the latest values are kept"
                     : why + "; trying again in the background, logging goes on");
            FailureReported = true;
        }
        NextAttempt = Clock::now() + Backoff;
        Backoff = std::min<Clock::duration>(Backoff * 2, Options.MaxBackoff);
    }

    void Connected()
    {
        Now = State::Connected;
        Backoff = 1s;
        if (FailureReported) Say("connected");
        FailureReported = false;
        mosquitto_subscribe(Mosq, nullptr, DiscoveryStatusTopic.c_str(), 0);
        Publish(StatusTopic, "online", 1);
        // A fresh session: the broker may have lost everything, so everything is told again.
        for (Topic& t : Topics) t.ConfigSent = t.Published = false;
    }

    void Publish(const std::string& topic, std::string_view payload, int qos)
    {
        // A failure here is a lost connection, which the loop finds and repairs: all is sent again then.
        mosquitto_publish(Mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos, true);
    }

    void PublishDue(bool finishing)
    {
        const Clock::time_point now = Clock::now();
        if (Rediscover && now >= *Rediscover) {
            for (Topic& t : Topics) t.ConfigSent = t.Published = false;
            Rediscover.reset();
        }
        for (Topic& t : Topics) {
            if (!t.Seen) continue;
            if (!t.ConfigSent) {
                Publish(t.ConfigTopic, t.Config, 0);
                t.ConfigSent = true;
            }
            const bool changed = !t.Published || t.Value != t.PublishedValue;
            if (changed && (!t.Published || finishing || now - t.Last >= Options.MinInterval)) {
                Publish(t.StateTopic, t.Value, 0);
                t.PublishedValue.assign(t.Value);
                t.Published = true;
                t.Last = now;
            }
        }
    }

    // A clean end: "offline" in place of the will, which a DISCONNECT discards. The connection ends only
    // once the broker has acknowledged "offline", and so taken everything sent before it: a socket
    // closed with the broker's answers unread is reset, and a reset broker drops what it has not read.
    void Disconnect()
    {
        OfflineAcked = false;
        mosquitto_publish(Mosq, &OfflineMid, StatusTopic.c_str(), 7, "offline", 1, true);
        const Clock::time_point deadline = Clock::now() + kDisconnectPatience;
        while (!OfflineAcked && Clock::now() < deadline && mosquitto_loop(Mosq, 50, 1) == MOSQ_ERR_SUCCESS) {
        }
        mosquitto_disconnect(Mosq);
        while (Clock::now() < deadline && mosquitto_loop(Mosq, 50, 1) == MOSQ_ERR_SUCCESS) {
        }
    }

    bool Stopping()
    {
        std::lock_guard lock(Mutex);
        return Stop;
    }

    void Run()
    {
        for (;;) {
            const bool stopping = Stopping();
            TakePosted();
            if (Now == State::Idle) {
                if (stopping && Attempted) break; // the broker is away: what it has not got is lost
                if (Clock::now() >= NextAttempt) {
                    Connect();
                    continue;
                }
                std::unique_lock lock(Mutex);
                Wake.wait_until(lock, std::min(NextAttempt, Clock::now() + kTick), [&] { return Stop; });
                continue;
            }
            const int rc = mosquitto_loop(Mosq, static_cast<int>(kTick / 1ms), 1);
            if (ConnackError != 0) { // the loop then fails as well, saying less
                Failed(ConnackText(ConnackError));
                continue;
            }
            if (rc != MOSQ_ERR_SUCCESS) {
                Failed(ErrorText(rc));
                continue;
            }
            if (Accepted) {
                Accepted = false;
                Connected();
            }
            if (Now == State::Connecting && Clock::now() > ConnackDeadline) {
                Failed("no answer to the connection request");
                continue;
            }
            if (Now == State::Connected) {
                TakePosted(); // whatever came while the loop waited
                PublishDue(stopping);
                if (stopping) {
                    Disconnect();
                    break;
                }
            }
        }
        std::lock_guard lock(Mutex);
        Done = true;
        Wake.notify_all();
    }

    // The callbacks only take note: the client is not called back into from inside its own loop.
    static void OnConnect(mosquitto*, void* self, int rc)
    {
        Core& core = *static_cast<Core*>(self);
        if (rc == 0) core.Accepted = true;
        else core.ConnackError = rc;
    }

    static void OnPublish(mosquitto*, void* self, int mid)
    {
        Core& core = *static_cast<Core*>(self);
        if (mid == core.OfflineMid) core.OfflineAcked = true;
    }

    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message)
    {
        Core& core = *static_cast<Core*>(self);
        const std::string_view payload(static_cast<const char*>(message->payload),
                                       static_cast<std::size_t>(message->payloadlen));
        // Home Assistant came up: the configs again after a short random pause, so that many publishers
        // do not answer at the same moment, and the values after them.
        if (core.DiscoveryStatusTopic == message->topic && payload == "online")
            core.Rediscover = Clock::now() + std::chrono::milliseconds(core.Random() % 1000);
    }
};

Publisher::Publisher(PublisherOptions options) : m_core(std::make_shared<Core>(std::move(options)))
{
    std::call_once(g_libraryReady, [] { mosquitto_lib_init(); });
    Core& c = *m_core;
    const PublisherOptions& o = c.Options;
    c.Where = (o.Host.find(':') != std::string::npos ? "[" + o.Host + "]" : o.Host) + ":" + std::to_string(o.Port);
    c.StatusTopic = AvailabilityTopic(o.Names);
    c.DiscoveryStatusTopic = o.Names.DiscoveryPrefix + "/status";
    for (const Quantity& q : Quantities()) {
        Core::Topic& t = c.Topics.emplace_back();
        t.Of = &q;
        t.StateTopic = StateTopic(o.Names, q);
        t.ConfigTopic = ConfigTopic(o.Names, q);
        t.Config = ConfigJson(o.Names, q).dump();
        t.Value.reserve(16);
        t.PublishedValue.reserve(16);
    }
    c.Scratch.reserve(16);

    c.Mosq = mosquitto_new(nullptr, true, &c);
    if (c.Mosq == nullptr)
        throw std::runtime_error("MQTT: cannot create a client: " + std::string(std::strerror(errno)));
    mosquitto_connect_callback_set(c.Mosq, &Core::OnConnect);
    mosquitto_message_callback_set(c.Mosq, &Core::OnMessage);
    mosquitto_publish_callback_set(c.Mosq, &Core::OnPublish);
    mosquitto_max_inflight_messages_set(c.Mosq, 0); // QoS 1 messages never wait behind a window
    if (mosquitto_will_set(c.Mosq, c.StatusTopic.c_str(), 7, "offline", 1, true) != MOSQ_ERR_SUCCESS)
        throw std::runtime_error("MQTT: the prefix \"" + o.Names.Prefix + "\" cannot be a topic");
    if (!o.User.empty()) mosquitto_username_pw_set(c.Mosq, o.User.c_str(), o.Password.c_str());
    if (o.Tls) {
        const int rc = o.CaFile.empty()
                           ? mosquitto_tls_set(c.Mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                           : mosquitto_tls_set(c.Mosq, o.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            throw std::runtime_error(o.CaFile.empty() ? "MQTT: TLS cannot be set up: " + ErrorText(rc)
                                                      : "MQTT: cannot read the CA file " + o.CaFile);
    }
    m_thread = std::thread([core = m_core] { core->Run(); });
}

Publisher::~Publisher()
{
    try {
        Finish();
    } catch (...) {
    }
}

void Publisher::Post(const Frame& frame) noexcept
{
    if (!CarriesPresentValue(frame.MsgType) || QuantitiesOf(frame.DataId).empty()) return;
    Core& c = *m_core;
    const std::uint32_t latest =
        kPresent | static_cast<std::uint32_t>(frame.MsgType) << 16 | static_cast<std::uint16_t>(frame.DataValue);
    c.Latest[frame.DataId].store(latest, std::memory_order_release);
    c.Dirty[frame.DataId / 64u].fetch_or(std::uint64_t{1} << (frame.DataId % 64u), std::memory_order_release);
}

void Publisher::Finish()
{
    if (m_finished) return;
    m_finished = true;
    Core& c = *m_core;
    std::unique_lock lock(c.Mutex);
    c.Stop = true;
    c.Wake.notify_all();
    const bool done = c.Wake.wait_for(lock, c.Options.FinishPatience, [&] { return c.Done; });
    lock.unlock();
    // A thread stuck in a connection attempt keeps its share of the core and ends with the program.
    if (done) m_thread.join();
    else m_thread.detach();
}

} // namespace varmio::mqtt
