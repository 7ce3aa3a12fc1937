// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Replays a capture in the relay's packet form (files of 7-byte packets, as a relay wrote them):
// the file's bytes exactly as they are, once or over and over, in 7-byte runs, one every half second of
// stream time (about one request/answer pair per second). A file whose length is not a whole number of
// packets is sent all the same; its last run is shorter. CaptureReplay replays bytes held in memory;
// CaptureFileReplay streams a file of any size (or an endless one, such as a device) in chunks.

#include "varmio/RelayPacket.h"
#include "varmio/relaysim/ByteSource.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace varmio::relaysim {

// A capture that cannot be used; what() says which file and why.
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole file. Throws CaptureError when the file cannot be read or is empty.
std::vector<std::uint8_t> LoadCapture(const std::string& path);

// Used by one thread at a time.
class CaptureReplay final : public IByteSource {
public:
    static constexpr std::chrono::milliseconds kPacketInterval{500};

    // Throws CaptureError when `capture` is empty (a loop over nothing would never send a byte).
    CaptureReplay(std::vector<std::uint8_t> capture, bool loop);

    bool Next(TimedBytes& out) override;
    bool Endless() const override { return m_loop; }

    const std::vector<std::uint8_t>& Capture() const { return m_capture; }

private:
    std::vector<std::uint8_t> m_capture;
    bool m_loop;
    std::size_t m_offset = 0;
    std::int64_t m_runIndex = 0;
};

// Used by one thread at a time.
class CaptureFileReplay final : public IByteSource {
public:
    static constexpr std::size_t kChunkBytes = 64 * 1024;

    // Opens the file and reads its first chunk. Throws CaptureError when it cannot be read, is empty,
    // or is to be looped but cannot be read again from its start (a pipe).
    CaptureFileReplay(const std::string& path, bool loop);
    ~CaptureFileReplay() override;
    CaptureFileReplay(const CaptureFileReplay&) = delete;
    CaptureFileReplay& operator=(const CaptureFileReplay&) = delete;

    // Throws CaptureError when a read fails.
    bool Next(TimedBytes& out) override;
    bool Endless() const override { return m_loop; }

private:
    bool Fill();
    [[noreturn]] void Fail(int error) const;

    std::string m_path;
    int m_fd = -1;
    bool m_loop;
    std::vector<std::uint8_t> m_chunk;
    std::size_t m_at = 0;                          // next byte of the chunk to send
    std::array<std::uint8_t, kPacketSize> m_run{}; // the run handed out last
    std::int64_t m_runIndex = 0;
};

} // namespace varmio::relaysim
