// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Network test helpers: a TCP server on the loopback interface on a free port, and the real ser2net
// started on a free loopback port in front of a serial device, its configuration in a temporary folder.
// Both stop with their object.

#include "support/TempDir.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace varmio::test {

inline int RemainingMs(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// A listening TCP socket on 127.0.0.1 (or ::1) and the one connection it accepts.
class LoopbackServer {
public:
    explicit LoopbackServer(bool ipv6 = false)
    {
        m_listen = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0) return;
        sockaddr_storage address{};
        socklen_t size = 0;
        if (ipv6) {
            auto& a = reinterpret_cast<sockaddr_in6&>(address);
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            size = sizeof a;
        } else {
            auto& a = reinterpret_cast<sockaddr_in&>(address);
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            size = sizeof a;
        }
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_listen, 4) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            Close();
            return;
        }
        m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(address).sin6_port
                            : reinterpret_cast<sockaddr_in&>(address).sin_port);
    }
    ~LoopbackServer() { Close(); }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Ok() const { return m_listen >= 0; }
    std::uint16_t Port() const { return m_port; }
    // The accepted connection's descriptor; -1 before one came.
    int Fd() const { return m_client; }

    // Accepts the next connection (dropping the previous one); false when none came in time.
    bool Accept(int timeoutMs = 10'000)
    {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return false;
        Drop();
        m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        return m_client >= 0;
    }
    bool Send(const std::string& bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::send(m_client, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
    // Receives until `count` bytes came or the time is up.
    std::string Receive(std::size_t count, int timeoutMs = 10'000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string bytes;
        while (bytes.size() < count) {
            pollfd p{m_client, POLLIN, 0};
            if (::poll(&p, 1, RemainingMs(deadline)) != 1) break;
            char buffer[4096];
            const ssize_t n = ::recv(m_client, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
            if (n <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        return bytes;
    }
    // Ends the connection: an orderly close, or a reset when `reset`.
    void Drop(bool reset = false)
    {
        if (m_client < 0) return;
        if (reset) {
            const linger hard{1, 0};
            ::setsockopt(m_client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        ::close(m_client);
        m_client = -1;
    }
    void Close()
    {
        Drop();
        if (m_listen >= 0) ::close(m_listen);
        m_listen = -1;
    }

private:
    int m_listen = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
inline std::uint16_t FreeLoopbackPort()
{
    LoopbackServer probe;
    return probe.Port();
}

// A listener on 127.0.0.1 that never accepts, its accept queue filled by a connection of its own, so
// that the kernel drops every further connection request: a connect to Port() hangs until it gives up.
class UnansweringListener {
public:
    UnansweringListener()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        if (m_listen < 0 || ::bind(m_listen, any, size) != 0 || ::listen(m_listen, 0) != 0 ||
            ::getsockname(m_listen, any, &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
        // A backlog of 0 holds one connection; the listener's TCP_INFO tells when it is queued (the
        // queue's length against its limit), after which requests are dropped.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!Full() && std::chrono::steady_clock::now() < deadline) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (filler < 0) return;
            m_fillers.push_back(filler);
            if (::connect(filler, any, size) != 0 && errno == EINPROGRESS) {
                pollfd p{filler, POLLOUT, 0};
                ::poll(&p, 1, RemainingMs(deadline));
            }
            // Queued once the server side has its final handshake step, a moment after the client.
            while (!Full() && Queued() < m_fillers.size() && std::chrono::steady_clock::now() < deadline)
                ::poll(nullptr, 0, 5);
        }
    }
    ~UnansweringListener()
    {
        for (const int fd : m_fillers) ::close(fd);
        if (m_listen >= 0) ::close(m_listen);
    }
    UnansweringListener(const UnansweringListener&) = delete;
    UnansweringListener& operator=(const UnansweringListener&) = delete;

    // The accept queue is full: connection requests go unanswered.
    bool Full() const
    {
        const tcp_info info = Info();
        return m_port != 0 && info.tcpi_unacked > info.tcpi_sacked;
    }
    std::uint16_t Port() const { return m_port; }

private:
    // On a listener, tcpi_unacked is the accept queue's length and tcpi_sacked its limit.
    tcp_info Info() const
    {
        tcp_info info{};
        socklen_t size = sizeof info;
        if (::getsockopt(m_listen, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) info = tcp_info{};
        return info;
    }
    std::size_t Queued() const { return Info().tcpi_unacked; }

    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::vector<int> m_fillers;
};

// The real ser2net on 127.0.0.1, serving `device` (a pseudo-terminal's slave) raw on RawPort() and as
// Telnet with Com Port Control on Rfc2217Port(). Its YAML configuration lives in a temporary folder.
class Ser2net {
public:
    explicit Ser2net(const std::string& device, const std::string& line = "9600n81")
    {
        for (int attempt = 0; attempt < 5 && m_pid < 0; ++attempt) {
            m_raw = FreeLoopbackPort();
            m_rfc2217 = FreeLoopbackPort();
            if (m_raw == m_rfc2217) continue;
            const std::filesystem::path config = m_folder.Path() / "ser2net.yaml";
            std::ofstream(config) << "%YAML 1.1\n---\n"
                                  << "connection: &raw\n  accepter: tcp,127.0.0.1," << m_raw
                                  << "\n  connector: serialdev," << device << "," << line << ",local\n"
                                  << "  options:\n    kickolduser: true\n"
                                  << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << m_rfc2217
                                  << "\n  connector: serialdev," << device << "," << line << ",local\n"
                                  << "  options:\n    kickolduser: true\n";
            Start(config);
        }
    }
    ~Ser2net() { Stop(); }
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    static bool Installed() { return std::system("command -v ser2net >/dev/null 2>&1") == 0; }
    bool Running() const { return m_pid > 0; }
    std::uint16_t RawPort() const { return m_raw; }
    std::uint16_t Rfc2217Port() const { return m_rfc2217; }

    // Ends it at once (SIGKILL when `kill`, else SIGTERM) and waits for its end.
    void Stop(bool kill = false)
    {
        if (m_pid <= 0) return;
        ::kill(m_pid, kill ? SIGKILL : SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    // Starts it again after a Stop, on the same ports; whether it runs.
    bool Restart()
    {
        if (m_pid <= 0) Start(m_folder.Path() / "ser2net.yaml");
        return Running();
    }

private:
    void Start(const std::filesystem::path& config)
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execlp("ser2net", "ser2net", "-n", "-c", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return;
        m_pid = pid;
        // Ready once both ports take connections; a port someone else took meanwhile makes it give up.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            if (Listening(m_raw) && Listening(m_rfc2217)) return;
            pollfd none{-1, 0, 0};
            ::poll(&none, 0, 20); // ser2net gives no sign of readiness but its listening ports
        }
        Stop(true);
    }
    // Whether a socket listens on the loopback port, from the kernel's table: a probing connection would
    // make ser2net open the device behind it.
    static bool Listening(std::uint16_t port)
    {
        std::ifstream table("/proc/net/tcp");
        std::string line;
        char wanted[16];
        std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
        while (std::getline(table, line)) {
            // "  sl  local_address rem_address   st ...": the local port and the state 0A (listening).
            const std::size_t local = line.find(':', line.find(':') + 1);
            if (local == std::string::npos || line.compare(local, 5, wanted) != 0) continue;
            const std::size_t state = line.find(' ', line.find(' ', local) + 1);
            if (state != std::string::npos && line.compare(state + 1, 2, "0A") == 0) return true;
        }
        return false;
    }

    TempDir m_folder;
    pid_t m_pid = -1;
    std::uint16_t m_raw = 0;
    std::uint16_t m_rfc2217 = 0;
};

} // namespace varmio::test
