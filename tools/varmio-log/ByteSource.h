#pragma once
// Where the logger's bytes come from. Replay reads a file or standard input; other sources (a serial
// port, the built-in demo relay) implement the same interface.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

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

// A file read to its end; "-" is standard input. Throws SourceError when it cannot be opened.
class FileSource : public ByteSource {
public:
    explicit FileSource(const std::string& path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t Read(std::span<std::uint8_t> buffer) override;

private:
    std::string m_name; // for messages
    int m_fd = -1;
    bool m_owned = false;
};

} // namespace varmio::logger
