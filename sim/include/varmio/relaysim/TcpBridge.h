// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relay behind a raw TCP serial bridge on 127.0.0.1, as a Wi-Fi bridge next to a boiler serves it:
// bytes go out unchanged, one listener at a time. A new connection replaces the one before (a client
// that reconnects after a loss finds the stream again); what clients send is read and dropped.
//
// Used by one thread at a time; see RelayLine.

#include "varmio/relaysim/RelayLine.h"

namespace varmio::relaysim {

class TcpBridge final : public RelayLine {
public:
    // Listens on 127.0.0.1:port (0: a free port). Throws std::system_error when it cannot.
    explicit TcpBridge(std::uint16_t port);
    ~TcpBridge() override;
    TcpBridge(const TcpBridge&) = delete;
    TcpBridge& operator=(const TcpBridge&) = delete;

    std::uint16_t Port() const { return m_port; }
    // "socket://127.0.0.1:PORT".
    const std::string& DevicePath() const override { return m_name; }
    int WriteFd() const override { return m_client; }
    int WatchFd() const override { return m_poll; }
    void TakeNotices() override;
    int Readers() const override { return m_client >= 0 ? 1 : 0; }
    void NoticeReads(bool) override {} // the drain looks at the send queue as it waits
    std::size_t Write(std::span<const std::uint8_t> bytes) override;
    bool InputQueueEmpty() const override;

private:
    void DropClient();
    void CloseAll();

    int m_listen = -1;
    int m_poll = -1; // epoll over the listening socket and the client
    int m_client = -1;
    std::uint16_t m_port = 0;
    std::string m_name;
};

} // namespace varmio::relaysim
