// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the logger's bytes come from. Replay reads a file or standard input; other sources (a serial
// port, the built-in demo relay) implement the same interface.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace varmio::logger {

// A source that cannot be opened or read; what() is a complete one-line message.
class SourceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Waits for bytes and copies what has arrived, at most buffer.size(), in the order received.
    // Returns 0 only at the end of the source. Throws SourceError.
    virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;
};

// A file read to its end; "-" is standard input. Throws SourceError when it cannot be opened or is a
// folder. Opening never waits (a named pipe without a writer yet is opened at once; Read waits).
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t Read(std::span<std::uint8_t> buffer) override;

    // Readable when Read has something to return (bytes or the end).
    int Fd() const { return m_fd; }
    // The input in messages ("\"PATH\"" or "standard input") and what fstat said of it.
    const std::string& Name() const { return m_name; }
    const struct stat& Info() const { return m_info; }

private:
    std::string m_name;
    int m_fd = -1;
    bool m_owned = false;
    struct stat m_info {};
};

} // namespace varmio::logger
