// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The built-in conversation: an endless, realistic exchange between a room thermostat (the master) and
// a boiler (the slave), as a relay on their line forwards it.
//
// Behind the frames runs a small heating model: the outside temperature drifts over the day, the
// thermostat follows its day and night setpoints and asks for heat with some hysteresis, the boiler
// lights its burner, modulates, cycles when the load is low and heats its hot-water tank after tapping.
// The master asks about one thing per second: it writes the control setpoint (ID 1), room setpoint
// (16), room temperature (24) and hot-water setpoint (56), reads the status (0) every third exchange,
// the modulation (17), flow (25), hot-water (26) and outside (27) temperatures, and now and then one of
// a dozen other data IDs, two of which the boiler does not know. Temperatures are f8.8 values with
// sensor resolution and noise, so a 0x35 byte turns up inside a value now and then.
//
// Deterministic: the same seed and start time give the same frames. The model runs on its own clock
// (one exchange per second of stream time), not on the wall clock.

#include "varmio/relaysim/ByteSource.h"
#include "varmio/relaysim/Packet.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>

namespace varmio::relaysim {

struct Exchange {
    Packet Request;
    Packet Answer;
    std::chrono::microseconds RequestAt{0}; // stream time
    std::chrono::microseconds AnswerAt{0};  // stream time, a little after the request
};

// The local time of day now, for a conversation that keeps to the user's clock.
std::chrono::seconds LocalTimeOfDay();

// Used by one thread at a time.
class Conversation final : public IByteSource {
public:
    static constexpr std::chrono::seconds kExchangePeriod{1};

    // `startTimeOfDay`: local time of day at the start of the stream; the thermostat's schedule and the
    // outside temperature's daily swing follow it.
    explicit Conversation(std::uint64_t seed, std::chrono::seconds startTimeOfDay = std::chrono::hours(12));
    ~Conversation() override;
    Conversation(const Conversation&) = delete;
    Conversation& operator=(const Conversation&) = delete;

    // The next request and its answer; advances the model by one exchange period.
    Exchange NextExchange();

    // The request, then the answer, of each exchange in turn, one packet per call.
    bool Next(TimedBytes& out) override;
    bool Endless() const override { return true; }

private:
    class Model;
    std::unique_ptr<Model> m_model;
    Exchange m_exchange;
    bool m_answerDue = false;
    std::array<std::uint8_t, kPacketSize> m_bytes{};
};

} // namespace varmio::relaysim
