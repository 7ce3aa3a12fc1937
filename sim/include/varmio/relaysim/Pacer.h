// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Maps stream time to the wall clock: at speed 1 a run of bytes stamped t is due t after the start,
// at speed s after t / s. Time spent paused (no reader) is left out, so the stream carries on where it
// stopped instead of catching up in a burst. An unpaced pacer makes everything due at once.
//
// Pure arithmetic on the time points it is given; the caller owns the clock. Used by one thread.

#include <chrono>
#include <stdexcept>

namespace varmio::relaysim {

class Pacer {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr double kUnpaced = 0.0;

    // `speed`: a positive, finite factor, or kUnpaced. Throws std::invalid_argument otherwise.
    explicit Pacer(double speed);

    double Speed() const { return m_speed; }
    bool Paced() const { return m_speed != kUnpaced; }

    void Start(Clock::time_point now);
    void Pause(Clock::time_point now);
    void Resume(Clock::time_point now);

    // When the bytes stamped `streamTime` are due; the start time itself while unpaced.
    Clock::time_point DueAt(std::chrono::microseconds streamTime) const;

private:
    double m_speed;
    Clock::time_point m_origin{};
    Clock::time_point m_pausedAt{};
    bool m_paused = false;
};

} // namespace varmio::relaysim
