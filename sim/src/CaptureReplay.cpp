#include "varmio/relaysim/CaptureReplay.h"
#include "varmio/relaysim/Packet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varmio::relaysim {

namespace {

[[noreturn]] void ThrowUnreadable(const std::string& path, int error)
{
    throw CaptureError("cannot read capture \"" + path + "\": " + std::strerror(error));
}

} // namespace

std::vector<std::uint8_t> LoadCapture(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        ThrowUnreadable(path, errno);
    std::vector<std::uint8_t> bytes;
    int error = 0;
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        error = errno;
    else if (S_ISDIR(info.st_mode))
        error = EISDIR;
    else {
        bytes.reserve(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)));
        std::uint8_t block[65536];
        for (;;) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n > 0)
                bytes.insert(bytes.end(), block, block + n);
            else if (n == 0)
                break;
            else if (errno != EINTR) {
                error = errno;
                break;
            }
        }
    }
    ::close(fd);
    if (error != 0)
        ThrowUnreadable(path, error);
    if (bytes.empty())
        throw CaptureError("capture \"" + path + "\" is empty");
    return bytes;
}

CaptureReplay::CaptureReplay(std::vector<std::uint8_t> capture, bool loop)
    : m_capture(std::move(capture)), m_loop(loop)
{
    if (m_capture.empty())
        throw CaptureError("the capture to replay is empty");
}

bool CaptureReplay::Next(TimedBytes& out)
{
    if (m_offset == m_capture.size()) {
        if (!m_loop)
            return false;
        m_offset = 0;
    }
    const std::size_t count = std::min(kPacketSize, m_capture.size() - m_offset);
    out.Bytes = std::span<const std::uint8_t>(m_capture).subspan(m_offset, count);
    out.At = std::chrono::duration_cast<std::chrono::microseconds>(kPacketInterval * m_runIndex);
    m_offset += count;
    ++m_runIndex;
    return true;
}

} // namespace varmio::relaysim
