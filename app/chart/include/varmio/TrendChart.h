// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The trends chart: the series of a TrendStore over a time range, temperatures on the left axis (°C),
// modulation on the right (%), the flame, heating and hot-water states as bands along the bottom,
// under the curves, each band starting at its first sample. Clicking a legend entry hides its series
// (TrendLegend lists them all, to show them again); the wheel zooms around the
// pointer, dragging pans, and hovering tells the values at that moment (hoverTextChanged).
//
// Every redraw asks the store for the range at the plot's pixel width, so its cost follows the
// pixels, not the history. Thread safety: a QWidget; main thread only. The store must outlive the
// chart; it may grow between refreshes.

#include "varmio/Regional.h"
#include "varmio/TrendStore.h"

#include <QChartView>
#include <QColor>
#include <QPoint>
#include <QString>

#include <memory>
#include <vector>

class QAreaSeries;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace varmio {

class TrendChart : public QChartView {
    Q_OBJECT

public:
    TrendChart(const TrendStore& store, Regional regional, QWidget* parent = nullptr);
    ~TrendChart() override;

    // Shows [from, to] and redraws; leaves follow-live alone.
    void ShowRange(TrendTime from, TrendTime to);
    TrendTime RangeFrom() const { return m_from; }
    TrendTime RangeTo() const { return m_to; }
    // The range's length when it follows the newest data: the range ends at the store's last time.
    void SetFollowLive(bool follow);
    bool FollowLive() const { return m_follow; }
    // Redraws from the store (after it grew, or when following live, moving the range along).
    void Refresh();
    // Shows or hides a series (and its legend entry is dimmed); series by store index.
    void SetSeriesVisible(std::size_t series, bool visible);
    bool SeriesVisible(std::size_t series) const;
    // The colour a series is drawn in (a band's fill); every store series has one once added.
    QColor SeriesColour(std::size_t series) const;
    // How many store series the chart has taken so far (Refresh takes those added since).
    std::size_t SeriesCount() const { return m_curves.size(); }
    const TrendStore& Store() const { return m_store; }
    // Whether the chart shows its own legend (the shown series, beside the plot) on screen; for a
    // window that lists the series in a panel of its own. Pictures always have it.
    void SetOwnLegendShown(bool shown);

    // The text hovering at `when` shows: its time and every visible series' value.
    QString ValuesText(TrendTime when) const;
    // The chart as a PNG file of the view's size, with its legend; false when the file cannot be
    // written.
    bool SaveImage(const QString& path);
    // Paints the whole chart into `target` (an offscreen image, for instance).
    void Render(QPainter& painter, const QRectF& target);
    // The moment under a point of the view.
    TrendTime TimeAt(QPoint viewPoint) const;

signals:
    void hoverTextChanged(const QString& text);
    void followLiveChanged(bool follow);
    void rangeChanged();
    void seriesAdded(std::size_t series);
    void seriesVisibleChanged(std::size_t series, bool visible);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The chart's own texts (axes, legend) follow the view's font, as the rest of a window does.
    void changeEvent(QEvent* event) override;

private:
    struct Curve;

    void BuildSeries();
    void ApplyViewFont();
    void AddCurve(std::size_t series);
    void Draw();
    void DrawCurve(Curve& curve, int columns);
    QString ValueText(std::size_t series, const TrendValue& value) const;

    const TrendStore& m_store;
    Regional m_regional;
    QDateTimeAxis* m_timeAxis = nullptr;
    QValueAxis* m_temperatureAxis = nullptr;
    QValueAxis* m_percentAxis = nullptr;
    QValueAxis* m_otherAxis = nullptr;
    QValueAxis* m_bandAxis = nullptr;
    std::vector<std::unique_ptr<Curve>> m_curves; // by store series index
    TrendTime m_from{};
    TrendTime m_to{};
    bool m_follow = true;
    bool m_dragging = false;
    QPoint m_dragStart;
    TrendTime m_dragFrom{};
    TrendTime m_dragTo{};
    std::vector<TrendPoint> m_points; // reused by every query
};

// Renders the chart of `store` over everything it holds into a PNG file of `size` pixels, without a
// screen: the caller must have created a QApplication (on the "offscreen" platform without a
// display). Throws std::runtime_error with a message when the file cannot be written.
void RenderTrendChartPng(const TrendStore& store, const Regional& regional, const QString& path, QSize size);

} // namespace varmio
