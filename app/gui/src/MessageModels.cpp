// SPDX-License-Identifier: GPL-3.0-or-later
#include "MessageModels.h"

#include "varmio/OpenTherm.h"

#include <ctime>
#include <string_view>

namespace varmio {
namespace {

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

// "READ-ACK", or the plain number of a type that is not OpenTherm's.
QString TypeText(std::uint8_t msgType)
{
    const std::string_view name = MessageTypeName(msgType);
    return name.empty() ? QString::number(msgType) : Text(name);
}

QString NameText(std::uint8_t dataId)
{
    const DataIdInfo* info = FindDataId(dataId);
    return info != nullptr ? Text(info->Name) : QStringLiteral("?");
}

QString DescriptionText(std::uint8_t dataId)
{
    const DataIdInfo* info = FindDataId(dataId);
    return info != nullptr ? Text(info->Description) : QStringLiteral("neznámé ID");
}

QString ValueText(const Regional& regional, std::uint8_t msgType, std::uint8_t dataId, std::uint16_t raw)
{
    return Text(FormatValue(DecodeFrame(msgType, dataId, raw), regional.DecimalSeparator));
}

} // namespace

QString TimeText(const Regional& regional, TimePoint when)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    return Text(regional.FormatShortDate(local)) + QLatin1Char(' ') + Text(regional.FormatLongTime(local));
}

// ---- Overview ----

OverviewModel::OverviewModel(MessageOverview& overview, const Regional& regional, QObject* parent)
    : QAbstractTableModel(parent), m_overview(overview), m_regional(regional)
{
    Refresh();
}

int OverviewModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int OverviewModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : cColumnCount; }

std::uint8_t OverviewModel::DataIdAt(int row) const { return m_overview.Row(static_cast<std::size_t>(row)).DataId; }

QVariant OverviewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows) return {};
    const OverviewRow& row = m_overview.Row(static_cast<std::size_t>(index.row()));
    if (role == Qt::ToolTipRole) return Details(index.row());
    if (role == Qt::TextAlignmentRole) {
        const bool numeric = index.column() == cId || index.column() == cRequestRaw || index.column() == cCount;
        return QVariant::fromValue(Qt::AlignVCenter | (numeric ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role == kSortRole) {
        switch (index.column()) {
        case cId: return row.DataId;
        case cRequestRaw: return row.HasRequest ? static_cast<int>(row.RequestRaw) : -1;
        case cCount: return static_cast<qulonglong>(row.Count);
        case cLastSeen: return static_cast<qlonglong>(row.LastSeen.time_since_epoch().count());
        default: break; // the text sorts
        }
    } else if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case cId: return row.DataId;
    case cName: return NameText(row.DataId);
    case cDescription: return DescriptionText(row.DataId);
    case cRequestType: return row.HasRequest ? TypeText(row.RequestType) : QString();
    case cRequestRaw: return row.HasRequest ? QString::number(row.RequestRaw) : QString();
    case cAnswerType: return row.HasAnswer ? TypeText(row.AnswerType) : QString();
    case cAnswerValue:
        return row.HasAnswer ? ValueText(m_regional, row.AnswerType, row.DataId, row.AnswerRaw) : QString();
    case cCount: return QString::number(row.Count);
    case cLastSeen: return TimeText(m_regional, row.LastSeen);
    default: return {};
    }
}

QVariant OverviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case cId: return QStringLiteral("ID");
    case cName: return QStringLiteral("Název");
    case cDescription: return QStringLiteral("Popis");
    case cRequestType: return QStringLiteral("Dotaz");
    case cRequestRaw: return QStringLiteral("Hodnota dotazu");
    case cAnswerType: return QStringLiteral("Odpověď");
    case cAnswerValue: return QStringLiteral("Hodnota odpovědi");
    case cCount: return QStringLiteral("Počet");
    case cLastSeen: return QStringLiteral("Naposledy");
    default: return {};
    }
}

QString OverviewModel::Details(int row) const
{
    const OverviewRow& r = m_overview.Row(static_cast<std::size_t>(row));
    QString text =
        QStringLiteral("%1 (ID %2): %3").arg(NameText(r.DataId)).arg(r.DataId).arg(DescriptionText(r.DataId));
    if (const DataIdInfo* info = FindDataId(r.DataId)) {
        text += QStringLiteral(" (termostat: %1; od verze protokolu %2)")
                    .arg(Text(AccessText(info->Dir)), Text(info->Since));
    }
    const auto part = [&](const char* caption, std::uint8_t type, std::uint16_t raw) {
        const DecodedFrame frame = DecodeFrame(type, r.DataId, raw);
        text += QStringLiteral("\n\n%1 %2, hodnota %3:\n").arg(QString::fromUtf8(caption), TypeText(type)).arg(raw);
        const std::string bits = FormatBits(frame, m_regional.DecimalSeparator);
        text += bits.empty() ? Text(FormatValue(frame, m_regional.DecimalSeparator)) : Text(bits);
    };
    if (r.HasRequest) part("Dotaz", r.RequestType, r.RequestRaw);
    if (r.HasAnswer) part("Odpověď", r.AnswerType, r.AnswerRaw);
    return text;
}

void OverviewModel::Refresh()
{
    const auto changed = m_overview.TakeChanged();
    const int rows = static_cast<int>(m_overview.RowCount());
    if (rows < m_rows) { // the overview was cleared
        beginResetModel();
        m_rows = rows;
        endResetModel();
        return;
    }
    if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
    for (std::size_t id = 0; id < changed.size(); ++id) {
        if (!changed.test(id)) continue;
        const int place = m_overview.PlaceOf(static_cast<std::uint8_t>(id));
        if (place >= 0) emit dataChanged(index(place, 0), index(place, cColumnCount - 1));
    }
}

// ---- Message log ----

MessageLogModel::MessageLogModel(const MessageLog& log, const Regional& regional, QObject* parent)
    : QAbstractTableModel(parent), m_log(log), m_regional(regional)
{
    m_first = m_log.Dropped();
    m_end = m_log.Added();
}

int MessageLogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_end - m_first);
}

int MessageLogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : cColumnCount; }

QVariant MessageLogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::TextAlignmentRole)) return {};
    // A view may paint before the next Refresh: rows that already left the log show nothing.
    const std::uint64_t number = m_first + static_cast<std::uint64_t>(index.row());
    if (number < m_log.Dropped() || number >= m_log.Added()) return {};
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignVCenter | (index.column() == cId ? Qt::AlignRight : Qt::AlignLeft));
    }
    const LoggedMessage& message = m_log[static_cast<std::size_t>(number - m_log.Dropped())];
    switch (index.column()) {
    case cTime: return TimeText(m_regional, message.When);
    case cDirection: return Text(DirectionText(MessageDirection(message.MsgType)));
    case cType: return TypeText(message.MsgType);
    case cId: return message.DataId;
    case cName: return NameText(message.DataId);
    case cValue: return ValueText(m_regional, message.MsgType, message.DataId, message.Raw);
    default: return {};
    }
}

QVariant MessageLogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case cTime: return QStringLiteral("Čas");
    case cDirection: return QStringLiteral("Směr");
    case cType: return QStringLiteral("Typ");
    case cId: return QStringLiteral("ID");
    case cName: return QStringLiteral("Název");
    case cValue: return QStringLiteral("Hodnota");
    default: return {};
    }
}

void MessageLogModel::Refresh()
{
    const std::uint64_t first = m_log.Dropped();
    const std::uint64_t end = m_log.Added();
    if (end < m_end) { // the log was cleared and numbers start again
        beginResetModel();
        m_first = first;
        m_end = end;
        endResetModel();
        return;
    }
    if (first > m_first) {
        // The rows shown that left the log go in one removal; if everything shown left, the new
        // rows start past them.
        const std::uint64_t gone = std::min(first, m_end) - m_first;
        if (gone > 0) {
            beginRemoveRows({}, 0, static_cast<int>(gone) - 1);
            m_first += gone;
            endRemoveRows();
        }
        if (m_first == m_end) m_first = m_end = first;
    }
    if (end > m_end) {
        beginInsertRows({}, static_cast<int>(m_end - m_first), static_cast<int>(end - m_first) - 1);
        m_end = end;
        endInsertRows();
    }
}

} // namespace varmio
