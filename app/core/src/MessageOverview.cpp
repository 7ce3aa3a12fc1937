// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/MessageOverview.h"

#include "varmio/OpenTherm.h"

#include <algorithm>

namespace varmio {

void MessageOverview::Add(const Frame& frame, TimePoint when)
{
    std::int16_t& place = m_place[frame.DataId];
    if (place < 0) {
        place = static_cast<std::int16_t>(m_rowCount);
        m_order[m_rowCount++] = frame.DataId;
    }
    OverviewRow& row = m_rows[frame.DataId];
    row.DataId = frame.DataId;
    const auto raw = static_cast<std::uint16_t>(frame.DataValue);
    // A type above 7 is not OpenTherm's (a damaged packet): counted, but neither request nor answer.
    switch (MessageDirection(frame.MsgType)) {
    case Direction::ThermostatToBoiler:
        row.HasRequest = true;
        row.RequestType = frame.MsgType;
        row.RequestRaw = raw;
        break;
    case Direction::BoilerToThermostat:
        row.HasAnswer = true;
        row.AnswerType = frame.MsgType;
        row.AnswerRaw = raw;
        break;
    case Direction::Unknown: break;
    }
    ++row.Count;
    row.LastSeen = when;
    m_changed.set(frame.DataId);
}

const OverviewRow* MessageOverview::Find(std::uint8_t dataId) const
{
    return m_place[dataId] < 0 ? nullptr : &m_rows[dataId];
}

std::bitset<MessageOverview::kMaxRows> MessageOverview::TakeChanged()
{
    const std::bitset<kMaxRows> changed = m_changed;
    m_changed.reset();
    return changed;
}

void MessageOverview::Clear()
{
    m_rows.fill(OverviewRow{});
    m_place = Unplaced();
    m_rowCount = 0;
    m_changed.reset();
}

MessageLog::MessageLog(std::size_t capacity, std::size_t block)
    : m_capacity(std::max<std::size_t>(capacity, 1)), m_block(std::clamp<std::size_t>(block, 1, m_capacity))
{
}

void MessageLog::Add(const Frame& frame, TimePoint when)
{
    if (m_messages.size() >= m_capacity) {
        m_messages.erase(m_messages.begin(), m_messages.begin() + static_cast<std::ptrdiff_t>(m_block));
    }
    m_messages.push_back({when, frame.MsgType, frame.DataId, static_cast<std::uint16_t>(frame.DataValue)});
    ++m_added;
}

void MessageLog::Clear()
{
    m_messages.clear();
    m_added = 0;
}

} // namespace varmio
