// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/Pacer.h"

#include <algorithm>
#include <cmath>

namespace varmio::relaysim {

Pacer::Pacer(double speed) : m_speed(speed)
{
    if (speed != kUnpaced && !(std::isfinite(speed) && speed > 0.0))
        throw std::invalid_argument("the speed factor must be a positive number");
}

void Pacer::Start(Clock::time_point now)
{
    m_origin = now;
    m_paused = false;
}

void Pacer::Pause(Clock::time_point now)
{
    if (m_paused) return;
    m_pausedAt = now;
    m_paused = true;
}

void Pacer::Resume(Clock::time_point now)
{
    if (!m_paused) return;
    m_origin += now - m_pausedAt;
    m_paused = false;
}

Pacer::Clock::time_point Pacer::DueAt(std::chrono::microseconds streamTime) const
{
    if (!Paced()) return m_origin;
    // Saturates centuries ahead rather than overflow at absurdly slow speeds.
    constexpr double kFarAhead = 1e18; // nanoseconds
    const double scaled = std::min(static_cast<double>(streamTime.count()) * 1000.0 / m_speed, kFarAhead);
    return m_origin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::nano>(scaled));
}

} // namespace varmio::relaysim
