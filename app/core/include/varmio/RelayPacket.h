// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relay's serial packet, the one framing the monitor reads and the relay simulator writes: three
// sync bytes, then the OpenTherm frame's message type, data ID and the two bytes of its data value,
// high byte first. No length byte, no checksum. Constants only; safe from any thread.

#include <cstddef>
#include <cstdint>

namespace varmio {

// Every relay packet starts with kSyncCount of these.
inline constexpr std::uint8_t kSyncByte = 0x35;
inline constexpr std::size_t kSyncCount = 3;

// Where each field of the frame stands in the packet, in the order they are sent.
enum PacketField : std::size_t {
    kMsgTypeAt = kSyncCount,
    kDataIdAt,
    kValueHighAt,
    kValueLowAt,
};

// The whole packet, sync bytes included.
inline constexpr std::size_t kPacketSize = kValueLowAt + 1;

} // namespace varmio
