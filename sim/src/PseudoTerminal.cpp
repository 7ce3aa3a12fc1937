// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace varmio::relaysim {

namespace {

constexpr std::uint32_t kOpenClose = IN_OPEN | IN_CLOSE;

[[noreturn]] void Fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

void CloseFd(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Raw 8N1 at 19200 baud: every byte passes untouched, nothing is echoed, no flow control.
void SetRawLine(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0) Fail(errno, "cannot read the pseudo-terminal's line settings");
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B19200);
    ::cfsetospeed(&t, B19200);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) Fail(errno, "cannot set the pseudo-terminal's line settings");
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    try {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_master < 0) Fail(errno, "cannot create a pseudo-terminal");
        if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) Fail(errno, "cannot unlock the pseudo-terminal");
        char name[128];
        if (const int error = ::ptsname_r(m_master, name, sizeof name); error != 0)
            Fail(error, "cannot name the pseudo-terminal");
        m_devicePath = name;

        // Ours is open before the watch starts, so the watch sees only other programs.
        m_keeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_keeper < 0) Fail(errno, "cannot open " + m_devicePath);
        SetRawLine(m_keeper);

        m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_watch < 0) Fail(errno, "cannot watch " + m_devicePath);
        Watch(kOpenClose);
    } catch (...) {
        CloseFd(m_watch);
        CloseFd(m_keeper);
        CloseFd(m_master);
        throw;
    }
}

PseudoTerminal::~PseudoTerminal()
{
    if (!m_linkPath.empty()) {
        char target[256];
        const ssize_t n = ::readlink(m_linkPath.c_str(), target, sizeof target);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == m_devicePath) ::unlink(m_linkPath.c_str());
    }
    CloseFd(m_watch);
    CloseFd(m_keeper);
    CloseFd(m_master);
}

void PseudoTerminal::Watch(std::uint32_t mask)
{
    if (::inotify_add_watch(m_watch, m_devicePath.c_str(), mask) < 0) Fail(errno, "cannot watch " + m_devicePath);
}

void PseudoTerminal::MakeLink(const std::string& linkPath, bool replace)
{
    const auto failLink = [&](int error) { Fail(error, "cannot make the link \"" + linkPath + "\""); };
    if (::symlink(m_devicePath.c_str(), linkPath.c_str()) != 0) {
        if (errno != EEXIST || !replace) failLink(errno);
        struct stat info {};
        if (::lstat(linkPath.c_str(), &info) != 0) failLink(errno);
        if (!S_ISLNK(info.st_mode)) failLink(EEXIST);
        // Replace the old link in one step, so that the path never points nowhere.
        const std::string temporary = linkPath + ".new-" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(m_devicePath.c_str(), temporary.c_str()) != 0) failLink(errno);
        if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
            const int error = errno;
            ::unlink(temporary.c_str());
            failLink(error);
        }
    }
    m_linkPath = linkPath;
}

void PseudoTerminal::NoticeReads(bool on) { Watch(on ? kOpenClose | IN_ACCESS : kOpenClose); }

void PseudoTerminal::TakeNotices()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_watch, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return;
            Fail(errno, "cannot watch " + m_devicePath);
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                // Notices were lost: better to go on sending into the device than to stall.
                m_readers = std::max(m_readers, 1);
            } else if (event->mask & IN_OPEN) {
                ++m_readers;
            } else if ((event->mask & IN_CLOSE) && m_readers > 0 && --m_readers == 0) {
                ::ioctl(m_keeper, TIOCNXCL);
            }
        }
    }
}

std::size_t PseudoTerminal::Write(std::span<const std::uint8_t> bytes)
{
    for (;;) {
        const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EAGAIN) return 0;
        if (errno != EINTR) Fail(errno, "cannot write to " + m_devicePath);
    }
}

bool PseudoTerminal::InputQueueEmpty() const
{
    // Polling the device first makes the kernel move bytes still in transit into its input queue.
    pollfd device{m_keeper, POLLIN, 0};
    ::poll(&device, 1, 0);
    int waiting = 0;
    if (::ioctl(m_keeper, FIONREAD, &waiting) != 0) Fail(errno, "cannot look at the input queue of " + m_devicePath);
    return waiting == 0;
}

} // namespace varmio::relaysim
