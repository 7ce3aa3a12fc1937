// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The line the simulator sends its stream on, and how it learns whether anyone listens: a
// pseudo-terminal (PseudoTerminal.h) or a raw TCP bridge on the loopback interface (TcpBridge.h).
//
// Used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace varmio::relaysim {

class RelayLine {
public:
    virtual ~RelayLine() = default;

    // What a program opens to listen: a device path, or a network port name.
    virtual const std::string& DevicePath() const = 0;
    // Descriptors to wait on: writable when the line takes bytes (negative while nobody listens), and
    // readable when there are notices about listeners.
    virtual int WriteFd() const = 0;
    virtual int WatchFd() const = 0;
    // Takes in all pending notices. Never blocks.
    virtual void TakeNotices() = 0;
    // Listeners now (counted from the notices taken so far).
    virtual int Readers() const = 0;
    // Whether every read by a listener raises a notice (to follow it emptying the line).
    virtual void NoticeReads(bool on) = 0;
    // Writes what the line takes now, without blocking; the count written (0 when it is full).
    // Throws std::system_error on failure.
    virtual std::size_t Write(std::span<const std::uint8_t> bytes) = 0;
    // True when no byte written still waits on the way to the listener.
    virtual bool InputQueueEmpty() const = 0;
};

} // namespace varmio::relaysim
