// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PtyPair.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace varmio::test {

PtyPair::PtyPair()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[64] = {};
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0) {
        CloseMaster();
        throw std::runtime_error("no pseudo-terminal");
    }
    m_slave = name;
}

void PtyPair::CloseMaster()
{
    if (m_master >= 0) ::close(m_master);
    m_master = -1;
}

bool PtyPair::Write(std::string_view bytes) const { return Write(bytes.data(), bytes.size()); }

bool PtyPair::Write(const void* data, std::size_t size) const
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_master, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return false;
            pollfd pfd{m_master, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
            continue;
        }
        if (n == 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

termios PtyPair::LineSettings() const
{
    termios t{};
    ::tcgetattr(m_master, &t); // a master reports the settings of its slave
    return t;
}

speed_t PtyPair::LineSpeed() const
{
    const termios t = LineSettings();
    return ::cfgetospeed(&t);
}

} // namespace varmio::test
