// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Table models over the core's message overview and message log, for the message window. They read
// the core's stores and follow them when Refresh is called (the window calls it on a timer), so a
// frame costs the byte path nothing on the Qt side.
//
// Main thread only.

#include "varmio/MessageOverview.h"
#include "varmio/Regional.h"

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>

namespace varmio {

// Text of a time stamp: short date and long time of the regional settings.
QString TimeText(const Regional& regional, TimePoint when);

// What the sort role gives: numbers for numeric columns, so "10" sorts after "9".
inline constexpr int kSortRole = Qt::UserRole;

class OverviewModel : public QAbstractTableModel {
public:
    enum Column {
        cId,
        cName,
        cDescription,
        cRequestType,
        cRequestRaw,
        cAnswerType,
        cAnswerValue,
        cCount,
        cLastSeen,
        cColumnCount
    };

    OverviewModel(MessageOverview& overview, const Regional& regional, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes the rows that appeared and changed since the last call.
    void Refresh();
    // The data ID shown in `row`.
    std::uint8_t DataIdAt(int row) const;
    // Every flag of the row's last request and answer, bit by bit, with the other fields.
    QString Details(int row) const;

private:
    MessageOverview& m_overview;
    const Regional& m_regional;
    int m_rows = 0;
};

class MessageLogModel : public QAbstractTableModel {
public:
    enum Column { cTime, cDirection, cType, cId, cName, cValue, cColumnCount };

    MessageLogModel(const MessageLog& log, const Regional& regional, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Follows the log: removes the rows that left it (a block at a time) and appends the new ones.
    void Refresh();

private:
    const MessageLog& m_log;
    const Regional& m_regional;
    std::uint64_t m_first = 0; // number of the first message shown
    std::uint64_t m_end = 0;   // one past the number of the last message shown
};

} // namespace varmio
