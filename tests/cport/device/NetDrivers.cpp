// SPDX-License-Identifier: GPL-3.0-or-later
// The network device in the device contract: socket:// against a raw TCP server on 127.0.0.1, and
// rfc2217:// against a Com Port Control server played by the driver (it takes the option, answers the
// line settings and escapes 0xFF in the data).
// Removal is the server closing the connection. Time is the wall clock.

#include "DeviceContract.h"
#include "support/NetTestSupport.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace cport::device::test {
namespace {

using varmio::test::LoopbackServer;

class NetDriver : public DeviceDriver {
public:
    std::int64_t NowMs() override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    bool WaitFor(const Event& event, int ms) override { return event.Wait(ms); }
    // Two cores shared by several builds, and the sanitizers: a timed read may end this much late.
    int LateMs() const override { return 250; }
    int RemovedError() const override { return ECONNRESET; } // the server closed the connection

protected:
    std::string Url(const char* scheme) const
    {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_server.Port());
    }
    std::unique_ptr<ISerialDevice> OpenAt(const std::string& url)
    {
        auto device = CreateSystemDevice();
        if (!device->Open(url)) {
            ADD_FAILURE() << url << " did not open: " << std::strerror(GetLastError());
            return nullptr;
        }
        return device;
    }

    LoopbackServer m_server;
};

class SocketDriver final : public NetDriver {
public:
    std::unique_ptr<ISerialDevice> Open() override
    {
        auto device = OpenAt(Url("socket"));
        if (device && !m_server.Accept()) ADD_FAILURE() << "no connection came";
        return device;
    }
    bool Send(std::string_view bytes) override { return m_server.Send(std::string(bytes)); }
    std::string Transmitted(std::size_t count, int ms) override { return m_server.Receive(count, ms); }
    bool HoldWrites() override { return true; } // the connection is read only by Transmitted
    void Remove() override { m_server.Drop(); }
};

// The server's side of Com Port Control, on a thread that reads what the client says and answers the
// four line settings with the values asked for; the test's thread sends the data meanwhile.
class Rfc2217Driver final : public NetDriver {
public:
    ~Rfc2217Driver() override { StopServing(); }

    std::unique_ptr<ISerialDevice> Open() override
    {
        StopServing();
        std::thread accept([this] {
            if (!m_server.Accept()) return;
            m_connection = m_server.Fd();
            SendRaw("\xFF\xFD\x2C\xFF\xFB" + std::string(1, '\0') + "\xFF\xFD" + std::string(1, '\0'));
        });
        auto device = OpenAt(Url("rfc2217"));
        accept.join();
        m_serving = std::jthread([this](std::stop_token stop) { Serve(stop); });
        return device;
    }
    bool Send(std::string_view bytes) override
    {
        std::string escaped;
        for (const char c : bytes) {
            escaped += c;
            if (c == '\xFF') escaped += c;
        }
        return SendRaw(escaped);
    }
    std::string Transmitted(std::size_t count, int ms) override
    {
        if (!m_serving.joinable()) m_serving = std::jthread([this](std::stop_token stop) { Serve(stop); });
        std::unique_lock lock(m_dataMutex);
        m_dataCame.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_data.size() >= count; });
        return m_data.substr(0, count);
    }
    bool HoldWrites() override // nothing reads the connection until Transmitted serves it again
    {
        StopServing();
        return true;
    }
    void Remove() override
    {
        StopServing();
        // What the client said last is read first: a socket closed with unread bytes resets the
        // connection instead of closing it.
        char scratch[4096];
        while (::recv(m_connection, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
        }
        m_server.Drop();
    }
    // Line errors are not raised here: the contract's case includes the receive-queue overflow
    // (CE_RXOVER), which Com Port Control has no bit for. NetDeviceTest plays the server's
    // NOTIFY-LINESTATE (overrun, parity, framing, break) into line errors and their events.

private:
    bool SendRaw(const std::string& bytes)
    {
        std::lock_guard lock(m_sendMutex);
        return m_server.Send(bytes);
    }

    void StopServing()
    {
        if (!m_serving.joinable()) return;
        m_serving.request_stop();
        m_stop.Set(); // wakes the poll below
        m_serving.join();
        m_stop.Reset();
    }

    // Echoes SET-BAUDRATE .. SET-STOPSIZE as their answers (code + 100, the value asked for) and keeps
    // the data bytes the client sent, with Telnet's doubled 0xFF made one again.
    void Serve(std::stop_token stop)
    {
        enum { Data, Iac, Option, Sub, SubIac } state = Data;
        std::string body;
        while (!stop.stop_requested()) {
            pollfd p[2] = {{m_connection, POLLIN, 0}, {static_cast<int>(m_stop.NativeHandle()), POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
            if (p[1].revents != 0) return;
            char buffer[4096];
            const ssize_t n = ::recv(m_connection, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0) {
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                return;
            }
            std::string data;
            for (ssize_t i = 0; i < n; ++i) {
                const char c = buffer[i];
                switch (state) {
                case Data:
                    if (c == '\xFF') state = Iac;
                    else data += c;
                    break;
                case Iac:
                    if (c == '\xFF') data += c;
                    state = c == '\xFA' ? Sub : (c >= '\xFB' && c <= '\xFE') ? Option : Data;
                    if (state == Sub) body.clear();
                    break;
                case Option: state = Data; break;
                case Sub:
                    if (c == '\xFF') state = SubIac;
                    else body += c;
                    break;
                case SubIac:
                    if (c == '\xFF') {
                        body += c;
                        state = Sub;
                        break;
                    }
                    state = Data;
                    if (body.size() < 2 || body[0] != '\x2C') break;
                    if (const auto code = static_cast<unsigned char>(body[1]); code >= 1 && code <= 4) {
                        std::string answer = "\xFF\xFA\x2C";
                        answer += static_cast<char>(code + 100);
                        for (const char b : body.substr(2)) {
                            answer += b;
                            if (b == '\xFF') answer += b;
                        }
                        SendRaw(answer + "\xFF\xF0");
                    }
                    break;
                }
            }
            if (!data.empty()) {
                std::lock_guard lock(m_dataMutex);
                m_data += data;
                m_dataCame.notify_all();
            }
        }
    }

    std::mutex m_dataMutex;
    std::condition_variable m_dataCame;
    std::string m_data; // the data bytes received
    std::mutex m_sendMutex;
    Event m_stop{false};
    int m_connection = -1;
    std::jthread m_serving;
};

INSTANTIATE_TEST_SUITE_P(Net, DeviceContractTest,
                         ::testing::Values(DriverFactory{"socket", [] { return std::make_unique<SocketDriver>(); }},
                                           DriverFactory{"rfc2217", [] { return std::make_unique<Rfc2217Driver>(); }}),
                         DriverName);

} // namespace
} // namespace cport::device::test
