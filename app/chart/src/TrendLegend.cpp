// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/TrendLegend.h"

#include "varmio/TrendChart.h"

#include <QPixmap>
#include <QScrollBar>
#include <QSignalBlocker>

#include <string>

namespace varmio {
namespace {

// Where an entry keeps its store series index.
constexpr int kSeriesRole = Qt::UserRole;

} // namespace

TrendLegend::TrendLegend(TrendChart& chart, QWidget* parent) : QListWidget(parent), m_chart(chart)
{
    setObjectName(QStringLiteral("TrendLegend"));
    setSelectionMode(QAbstractItemView::NoSelection);
    setIconSize(QSize(12, 12));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    for (std::size_t s = 0; s < chart.SeriesCount(); ++s) Append(s);
    FitWidth();
    connect(&chart, &TrendChart::seriesAdded, this, [this](std::size_t series) {
        Append(series);
        FitWidth();
    });
    connect(&chart, &TrendChart::seriesVisibleChanged, this, [this](std::size_t series, bool visible) {
        if (QListWidgetItem* item = Entry(series)) {
            const QSignalBlocker blocker(this);
            item->setCheckState(visible ? Qt::Checked : Qt::Unchecked);
        }
    });
    connect(this, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        const auto series = item->data(kSeriesRole).value<qulonglong>();
        const bool checked = item->checkState() == Qt::Checked;
        if (m_chart.SeriesVisible(series) != checked) m_chart.SetSeriesVisible(series, checked);
    });
}

QListWidgetItem* TrendLegend::Entry(std::size_t series) const
{
    for (int i = 0; i < count(); ++i) {
        if (item(i)->data(kSeriesRole).value<qulonglong>() == series) return item(i);
    }
    return nullptr;
}

void TrendLegend::Append(std::size_t series)
{
    const std::string& utf8 = m_chart.Store().Info(series).Caption;
    const QString caption = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    QPixmap swatch(iconSize());
    swatch.fill(m_chart.SeriesColour(series));
    const QSignalBlocker blocker(this);
    auto* item = new QListWidgetItem(QIcon(swatch), caption, this);
    item->setData(kSeriesRole, QVariant::fromValue<qulonglong>(series));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(m_chart.SeriesVisible(series) ? Qt::Checked : Qt::Unchecked);
    item->setToolTip(caption);
}

void TrendLegend::FitWidth()
{
    // Room for the widest entry, and for the scroll bar a long list shows.
    setFixedWidth(sizeHintForColumn(0) + 2 * frameWidth() + verticalScrollBar()->sizeHint().width());
}

} // namespace varmio
