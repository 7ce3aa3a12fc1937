// SPDX-License-Identifier: GPL-3.0-or-later
#include "ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace varmio::logger {

FileSource::FileSource(const std::string& path)
{
    if (path == "-") {
        m_name = "standard input";
        m_fd = STDIN_FILENO;
    } else {
        m_name = "\"" + path + "\"";
        // Not blocking: a named pipe opened to wait for its writer could not be stopped.
        m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) throw SourceError("cannot open " + m_name + ": " + std::strerror(errno));
        m_owned = true;
    }
    const int error = ::fstat(m_fd, &m_info) != 0 ? errno : S_ISDIR(m_info.st_mode) ? EISDIR : 0;
    if (error != 0) {
        if (m_owned) ::close(m_fd);
        throw SourceError("cannot read " + m_name + ": " + std::strerror(error));
    }
}

FileSource::~FileSource()
{
    if (m_owned) ::close(m_fd);
}

std::size_t FileSource::Read(std::span<std::uint8_t> buffer)
{
    for (;;) {
        // Waited for first: the file may be a named pipe without a writer yet, which reads as its end.
        pollfd wait{m_fd, POLLIN, 0};
        ::poll(&wait, 1, -1);
        const ssize_t got = ::read(m_fd, buffer.data(), buffer.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EAGAIN && errno != EINTR) throw SourceError("cannot read " + m_name + ": " + std::strerror(errno));
    }
}

} // namespace varmio::logger
