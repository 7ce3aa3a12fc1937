#include "ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace varmio::logger {

FileSource::FileSource(const std::string& path)
{
    if (path == "-") {
        m_name = "standard input";
        m_fd = STDIN_FILENO;
        return;
    }
    m_name = "\"" + path + "\"";
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) throw SourceError("cannot open " + m_name + ": " + std::strerror(errno));
    m_owned = true;
}

FileSource::~FileSource()
{
    if (m_owned) ::close(m_fd);
}

std::size_t FileSource::Read(std::span<std::uint8_t> buffer)
{
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer.data(), buffer.size());
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) throw SourceError("cannot read " + m_name + ": " + std::strerror(errno));
    }
}

} // namespace varmio::logger
