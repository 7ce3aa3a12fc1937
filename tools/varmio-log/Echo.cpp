// SPDX-License-Identifier: GPL-3.0-or-later
#include "Echo.h"

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace varmio::logger {
namespace {

constexpr std::size_t kBatchBytes = 64 * 1024;

void Signal(int eventFd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(eventFd, &one, sizeof one);
}

} // namespace

StdoutEcho::Shared::Shared() : doneFd(::eventfd(0, EFD_CLOEXEC)), roomFd(::eventfd(0, EFD_CLOEXEC))
{
    if (doneFd < 0 || roomFd < 0) {
        const int failure = errno;
        if (doneFd >= 0) ::close(doneFd);
        if (roomFd >= 0) ::close(roomFd);
        throw std::system_error(failure, std::generic_category(), "cannot make an event for the echo");
    }
}

StdoutEcho::Shared::~Shared()
{
    ::close(doneFd);
    ::close(roomFd);
}

StdoutEcho::StdoutEcho(int fd, std::size_t capacity)
    : m_shared(std::make_shared<Shared>()), m_capacity(capacity), m_writer(Write, m_shared, fd)
{
}

StdoutEcho::~StdoutEcho()
{
    if (!m_writer.joinable()) return;
    bool finished = false;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closing = true;
        finished = m_shared->finished;
        m_shared->dropped += m_shared->queue.size();
        m_shared->queue.clear();
    }
    m_shared->wake.notify_one();
    if (finished) m_writer.join();
    else m_writer.detach(); // it keeps the shared state alive for as long as it is stuck
}

void StdoutEcho::Queue(std::string_view line, bool mayDrop)
{
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->error != 0 || m_shared->closing) return;
        if (mayDrop && m_shared->queuedBytes + line.size() > m_capacity) {
            ++m_shared->dropped;
            return;
        }
        m_shared->queue.emplace_back(line);
        m_shared->queuedBytes += line.size();
    }
    m_shared->wake.notify_one();
}

void StdoutEcho::Line(std::string_view line) { Queue(line, true); }

void StdoutEcho::KeptLine(std::string_view line) { Queue(line, false); }

bool StdoutEcho::WaitForRoom(int cancelFd)
{
    for (;;) {
        {
            std::lock_guard lock(m_shared->mutex);
            if (m_shared->queuedBytes <= m_capacity || m_shared->error != 0 || m_shared->finished) {
                m_shared->waitingForRoom = false;
                return true;
            }
            m_shared->waitingForRoom = true;
        }
        pollfd fds[2] = {{m_shared->roomFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
        if (::poll(fds, cancelFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return true; // cannot wait: go on
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_shared->roomFd, &count, sizeof count);
        }
        if (cancelFd >= 0 && (fds[1].revents & POLLIN) != 0) {
            std::lock_guard lock(m_shared->mutex);
            m_shared->waitingForRoom = false;
            return false;
        }
    }
}

void StdoutEcho::Last(std::string_view line) { Queue(line, false); }

void StdoutEcho::Write(const std::shared_ptr<Shared>& shared, int fd)
{
    std::string batch;
    for (;;) {
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return !shared->queue.empty() || shared->closing; });
            if (shared->queue.empty()) break; // closing, and everything written
            batch.clear();
            while (!shared->queue.empty() && batch.size() < kBatchBytes) {
                batch += shared->queue.front();
                batch += '\n';
                shared->queuedBytes -= shared->queue.front().size();
                shared->queue.pop_front();
            }
            if (shared->waitingForRoom) Signal(shared->roomFd); // the waiter checks whether it fits now
        }
        std::string_view rest = batch;
        int error = 0;
        while (!rest.empty() && error == 0) {
            const ssize_t written = ::write(fd, rest.data(), rest.size());
            if (written > 0) rest.remove_prefix(static_cast<std::size_t>(written));
            else if (written == 0 || errno != EINTR) // interrupted: simply written again
                error = written == 0 ? EIO : errno;
        }
        if (error != 0) {
            std::lock_guard lock(shared->mutex);
            shared->error = error;
            shared->queue.clear();
            shared->queuedBytes = 0;
            Signal(shared->roomFd);
            break;
        }
    }
    {
        std::lock_guard lock(shared->mutex);
        shared->finished = true;
    }
    Signal(shared->doneFd);
    Signal(shared->roomFd);
}

bool StdoutEcho::Drain(int cancelFd)
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->closing = true;
    }
    m_shared->wake.notify_one();
    pollfd fds[2] = {{m_shared->doneFd, POLLIN, 0}, {cancelFd, POLLIN, 0}};
    while (::poll(fds, cancelFd >= 0 ? 2 : 1, -1) < 0 && errno == EINTR) {
    }
    if ((fds[0].revents & POLLIN) == 0) {
        // Given up: what has not reached the writer is dropped; the destructor leaves the writer be.
        std::lock_guard lock(m_shared->mutex);
        m_shared->dropped += m_shared->queue.size();
        m_shared->queue.clear();
        m_shared->queuedBytes = 0;
        return false;
    }
    m_writer.join();
    return true;
}

std::uint64_t StdoutEcho::Dropped() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->dropped;
}

int StdoutEcho::Error() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->error;
}

} // namespace varmio::logger
