// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/relaysim/Conversation.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>

namespace varmio::relaysim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// SplitMix64: small, fast and the same on every platform, which the standard distributions are not.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t Bits()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double Uniform() { return static_cast<double>(Bits() >> 11) * 0x1.0p-53; } // [0, 1)
    double Uniform(double low, double high) { return low + (high - low) * Uniform(); }
    bool Chance(double probability) { return Uniform() < probability; }

private:
    std::uint64_t m_state;
};

constexpr double kDay = 86400.0;
constexpr double kStep = 1.0; // seconds of model time per exchange

// The master's round: status every third exchange, the eight monitored values, and a slot (0xFF) for
// one of the other data IDs in turn.
constexpr std::uint8_t kOtherSlot = 0xFF;
constexpr std::array<std::uint8_t, 18> kRound{0, 1, 25, 0, 24, 17, 0, 16, 26, 0, 27, 56, 0, 1, 28, 0, 17, kOtherSlot};
constexpr std::array<std::uint8_t, 16> kOtherIds{3, 5, 14, 18, 57, 48, 49, 115, 116, 120, 125, 124, 2, 19, 33, 18};

double RoundTo(double value, double step) { return std::round(value / step) * step; }

} // namespace

class Conversation::Model {
public:
    Model(std::uint64_t seed, std::chrono::seconds startTimeOfDay) : m_random(seed)
    {
        m_outsideBase = m_random.Uniform(-4.0, 9.0);
        m_daySetpoint = 20.0 + 0.5 * std::floor(m_random.Uniform(0.0, 4.0)); // 20 .. 21.5
        m_nightSetpoint = m_daySetpoint - 3.0;
        m_dhwSetpoint = m_random.Chance(0.5) ? 50.0 : 55.0;
        m_burnerStarts = 3000 + static_cast<int>(m_random.Uniform(0.0, 20000.0));
        m_burnerSeconds = 3600.0 * m_random.Uniform(800.0, 6000.0);

        // Start an hour early and let the house settle, so the stream opens in a natural state.
        constexpr double kWarmUp = 3600.0;
        m_time = std::fmod(static_cast<double>(startTimeOfDay.count()) - kWarmUp + 10 * kDay, kDay);
        m_day = IsDayTime();
        m_setpoint = m_day ? m_daySetpoint : m_nightSetpoint;
        m_room = m_setpoint - m_random.Uniform(0.0, 0.6);
        m_loop = m_room + 15.0;
        m_flow = m_loop;
        m_return = m_loop;
        m_dhw = m_dhwSetpoint - m_random.Uniform(0.0, 4.0);
        UpdateOutside();
        UpdateControlSetpoint();
        for (double t = 0; t < kWarmUp; t += kStep) Step();
    }

    Exchange NextExchange()
    {
        Exchange e;
        e.RequestAt = microseconds(m_exchangeIndex * 1000000LL);
        e.AnswerAt = e.RequestAt + milliseconds(static_cast<int>(m_random.Uniform(100.0, 400.0)));
        const std::uint8_t id = NextDataId();
        e.Request = Request(id);
        e.Answer = Answer(e.Request);
        ++m_exchangeIndex;
        Step();
        return e;
    }

private:
    std::uint8_t NextDataId()
    {
        const std::uint8_t id = kRound[m_exchangeIndex % kRound.size()];
        if (id != kOtherSlot) return id;
        return kOtherIds[(m_exchangeIndex / kRound.size()) % kOtherIds.size()];
    }

    Packet Request(std::uint8_t id) const
    {
        switch (id) {
        case 0: return MakePacket(mtReadData, id, static_cast<std::uint16_t>(MasterStatus() << 8));
        case 1: return MakePacket(mtWriteData, id, ToFixed88(m_controlSetpoint, false));
        case 2: return MakePacket(mtWriteData, id, 0x0016);                   // master configuration: member ID
        case 14: return MakePacket(mtWriteData, id, ToFixed88(100.0, false)); // max. modulation, %
        case 16: return MakePacket(mtWriteData, id, ToFixed88(m_setpoint, false));
        case 24: return MakePacket(mtWriteData, id, ToFixed88(m_roomReading, false));
        case 56: return MakePacket(mtWriteData, id, ToFixed88(m_dhwSetpoint, false));
        case 57: return MakePacket(mtWriteData, id, ToFixed88(80.0, false)); // max. CH water setpoint
        case 124: return MakePacket(mtWriteData, id, ToFixed88(2.2, false)); // protocol version
        default: return MakePacket(mtReadData, id, 0);
        }
    }

    // The boiler's answer: writes are acknowledged with the value written, reads with its own value.
    Packet Answer(const Packet& request)
    {
        if (request.MsgType == mtWriteData) return MakePacket(mtWriteAck, request.DataId, request.Value());
        const auto ack = [&](std::uint16_t value) { return MakePacket(mtReadAck, request.DataId, value); };
        const auto temperature = [&](double value, double noise) {
            return ack(ToFixed88(value + m_random.Uniform(-noise, noise), false));
        };
        switch (request.DataId) {
        case 0: return ack(static_cast<std::uint16_t>(MasterStatus() << 8 | SlaveStatus()));
        case 3: return ack(0x0911); // hot water present, storage tank; member ID
        case 5: return ack(0x0000); // no fault flags, no OEM fault code
        case 17: return ack(static_cast<std::uint16_t>(std::lround(m_modulation * 100.0) << 8));
        case 18: return ack(ToFixed88(1.45 + 0.004 * (m_loop - 20.0) + m_random.Uniform(-0.01, 0.01), false));
        case 25: return temperature(m_flow, 0.1);
        case 26: return temperature(m_dhw, 0.05);
        case 27: return ack(ToFixed88(m_outside + m_random.Uniform(-0.1, 0.1), true));
        case 28: return temperature(m_return, 0.1);
        case 48: return ack(0x4123);  // hot-water setpoint bounds 65 / 35
        case 49: return ack(0x5514);  // CH setpoint bounds 85 / 20
        case 115: return ack(0x0000); // no OEM diagnostic code
        case 116: return ack(static_cast<std::uint16_t>(m_burnerStarts));
        case 120: return ack(static_cast<std::uint16_t>(m_burnerSeconds / 3600.0));
        case 125: return ack(ToFixed88(2.2, false));
        default: return MakePacket(mtUnknownDataId, request.DataId, request.Value());
        }
    }

    int MasterStatus() const { return (m_demand ? 0x01 : 0) | 0x02; } // CH enable, DHW enable
    int SlaveStatus() const { return (ChPump() ? 0x02 : 0) | (m_dhwMode ? 0x04 : 0) | (m_flame ? 0x08 : 0); }
    bool ChPump() const { return m_demand && !m_dhwMode; }

    bool IsDayTime() const { return m_time >= 6.0 * 3600 && m_time < 22.5 * 3600; }

    void UpdateOutside()
    {
        m_outsideDrift = std::clamp(m_outsideDrift + m_random.Uniform(-0.004, 0.004), -1.5, 1.5);
        const double swing = 3.0 * std::cos(2.0 * std::numbers::pi * (m_time - 15.0 * 3600) / kDay);
        m_outside = m_outsideBase + swing + m_outsideDrift;
    }

    // The thermostat: weather-compensated curve plus a proportional term on the room error.
    void UpdateControlSetpoint()
    {
        if (m_room < m_setpoint - 0.2) m_demand = true;
        else if (m_room > m_setpoint + 0.2) m_demand = false;
        const double curve = m_setpoint + 10.0 + 1.3 * (m_setpoint - m_outside) + 10.0 * (m_setpoint - m_room);
        m_controlSetpoint = m_demand ? RoundTo(std::clamp(curve, 25.0, 75.0), 0.5) : 10.0;
    }

    void Step()
    {
        m_time = std::fmod(m_time + kStep, kDay);
        UpdateOutside();

        // Thermostat: schedule, the occasional hand on the dial, the control loop once a minute.
        if (IsDayTime() != m_day) {
            m_day = IsDayTime();
            m_setpoint = m_day ? m_daySetpoint : m_nightSetpoint;
        }
        if (m_random.Chance(1.0 / 14400.0))
            m_setpoint = std::clamp(m_setpoint + (m_random.Chance(0.5) ? 0.5 : -0.5), 16.0, 23.0);
        if (std::fmod(m_time, 60.0) == 0.0) UpdateControlSetpoint();
        m_roomReading = RoundTo(m_room + m_random.Uniform(-0.02, 0.02), 0.01);

        // Hot water drawn now and then in the day.
        if (m_tapLeft > 0) m_tapLeft -= kStep;
        else if (m_day && m_random.Chance(1.0 / 2700.0)) m_tapLeft = m_random.Uniform(40.0, 300.0);

        // Boiler: hot water has priority over heating.
        if (!m_dhwMode && m_dhw < m_dhwSetpoint - 5.0) m_dhwMode = true;
        else if (m_dhwMode && m_dhw >= m_dhwSetpoint + 1.0) m_dhwMode = false;
        const bool wantHeat = m_dhwMode || ChPump();
        const double target = m_dhwMode ? std::min(m_dhw + 20.0, 75.0) : m_controlSetpoint;
        m_sinceFlameOff += kStep;
        if (m_flame && (!wantHeat || m_flow > target + 5.0)) {
            m_flame = false;
            m_sinceFlameOff = 0;
        } else if (!m_flame && wantHeat && m_flow < target - 3.0 && (m_dhwMode || m_sinceFlameOff >= 180.0)) {
            m_flame = true;
            m_modulation = 0.5;
            ++m_burnerStarts;
        }
        if (m_flame) {
            m_modulation = std::clamp(m_modulation + 0.004 * (target - m_flow), kMinModulation, 1.0);
            m_burnerSeconds += kStep;
        } else {
            m_modulation = 0;
        }

        // Water: the boiler's small volume heats fast and hands its heat to the radiator loop or the
        // tank coil; the loop warms the room, the room and the tank lose heat.
        const double burner = 0.8 * m_modulation;
        double flowChange = burner;
        if (m_dhwMode) {
            const double exchanged = 0.05 * (m_flow - m_dhw);
            flowChange -= exchanged;
            m_dhw += 0.02 * exchanged * kStep;
        } else if (ChPump()) {
            const double exchanged = 0.05 * (m_flow - m_loop);
            flowChange -= exchanged;
            m_loop += 0.05 * exchanged * kStep;
        } else {
            flowChange -= 0.002 * (m_flow - m_room);
        }
        m_flow += flowChange * kStep;
        m_loop -= 5e-4 * (m_loop - m_room) * kStep;
        m_room += (1.06e-5 * (m_loop - m_room) - 6e-6 * (m_room - m_outside)) * kStep;
        m_dhw -= (1e-5 * (m_dhw - m_room) + (m_tapLeft > 0 ? 0.02 : 0.0)) * kStep;
        // The return sensor sees the water of whichever path the boiler's valve has open.
        const double returning = m_dhwMode ? m_dhw + 3.0 : ChPump() ? m_loop : m_flow - 1.0;
        m_return += 0.05 * (returning - m_return) * kStep;
    }

    static constexpr double kMinModulation = 0.12;

    Random m_random;
    long long m_exchangeIndex = 0;
    double m_time = 0; // local time of day, seconds
    bool m_day = true;

    double m_outsideBase = 0;
    double m_outsideDrift = 0;
    double m_outside = 0;

    double m_daySetpoint = 20.5;
    double m_nightSetpoint = 17.5;
    double m_setpoint = 20.5;
    double m_controlSetpoint = 10.0;
    double m_roomReading = 20.0;
    bool m_demand = false;

    double m_dhwSetpoint = 50.0;
    double m_tapLeft = 0;
    bool m_dhwMode = false;

    bool m_flame = false;
    double m_modulation = 0;
    double m_sinceFlameOff = 1e9;
    int m_burnerStarts = 0;
    double m_burnerSeconds = 0;

    double m_room = 20.0;   // room air
    double m_loop = 30.0;   // radiator loop water
    double m_flow = 30.0;   // boiler outlet water
    double m_dhw = 50.0;    // hot-water tank
    double m_return = 30.0; // at the boiler's return sensor
};

std::chrono::seconds LocalTimeOfDay()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::chrono::seconds(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
}

Conversation::Conversation(std::uint64_t seed, std::chrono::seconds startTimeOfDay)
    : m_model(std::make_unique<Model>(seed, startTimeOfDay))
{
}

Conversation::~Conversation() = default;

Exchange Conversation::NextExchange() { return m_model->NextExchange(); }

bool Conversation::Next(TimedBytes& out)
{
    if (m_answerDue) {
        m_bytes = m_exchange.Answer.Bytes();
        out.At = m_exchange.AnswerAt;
    } else {
        m_exchange = NextExchange();
        m_bytes = m_exchange.Request.Bytes();
        out.At = m_exchange.RequestAt;
    }
    m_answerDue = !m_answerDue;
    out.Bytes = m_bytes;
    return true;
}

} // namespace varmio::relaysim
