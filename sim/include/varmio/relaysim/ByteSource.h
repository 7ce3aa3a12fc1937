// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the relay sends and when: a stream of byte runs, each stamped with its stream time, the moment
// the relay sends it counted from the start of the stream at speed 1. The pacing maps stream time to
// the wall clock; an unpaced relay ignores it.

#include <chrono>
#include <cstdint>
#include <span>

namespace varmio::relaysim {

struct TimedBytes {
    std::chrono::microseconds At{0};
    // Valid until the next call of the source that produced it.
    std::span<const std::uint8_t> Bytes;
};

// Used by one thread at a time.
class IByteSource {
public:
    virtual ~IByteSource() = default;
    // The next run of bytes, with stream times that never decrease; false once the stream has ended.
    virtual bool Next(TimedBytes& out) = 0;
    // True when the stream never ends.
    virtual bool Endless() const = 0;
};

} // namespace varmio::relaysim
