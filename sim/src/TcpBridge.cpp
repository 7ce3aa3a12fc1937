// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/TcpBridge.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace varmio::relaysim {

namespace {

[[noreturn]] void Fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

} // namespace

TcpBridge::TcpBridge(std::uint16_t port)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_poll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_listen < 0 || m_poll < 0) {
        const int error = errno;
        CloseAll();
        Fail(error, "cannot make a TCP bridge");
    }
    const int on = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t size = sizeof address;
    epoll_event listening{};
    listening.events = EPOLLIN;
    listening.data.fd = m_listen;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_listen, 4) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::epoll_ctl(m_poll, EPOLL_CTL_ADD, m_listen, &listening) != 0) {
        const int error = errno;
        CloseAll();
        Fail(error, "cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    m_port = ntohs(address.sin_port);
    m_name = "socket://127.0.0.1:" + std::to_string(m_port);
}

TcpBridge::~TcpBridge() { CloseAll(); }

void TcpBridge::CloseAll()
{
    DropClient();
    if (m_poll >= 0) ::close(m_poll);
    if (m_listen >= 0) ::close(m_listen);
    m_poll = m_listen = -1;
}

void TcpBridge::TakeNotices()
{
    for (;;) {
        const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) break;
        DropClient();
        m_client = client;
        epoll_event talk{};
        talk.events = EPOLLIN | EPOLLRDHUP;
        talk.data.fd = m_client;
        if (::epoll_ctl(m_poll, EPOLL_CTL_ADD, m_client, &talk) != 0) DropClient();
    }
    // What the client says is dropped; its end (or failure) ends the listening.
    char scratch[512];
    while (m_client >= 0) {
        const ssize_t n = ::recv(m_client, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && errno == EINTR)) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        DropClient();
    }
}

std::size_t TcpBridge::Write(std::span<const std::uint8_t> bytes)
{
    if (m_client < 0) return 0;
    const ssize_t n = ::send(m_client, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return static_cast<std::size_t>(n);
    // A client that went away is noticed through the watch, like a reader that closed a device.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == EPIPE || errno == ECONNRESET) return 0;
    Fail(errno, "cannot send to the client of " + m_name);
}

bool TcpBridge::InputQueueEmpty() const
{
    int unsent = 0;
    return m_client < 0 || ::ioctl(m_client, SIOCOUTQ, &unsent) != 0 || unsent == 0;
}

void TcpBridge::DropClient()
{
    if (m_client < 0) return;
    ::epoll_ctl(m_poll, EPOLL_CTL_DEL, m_client, nullptr);
    ::close(m_client);
    m_client = -1;
}

} // namespace varmio::relaysim
