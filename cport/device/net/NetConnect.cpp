// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/NetConnect.h"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

namespace cport {

namespace device {

using Clock = std::chrono::steady_clock;

int Remaining(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left, 0, 60'000));
}

namespace {

// The resolver's failures as error numbers: a host that does not resolve is "no such device or address".
int ResolverError(int code)
{
    switch (code) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAIL: return ENXIO;
    case EAI_AGAIN: return EAGAIN;
    case EAI_MEMORY: return ENOMEM;
    case EAI_SYSTEM: return errno;
    default: return EINVAL;
    }
}

// An eventfd that becomes readable when a stop is requested; none when no stop can come.
class StopSignal {
public:
    explicit StopSignal(const std::stop_token& stop)
    {
        if (!stop.stop_possible()) return;
        m_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_fd >= 0) m_callback.emplace(stop, Raise{m_fd});
    }
    ~StopSignal()
    {
        m_callback.reset(); // no raise after the close
        if (m_fd >= 0) ::close(m_fd);
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    int Fd() const { return m_fd; }

private:
    struct Raise {
        int fd;
        void operator()() const noexcept
        {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
        }
    };
    int m_fd = -1;
    std::optional<std::stop_callback<Raise>> m_callback;
};

// Waits until the connection `s` has started completes; 0, or its error (ECANCELED on a stop).
int AwaitConnection(int s, int stopFd, Clock::time_point deadline)
{
    pollfd p[2] = {{s, POLLOUT, 0}, {stopFd, POLLIN, 0}};
    const nfds_t count = stopFd >= 0 ? 2 : 1;
    int n = 0;
    while ((n = ::poll(p, count, Remaining(deadline))) < 0 && errno == EINTR) {
    }
    if (n == 0) return ETIMEDOUT;
    if (n < 0) return errno;
    if (count == 2 && (p[1].revents & POLLIN)) return ECANCELED;
    int result = 0;
    socklen_t size = sizeof result;
    return ::getsockopt(s, SOL_SOCKET, SO_ERROR, &result, &size) == 0 ? result : errno;
}

} // namespace

int ConnectTcp(const TNetPortAddress& address, int& fd, const std::stop_token& stop)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.Port);
    if (const int code = ::getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &found)) {
        // AI_ADDRCONFIG hides loopback-only families on hosts without other addresses: ask again without.
        hints.ai_flags = AI_NUMERICSERV;
        if (::getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &found) != 0) return ResolverError(code);
    }
    const StopSignal stopSignal(stop);
    const auto deadline = Clock::now() + kConnectTimeout;
    int error = EHOSTUNREACH;
    for (const addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        if (stop.stop_requested()) {
            error = ECANCELED;
            break;
        }
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            error = errno;
            continue;
        }
        int result = ::connect(s, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (result == EINPROGRESS) result = AwaitConnection(s, stopSignal.Fd(), deadline);
        if (result == 0) fd = s;
        else {
            ::close(s);
            error = result;
        }
        if (result == ECANCELED || Clock::now() >= deadline) break;
    }
    ::freeaddrinfo(found);
    return fd >= 0 ? 0 : error;
}

} // namespace device

int ProbeNetPort(std::string_view name, const std::stop_token& stop)
{
    const std::optional<TNetPortAddress> address = ParseNetPortName(name);
    if (!address) return EINVAL;
    int fd = -1;
    const int error = device::ConnectTcp(*address, fd, stop);
    if (fd >= 0) ::close(fd);
    return error;
}

} // namespace cport
