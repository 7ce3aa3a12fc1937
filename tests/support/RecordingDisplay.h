// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A display for driving the monitor core in tests: keeps the check marks, counts what it is handed
// and, unless told not to, keeps every text (boxes and log lines) in memory.

#include "varmio/Display.h"

#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace varmio::test {

class RecordingDisplay : public IDisplay {
public:
    RecordingDisplay() = default;
    // keepText false: stores no text at all, so that a test can count the core's own allocations.
    explicit RecordingDisplay(bool keepText) : m_keepText(keepText) {}

    void SetBoxText(Box box, std::string_view text) override
    {
        boxBytes += text.size();
        if (m_keepText) boxes[box] = std::string(text);
    }
    bool IsChecked(StatusList list, int item) const override { return checks.at(Index(list)).at(Item(item)); }
    void SetChecked(StatusList list, int item, bool checked) override
    {
        checks.at(Index(list)).at(Item(item)) = checked;
    }
    void AppendRawLog(std::string_view line) override
    {
        ++rawLines;
        if (m_keepText) rawLog.emplace_back(line);
    }
    void AppendRecordLog(std::string_view line) override
    {
        ++recordLines;
        if (m_keepText) recordLog.emplace_back(line);
    }
    bool ChangesOnly() const override { return changesOnly; }
    std::string_view DateTimeText() const override { return dateTime; }

    // The text of a box; a box never written reads as "<unset>".
    std::string Box(varmio::Box box) const
    {
        auto it = boxes.find(box);
        return it == boxes.end() ? "<unset>" : it->second;
    }

    std::map<varmio::Box, std::string> boxes;
    std::array<std::array<bool, 8>, 2> checks{};
    std::vector<std::string> rawLog;
    std::vector<std::string> recordLog;
    long rawLines = 0;
    long recordLines = 0;
    std::size_t boxBytes = 0;
    bool changesOnly = true;
    std::string dateTime;

private:
    static std::size_t Index(StatusList list) { return list == StatusList::Master ? 0 : 1; }
    static std::size_t Item(int item) { return static_cast<std::size_t>(item); }

    bool m_keepText = true;
};

} // namespace varmio::test
