// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/RecordLog.h"

#include "Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace varmio {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kWriteChunk = 64 * 1024;

[[noreturn]] void ThrowWriteError() { throw FileError("Stream write error"); }

// Creates or truncates the file; the message names the file by its full path.
int CreateFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    const int error = errno;
    std::string fullPath = path;
    std::error_code ec;
    if (auto absolute = std::filesystem::absolute(path, ec); !ec) fullPath = absolute.lexically_normal().string();
    throw FileError("Cannot create file \"" + fullPath + "\". " + std::strerror(error));
}

// Hands all of `bytes` to the system. A short count is retried from where it stopped; an error, or a
// write that stores nothing, is a failure.
void WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) ThrowWriteError();
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

// Closes the file; the close of a file system that writes late may be the first to see the failure.
void CloseFile(int fd)
{
    if (::close(fd) != 0 && errno != EINTR) ThrowWriteError();
}

// Appends one encoded line with its line end; returns the count of "?" written.
std::size_t AppendLine(std::string& out, std::string_view utf8Line)
{
    const std::size_t unmappable = detail::AppendWindows1250(out, utf8Line);
    out += kLineEnd;
    return unmappable;
}

} // namespace

std::string ToWindows1250(std::string_view utf8, std::size_t* unmappable)
{
    std::string out;
    out.reserve(utf8.size());
    const std::size_t count = detail::AppendWindows1250(out, utf8);
    if (unmappable != nullptr) *unmappable = count;
    return out;
}

std::string OfferedRecordLogName(std::string_view shortDate)
{
    constexpr std::string_view kRefused = "/\\:*?\"<>|";
    std::string name(shortDate);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || kRefused.find(c) != std::string_view::npos) c = '-';
    }
    return name + " Zelb.csv";
}

std::size_t WriteRecordLog(const std::string& path, std::string_view text)
{
    const int fd = CreateFile(path);
    std::size_t unmappable = 0;
    try {
        std::string chunk;
        chunk.reserve(kWriteChunk + 256);
        while (!text.empty()) {
            // A line ends at LF, CR LF or a lone CR; a break at the very end starts no further line.
            std::size_t end = text.find_first_of("\r\n");
            std::size_t next = text.size();
            if (end == std::string_view::npos) {
                end = text.size();
            } else {
                next = end + 1;
                if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
            }
            unmappable += AppendLine(chunk, text.substr(0, end));
            text.remove_prefix(next);
            if (chunk.size() >= kWriteChunk) {
                WriteAll(fd, chunk);
                chunk.clear();
            }
        }
        WriteAll(fd, chunk);
    } catch (...) {
        ::close(fd);
        throw;
    }
    CloseFile(fd);
    return unmappable;
}

LogFileWriter::LogFileWriter(const std::string& path) : m_fd(CreateFile(path)) {}

LogFileWriter::~LogFileWriter()
{
    if (m_fd >= 0) ::close(m_fd);
}

void LogFileWriter::WriteLine(std::string_view utf8Line)
{
    if (m_fd < 0) ThrowWriteError(); // written after Close
    m_buffer.clear();
    m_unmappable += AppendLine(m_buffer, utf8Line);
    WriteAll(m_fd, m_buffer);
}

void LogFileWriter::Close()
{
    if (m_fd < 0) return;
    const int fd = std::exchange(m_fd, -1);
    CloseFile(fd);
}

} // namespace varmio
