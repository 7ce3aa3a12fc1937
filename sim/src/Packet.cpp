// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/Packet.h"

#include <algorithm>
#include <cmath>

namespace varmio::relaysim {

std::uint16_t ToFixed88(double value, bool isSigned)
{
    if (std::isnan(value)) return 0;
    const double low = isSigned ? -32768.0 : 0.0;
    const double high = isSigned ? 32767.0 : 65535.0;
    const auto steps = static_cast<std::int32_t>(std::clamp(std::round(value * 256.0), low, high));
    return static_cast<std::uint16_t>(steps & 0xFFFF);
}

double FromFixed88(std::uint16_t raw, bool isSigned)
{
    const std::int32_t steps = isSigned && raw >= 0x8000 ? raw - 0x10000 : raw;
    return steps / 256.0;
}

} // namespace varmio::relaysim
