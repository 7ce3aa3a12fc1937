// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A program's end of the simulator's device for the tests: opened as a serial port is, read with
// deadlines (never fixed sleeps).

#include "varmio/relaysim/Conversation.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace varmio::relaysim::test {

class DeviceReader {
public:
    explicit DeviceReader(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        EXPECT_GE(m_fd, 0) << path << ": " << std::strerror(errno);
    }
    // Reads from a descriptor of the caller's (a connected socket), which it then owns.
    explicit DeviceReader(int fd) : m_fd(fd) {}
    ~DeviceReader() { Close(); }
    DeviceReader(const DeviceReader&) = delete;
    DeviceReader& operator=(const DeviceReader&) = delete;

    int Fd() const { return m_fd; }
    void Close()
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

    // Reads until `count` bytes have come, the device hangs up or the timeout passes.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::vector<std::uint8_t> bytes(count);
        std::size_t got = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const ssize_t n = ::read(m_fd, bytes.data() + got, count - got);
            if (n > 0) got += static_cast<std::size_t>(n);
            else if (n == 0 || errno != EAGAIN) break; // hung up
        }
        bytes.resize(got);
        return bytes;
    }

    // Bytes waiting on the device, counting those still in transit.
    int Waiting() const
    {
        pollfd p{m_fd, POLLIN, 0};
        ::poll(&p, 1, 0);
        int waiting = -1;
        ::ioctl(m_fd, FIONREAD, &waiting);
        return waiting;
    }

private:
    int m_fd;
};

// The first `count` bytes of the built-in conversation's stream.
inline std::vector<std::uint8_t> ConversationBytes(std::uint64_t seed, std::size_t count)
{
    Conversation conversation(seed);
    std::vector<std::uint8_t> bytes;
    TimedBytes run;
    while (bytes.size() < count && conversation.Next(run))
        bytes.insert(bytes.end(), run.Bytes.begin(), run.Bytes.end());
    bytes.resize(count);
    return bytes;
}

} // namespace varmio::relaysim::test
