// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the message window shows, kept by the core from the same frames the Monitor reads: the
// overview (one row per data ID seen: last request, last answer, count, last time) and the message
// log (every frame, capped). Both are bounded: the overview holds at most 256 rows, the log at most
// its capacity, dropping its oldest messages a block at a time.
//
// Not synchronised: use them on the thread that feeds the Monitor (the main thread).

#include "varmio/Monitor.h"

#include <array>
#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace varmio {

using TimePoint = std::chrono::system_clock::time_point;

struct OverviewRow {
    std::uint8_t DataId = 0;
    bool HasRequest = false; // a thermostat frame (types 0..3) was seen
    std::uint8_t RequestType = 0;
    std::uint16_t RequestRaw = 0;
    bool HasAnswer = false; // a boiler frame (types 4..7) was seen
    std::uint8_t AnswerType = 0;
    std::uint16_t AnswerRaw = 0;
    std::uint64_t Count = 0; // every frame with this ID, whatever its type
    TimePoint LastSeen{};
};

class MessageOverview {
public:
    static constexpr std::size_t kMaxRows = 256;

    // Takes one frame seen at `when`. Allocates nothing.
    void Add(const Frame& frame, TimePoint when);

    // Rows in the order their IDs were first seen; a row keeps its place until Clear.
    std::size_t RowCount() const { return m_rowCount; }
    const OverviewRow& Row(std::size_t place) const { return m_rows[m_order[place]]; }
    // The row of `dataId`, or null when the ID has not been seen.
    const OverviewRow* Find(std::uint8_t dataId) const;
    // The place of `dataId`'s row, or -1.
    int PlaceOf(std::uint8_t dataId) const { return m_place[dataId]; }

    // The data IDs whose rows changed (or appeared) since the last call; the set is then cleared.
    std::bitset<kMaxRows> TakeChanged();
    void Clear();

private:
    std::array<OverviewRow, kMaxRows> m_rows{};              // by data ID
    std::array<std::uint8_t, kMaxRows> m_order{};            // place -> data ID
    std::array<std::int16_t, kMaxRows> m_place = Unplaced(); // data ID -> place, -1 unseen
    std::size_t m_rowCount = 0;
    std::bitset<kMaxRows> m_changed;

    static constexpr std::array<std::int16_t, kMaxRows> Unplaced()
    {
        std::array<std::int16_t, kMaxRows> places{};
        places.fill(-1);
        return places;
    }
};

struct LoggedMessage {
    TimePoint When{};
    std::uint8_t MsgType = 0;
    std::uint8_t DataId = 0;
    std::uint16_t Raw = 0;
};

// Every frame, oldest first, up to a capacity. When a frame arrives at a full log, the oldest
// `block` messages leave together, so that a view follows with one removal now and then rather
// than one per frame. Messages are numbered from 0 since the start (or Clear): the first kept one
// is number Dropped(), the last Added() - 1.
class MessageLog {
public:
    static constexpr std::size_t kDefaultCapacity = 100'000;
    static constexpr std::size_t kDefaultBlock = 10'000;

    // block is clamped to 1..capacity; capacity is at least 1.
    explicit MessageLog(std::size_t capacity = kDefaultCapacity, std::size_t block = kDefaultBlock);

    void Add(const Frame& frame, TimePoint when);

    std::size_t Size() const { return m_messages.size(); }
    const LoggedMessage& operator[](std::size_t i) const { return m_messages[i]; }
    std::size_t Capacity() const { return m_capacity; }
    std::uint64_t Added() const { return m_added; }
    std::uint64_t Dropped() const { return m_added - m_messages.size(); }
    void Clear();

private:
    std::deque<LoggedMessage> m_messages;
    std::size_t m_capacity;
    std::size_t m_block;
    std::uint64_t m_added = 0;
};

} // namespace varmio
