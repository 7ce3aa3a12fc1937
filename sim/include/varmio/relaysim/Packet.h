// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relay's serial packet (its framing is the monitor core's, varmio/RelayPacket.h) and the
// OpenTherm vocabulary the simulator speaks.

#include "varmio/RelayPacket.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace varmio::relaysim {

// OpenTherm message types, as the three type bits of a frame carry them.
enum MessageType : std::uint8_t {
    mtReadData = 0,
    mtWriteData = 1,
    mtInvalidData = 2,
    mtReadAck = 4,
    mtWriteAck = 5,
    mtDataInvalid = 6,
    mtUnknownDataId = 7,
};

struct Packet {
    std::uint8_t MsgType = 0;
    std::uint8_t DataId = 0;
    std::uint8_t ValueHigh = 0;
    std::uint8_t ValueLow = 0;

    std::uint16_t Value() const { return static_cast<std::uint16_t>(ValueHigh << 8 | ValueLow); }
    std::array<std::uint8_t, kPacketSize> Bytes() const
    {
        std::array<std::uint8_t, kPacketSize> bytes{};
        for (std::size_t i = 0; i < kSyncCount; ++i) bytes[i] = kSyncByte;
        bytes[kMsgTypeAt] = MsgType;
        bytes[kDataIdAt] = DataId;
        bytes[kValueHighAt] = ValueHigh;
        bytes[kValueLowAt] = ValueLow;
        return bytes;
    }
    bool operator==(const Packet&) const = default;
};

// A packet whose value is the 16-bit `value`, high byte first.
constexpr Packet MakePacket(std::uint8_t msgType, std::uint8_t dataId, std::uint16_t value)
{
    return {msgType, dataId, static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value & 0xFF)};
}

// OpenTherm f8.8: the nearest multiple of 1/256, two's complement for negative values; saturates at
// the ends of the range (-128 .. 127.996 when isSigned, else 0 .. 255.996).
std::uint16_t ToFixed88(double value, bool isSigned);
double FromFixed88(std::uint16_t raw, bool isSigned);

} // namespace varmio::relaysim
