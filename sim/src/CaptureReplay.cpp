// SPDX-License-Identifier: GPL-3.0-or-later
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
    if (fd < 0) ThrowUnreadable(path, errno);
    std::vector<std::uint8_t> bytes;
    int error = 0;
    struct stat info {};
    if (::fstat(fd, &info) != 0) error = errno;
    else if (S_ISDIR(info.st_mode)) error = EISDIR;
    else {
        bytes.reserve(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)));
        std::uint8_t block[65536];
        for (;;) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n > 0) bytes.insert(bytes.end(), block, block + n);
            else if (n == 0) break;
            else if (errno != EINTR) {
                error = errno;
                break;
            }
        }
    }
    ::close(fd);
    if (error != 0) ThrowUnreadable(path, error);
    if (bytes.empty()) throw CaptureError("capture \"" + path + "\" is empty");
    return bytes;
}

CaptureReplay::CaptureReplay(std::vector<std::uint8_t> capture, bool loop) : m_capture(std::move(capture)), m_loop(loop)
{
    if (m_capture.empty()) throw CaptureError("the capture to replay is empty");
}

bool CaptureReplay::Next(TimedBytes& out)
{
    if (m_offset == m_capture.size()) {
        if (!m_loop) return false;
        m_offset = 0;
    }
    const std::size_t count = std::min(kPacketSize, m_capture.size() - m_offset);
    out.Bytes = std::span<const std::uint8_t>(m_capture).subspan(m_offset, count);
    out.At = std::chrono::duration_cast<std::chrono::microseconds>(kPacketInterval * m_runIndex);
    m_offset += count;
    ++m_runIndex;
    return true;
}

CaptureFileReplay::CaptureFileReplay(const std::string& path, bool loop) : m_path(path), m_loop(loop)
{
    m_chunk.reserve(kChunkBytes);
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (m_fd < 0) ThrowUnreadable(path, errno);
    try {
        struct stat info {};
        if (::fstat(m_fd, &info) != 0) Fail(errno);
        if (S_ISDIR(info.st_mode)) Fail(EISDIR);
        if (!Fill()) throw CaptureError("capture \"" + path + "\" is empty");
        if (loop && ::lseek(m_fd, 0, SEEK_CUR) < 0)
            throw CaptureError("capture \"" + path +
                               "\" cannot be replayed over and over: it cannot be read again from "
                               "its start");
    } catch (...) {
        ::close(m_fd);
        throw;
    }
}

CaptureFileReplay::~CaptureFileReplay() { ::close(m_fd); }

void CaptureFileReplay::Fail(int error) const { ThrowUnreadable(m_path, error); }

bool CaptureFileReplay::Fill()
{
    m_chunk.resize(kChunkBytes);
    m_at = 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, m_chunk.data(), m_chunk.size());
        if (n >= 0) {
            m_chunk.resize(static_cast<std::size_t>(n));
            return n > 0;
        }
        if (errno != EINTR) Fail(errno);
    }
}

bool CaptureFileReplay::Next(TimedBytes& out)
{
    std::size_t count = 0;
    bool rewound = false;
    while (count < m_run.size()) {
        if (m_at == m_chunk.size() && !Fill()) {
            if (count > 0) break; // the pass's last run, shorter
            // The end of a pass: the next begins at the file's start. A file that has nothing from
            // its start on any more (emptied meanwhile) ends the replay instead of spinning.
            if (!m_loop || rewound) return false;
            if (::lseek(m_fd, 0, SEEK_SET) < 0) Fail(errno);
            rewound = true;
            continue;
        }
        const std::size_t take = std::min(m_run.size() - count, m_chunk.size() - m_at);
        std::copy_n(m_chunk.begin() + static_cast<std::ptrdiff_t>(m_at), take,
                    m_run.begin() + static_cast<std::ptrdiff_t>(count));
        m_at += take;
        count += take;
    }
    out.Bytes = std::span<const std::uint8_t>(m_run.data(), count);
    out.At = std::chrono::duration_cast<std::chrono::microseconds>(CaptureReplay::kPacketInterval * m_runIndex);
    ++m_runIndex;
    return true;
}

} // namespace varmio::relaysim
