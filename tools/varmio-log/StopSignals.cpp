// SPDX-License-Identifier: GPL-3.0-or-later
#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace varmio::logger {

StopSignals::StopSignals()
{
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &stops, nullptr); error != 0)
        throw std::system_error(error, std::generic_category(), "cannot block the stop signals");
    m_fd = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0) throw std::system_error(errno, std::generic_category(), "cannot take the stop signals");
}

StopSignals::~StopSignals() { ::close(m_fd); }

int StopSignals::Take()
{
    signalfd_siginfo info{};
    for (;;) {
        const ssize_t got = ::read(m_fd, &info, sizeof info);
        if (got == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
        if (got < 0 && errno == EINTR) continue;
        return 0;
    }
}

StopSignalWatch::StopSignalWatch(StopSignals& signals, std::function<void()> onStop) : m_wake(::eventfd(0, EFD_CLOEXEC))
{
    if (m_wake < 0) throw std::system_error(errno, std::generic_category(), "cannot make an event");
    m_thread = std::jthread([this, &signals, onStop = std::move(onStop)] {
        pollfd fds[2] = {{signals.Fd(), POLLIN, 0}, {m_wake, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if ((fds[1].revents & POLLIN) != 0) return;
            if ((fds[0].revents & POLLIN) != 0 && signals.Take() != 0) {
                onStop();
                return;
            }
        }
    });
}

StopSignalWatch::~StopSignalWatch()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
    m_thread.join();
    ::close(m_wake);
}

} // namespace varmio::logger
