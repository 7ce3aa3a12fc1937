// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The legend panel beside a trends chart: every series of the chart, one a line with its colour, the
// shown ones ticked; ticking an entry shows or hides its series. Series the chart takes later (the
// decoded ones) are appended. The panel is as wide as its longest caption, so no caption is cut; a
// long list scrolls.
//
// Thread safety: a QWidget; main thread only. The chart must outlive the panel (a sibling in the
// same window, say).

#include <QListWidget>

#include <cstddef>

namespace varmio {

class TrendChart;

class TrendLegend : public QListWidget {
    Q_OBJECT

public:
    explicit TrendLegend(TrendChart& chart, QWidget* parent = nullptr);

    // The entry of a store series; nullptr before the chart has taken it.
    QListWidgetItem* Entry(std::size_t series) const;

private:
    void Append(std::size_t series);
    void FitWidth();

    TrendChart& m_chart;
};

} // namespace varmio
