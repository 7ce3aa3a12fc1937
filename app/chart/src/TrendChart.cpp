// SPDX-License-Identifier: GPL-3.0-or-later
#include "varmio/TrendChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QCoreApplication>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

namespace varmio {
namespace {

using std::chrono::milliseconds;

// One colour per standard series, in their order; decoded series take the chart theme's.
constexpr std::array<QRgb, kStandardSeriesCount> kColours{
    0xFF2E7D32, // Lcd: room, green
    0xFFEF6C00, // Pt: control setpoint, orange
    0xFF1565C0, // Tuv: hot water, blue
    0xFFC62828, // Ntc: boiler water, red
    0xFF6A1B9A, // Modul: violet
    0xFF4FC3F7, // STuv: hot-water setpoint, light blue
    0xFF9CCC65, // PtPozadavek: room setpoint, light green
    0xFF546E7A, // Venku: outside, grey blue
    0xFFFF7043, // flame
    0xFFE57373, // heating
    0xFF64B5F6, // hot water
};

// The bands of the three states fill the bottom quarter: band i spans [i, i + kBandHeight] of an
// axis running from 0 to kBandAxisTop.
constexpr double kBandHeight = 0.8;
constexpr double kBandAxisTop = 12.0;
constexpr milliseconds kShortestRange{10'000};

QString Text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

double Ms(TrendTime t) { return static_cast<double>(t.time_since_epoch().count()); }

QDateTime ToDateTime(TrendTime t) { return QDateTime::fromMSecsSinceEpoch(t.time_since_epoch().count()); }

} // namespace

struct TrendChart::Curve {
    std::size_t Series = 0;
    TrendKind Kind = TrendKind::Other;
    bool Visible = true;
    QColor Colour;
    std::vector<QLineSeries*> Segments; // a line is cut where nothing is known; one series per piece
    QAreaSeries* Band = nullptr;        // states: the band, drawn from Segments[0] down to Base
    QLineSeries* Base = nullptr;
    int BandIndex = 0;
};

TrendChart::TrendChart(const TrendStore& store, Regional regional, QWidget* parent)
    : QChartView(parent), m_store(store), m_regional(std::move(regional))
{
    setObjectName(QStringLiteral("TrendChart"));
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
    setRubberBand(QChartView::NoRubberBand);
    auto* chart = new QChart;
    chart->setObjectName(QStringLiteral("Chart"));
    // One entry a line beside the plot, so that every caption has its room (a row under the plot
    // shortens them all once a few series are shown).
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setMargins(QMargins(4, 4, 4, 4));
    // The view owns the chart; the empty one it was made with is released to us, so it goes here.
    const std::unique_ptr<QChart> initial(this->chart());
    setChart(chart);

    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setTitleText(QStringLiteral("Čas"));
    m_temperatureAxis = new QValueAxis;
    m_temperatureAxis->setTitleText(QStringLiteral("Teplota [°C]"));
    m_percentAxis = new QValueAxis;
    m_percentAxis->setTitleText(QStringLiteral("Modulace [%]"));
    m_percentAxis->setRange(0, 100);
    m_otherAxis = new QValueAxis;
    m_otherAxis->setVisible(false);
    m_bandAxis = new QValueAxis;
    m_bandAxis->setRange(0, kBandAxisTop);
    m_bandAxis->setVisible(false);
    chart->addAxis(m_timeAxis, Qt::AlignBottom);
    chart->addAxis(m_temperatureAxis, Qt::AlignLeft);
    chart->addAxis(m_percentAxis, Qt::AlignRight);
    chart->addAxis(m_otherAxis, Qt::AlignRight);
    chart->addAxis(m_bandAxis, Qt::AlignLeft);

    ApplyViewFont();
    BuildSeries();
    const TrendTime last = m_store.HasData() ? m_store.LastTime() : TrendTime{};
    m_to = last;
    m_from = last - std::chrono::hours(1);
}

TrendChart::~TrendChart() = default;

void TrendChart::BuildSeries()
{
    // The bands first, so that the curves are drawn over them.
    for (std::size_t s = 0; s < m_store.SeriesCount(); ++s) {
        if (m_store.Info(s).Kind == TrendKind::State) AddCurve(s);
    }
    for (std::size_t s = 0; s < m_store.SeriesCount(); ++s) {
        if (m_store.Info(s).Kind != TrendKind::State) AddCurve(s);
    }
}

void TrendChart::AddCurve(std::size_t series)
{
    if (m_curves.size() <= series) m_curves.resize(series + 1);
    auto curve = std::make_unique<Curve>();
    const TrendSeriesInfo& info = m_store.Info(series);
    curve->Series = series;
    curve->Kind = info.Kind;
    curve->Colour = series < kColours.size() ? QColor::fromRgb(kColours[series]) : QColor();
    // Series the decoder adds start hidden: the standard ones are what the chart is about.
    curve->Visible = series < kStandardSeriesCount;
    const QString caption = Text(info.Caption);
    QChart* chart = this->chart();

    auto* line = new QLineSeries;
    line->setName(caption);
    if (info.Kind == TrendKind::State) {
        int bandIndex = 0;
        for (std::size_t s = 0; s < series; ++s) bandIndex += m_store.Info(s).Kind == TrendKind::State;
        curve->BandIndex = bandIndex;
        curve->Base = new QLineSeries;
        curve->Band = new QAreaSeries(line, curve->Base);
        // The area draws its two lines but does not own them: they go with it.
        line->setParent(curve->Band);
        curve->Base->setParent(curve->Band);
        curve->Band->setName(caption);
        QColor fill = curve->Colour;
        fill.setAlpha(150);
        curve->Band->setBrush(fill);
        curve->Band->setPen(QPen(curve->Colour.darker(120), 1));
        chart->addSeries(curve->Band);
        curve->Band->attachAxis(m_timeAxis);
        curve->Band->attachAxis(m_bandAxis);
        curve->Segments.push_back(line);
    } else {
        chart->addSeries(line);
        if (curve->Colour.isValid()) line->setPen(QPen(curve->Colour, 2));
        else curve->Colour = line->pen().color();
        line->attachAxis(m_timeAxis);
        line->attachAxis(info.Kind == TrendKind::Temperature ? m_temperatureAxis
                         : info.Kind == TrendKind::Percent   ? m_percentAxis
                                                             : m_otherAxis);
        curve->Segments.push_back(line);
    }
    QAbstractSeries* shown = curve->Band != nullptr ? static_cast<QAbstractSeries*>(curve->Band) : line;
    for (QLegendMarker* marker : chart->legend()->markers(shown)) {
        connect(marker, &QLegendMarker::clicked, this,
                [this, series] { SetSeriesVisible(series, !SeriesVisible(series)); });
    }
    const bool visible = curve->Visible;
    m_curves[series] = std::move(curve);
    if (!visible) SetSeriesVisible(series, false);
    emit seriesAdded(series);
}

void TrendChart::SetSeriesVisible(std::size_t series, bool visible)
{
    if (series >= m_curves.size() || !m_curves[series]) return;
    Curve& curve = *m_curves[series];
    curve.Visible = visible;
    QAbstractSeries* shown = curve.Band != nullptr ? static_cast<QAbstractSeries*>(curve.Band) : curve.Segments.front();
    shown->setVisible(visible);
    for (std::size_t i = 1; i < curve.Segments.size(); ++i) curve.Segments[i]->setVisible(visible);
    // The chart's own legend lists the shown series only; the window's legend panel lists them all.
    for (QLegendMarker* marker : chart()->legend()->markers(shown)) marker->setVisible(visible);
    Draw();
    emit seriesVisibleChanged(series, visible);
}

QColor TrendChart::SeriesColour(std::size_t series) const
{
    return series < m_curves.size() && m_curves[series] ? m_curves[series]->Colour : QColor();
}

void TrendChart::SetOwnLegendShown(bool shown) { chart()->legend()->setVisible(shown); }

bool TrendChart::SeriesVisible(std::size_t series) const
{
    return series < m_curves.size() && m_curves[series] && m_curves[series]->Visible;
}

void TrendChart::ShowRange(TrendTime from, TrendTime to)
{
    if (to - from < kShortestRange) {
        const TrendTime middle = from + (to - from) / 2;
        from = middle - kShortestRange / 2;
        to = from + kShortestRange;
    }
    m_from = from;
    m_to = to;
    Draw();
    emit rangeChanged();
}

void TrendChart::SetFollowLive(bool follow)
{
    if (follow == m_follow) return;
    m_follow = follow;
    emit followLiveChanged(follow);
    if (follow) Refresh();
}

void TrendChart::Refresh()
{
    // New series the resolver added since the last refresh.
    for (std::size_t s = m_curves.size(); s < m_store.SeriesCount(); ++s) AddCurve(s);
    if (m_follow && m_store.HasData()) {
        const auto span = m_to - m_from;
        m_to = m_store.LastTime();
        m_from = m_to - span;
        emit rangeChanged();
    }
    Draw();
}

void TrendChart::DrawCurve(Curve& curve, int columns)
{
    m_store.Query(curve.Series, m_from, m_to, columns, m_points);
    QChart* chart = this->chart();
    if (curve.Band != nullptr) {
        // A band: its top follows the state (unknown counts as off) as steps, a state holding until
        // the next point, since the query leaves out the corner after an unknown stretch. Its bottom
        // spans the same stretch as the top: the area closes its outline from the bottom's first
        // point to the top's, so a bottom from the range's start would draw a ramp to the first
        // sample of a range that begins before the data.
        const double base = curve.BandIndex;
        QList<QPointF> top;
        top.reserve(static_cast<qsizetype>(2 * m_points.size()));
        for (const TrendPoint& p : m_points) {
            const QPointF at(Ms(p.Time), base + (std::isnan(p.Value) || p.Value == 0 ? 0.0 : kBandHeight));
            if (!top.isEmpty() && top.back().y() != at.y() && top.back().x() != at.x())
                top.append(QPointF(at.x(), top.back().y()));
            top.append(at);
        }
        curve.Segments.front()->replace(top);
        if (top.isEmpty()) curve.Base->clear();
        else curve.Base->replace(QList<QPointF>{{top.front().x(), base}, {top.back().x(), base}});
        return;
    }
    // A line: one series per stretch between breaks.
    std::size_t used = 0;
    QList<QPointF> piece;
    const auto flush = [&] {
        if (piece.isEmpty()) return;
        if (used == curve.Segments.size()) {
            auto* extra = new QLineSeries;
            extra->setPen(curve.Segments.front()->pen());
            chart->addSeries(extra);
            for (QAbstractAxis* axis : curve.Segments.front()->attachedAxes()) extra->attachAxis(axis);
            for (QLegendMarker* marker : chart->legend()->markers(extra)) marker->setVisible(false);
            extra->setVisible(curve.Visible);
            curve.Segments.push_back(extra);
        }
        curve.Segments[used++]->replace(piece);
        piece.clear();
    };
    for (const TrendPoint& p : m_points) {
        if (std::isnan(p.Value)) flush();
        else piece.append(QPointF(Ms(p.Time), p.Value));
    }
    flush();
    for (std::size_t i = used; i < curve.Segments.size(); ++i) curve.Segments[i]->clear();
}

void TrendChart::Draw()
{
    const int columns = std::max(1, static_cast<int>(chart()->plotArea().width()));
    double low = INFINITY, high = -INFINITY, otherLow = INFINITY, otherHigh = -INFINITY;
    for (const auto& curve : m_curves) {
        if (!curve) continue;
        DrawCurve(*curve, columns);
        if (!curve->Visible || curve->Kind == TrendKind::State || curve->Kind == TrendKind::Percent) continue;
        for (const QLineSeries* segment : curve->Segments) {
            for (const QPointF& p : segment->points()) {
                if (curve->Kind == TrendKind::Temperature) low = std::min(low, p.y()), high = std::max(high, p.y());
                else otherLow = std::min(otherLow, p.y()), otherHigh = std::max(otherHigh, p.y());
            }
        }
    }
    if (low > high) low = 0, high = 80;
    const double pad = std::max(1.0, (high - low) * 0.08);
    m_temperatureAxis->setRange(std::floor(low - pad), std::ceil(high + pad));
    if (otherLow <= otherHigh) m_otherAxis->setRange(otherLow - 1, otherHigh + 1);
    const auto span = m_to - m_from;
    m_timeAxis->setFormat(span <= std::chrono::minutes(15) ? QStringLiteral("HH:mm:ss")
                          : span <= std::chrono::hours(20) ? QStringLiteral("HH:mm")
                                                           : QStringLiteral("d.M. HH:mm"));
    m_timeAxis->setRange(ToDateTime(m_from), ToDateTime(m_to));
}

QString TrendChart::ValueText(std::size_t series, const TrendValue& value) const
{
    const TrendSeriesInfo& info = m_store.Info(series);
    if (info.Kind == TrendKind::State)
        return value.Min == value.Max ? (value.Max != 0 ? QStringLiteral("ano") : QStringLiteral("ne"))
                                      : QStringLiteral("ano/ne");
    const auto number = [&](double v) {
        if (info.Divisor == 10.0) return Text(m_regional.FormatTenths(static_cast<std::int32_t>(std::lround(v * 10))));
        QString text = QString::number(v, 'f', info.Divisor == 1.0 ? 0 : 2);
        return text.replace(QLatin1Char('.'), Text(m_regional.DecimalSeparator));
    };
    QString text = number(value.Min);
    if (value.Max != value.Min) text += QStringLiteral("–") + number(value.Max);
    if (!info.Unit.empty()) text += QLatin1Char(' ') + Text(info.Unit);
    return text;
}

QString TrendChart::ValuesText(TrendTime when) const
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    QString text = Text(m_regional.DateTimeText(local));
    for (const auto& curve : m_curves) {
        if (!curve || !curve->Visible) continue;
        const auto value = m_store.ValueAt(curve->Series, when);
        if (!value) continue;
        text += QStringLiteral("   ") + Text(m_store.Info(curve->Series).Caption) + QStringLiteral(": ") +
                ValueText(curve->Series, *value);
    }
    return text;
}

TrendTime TrendChart::TimeAt(QPoint viewPoint) const
{
    const QPointF inChart = chart()->mapFromScene(mapToScene(viewPoint));
    const QRectF plot = chart()->plotArea();
    const double fraction = plot.width() > 0 ? (inChart.x() - plot.left()) / plot.width() : 0.0;
    return m_from + milliseconds(static_cast<std::int64_t>(fraction * static_cast<double>((m_to - m_from).count())));
}

void TrendChart::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) {
        event->ignore();
        return;
    }
    const double factor = std::pow(0.8, steps);
    // Following live, the range keeps its end at the newest data; otherwise the pointer stays put.
    const TrendTime anchor = m_follow ? m_to : TimeAt(event->position().toPoint());
    const auto scale = [&](TrendTime t) {
        return anchor + milliseconds(static_cast<std::int64_t>(static_cast<double>((t - anchor).count()) * factor));
    };
    ShowRange(scale(m_from), scale(m_to));
    event->accept();
}

void TrendChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QChartView::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragStart = event->position().toPoint();
    m_dragFrom = m_from;
    m_dragTo = m_to;
    QChartView::mousePressEvent(event); // the legend takes its clicks
}

void TrendChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (m_dragging && (event->buttons() & Qt::LeftButton) != 0) {
        const double width = chart()->plotArea().width();
        const int dx = at.x() - m_dragStart.x();
        if (width > 0 && dx != 0) {
            SetFollowLive(false);
            const auto shift = milliseconds(
                static_cast<std::int64_t>(-dx / width * static_cast<double>((m_dragTo - m_dragFrom).count())));
            ShowRange(m_dragFrom + shift, m_dragTo + shift);
        }
        return;
    }
    if (chart()->plotArea().contains(chart()->mapFromScene(mapToScene(at))))
        emit hoverTextChanged(ValuesText(TimeAt(at)));
    QChartView::mouseMoveEvent(event);
}

void TrendChart::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QChartView::mouseReleaseEvent(event);
}

void TrendChart::changeEvent(QEvent* event)
{
    QChartView::changeEvent(event);
    if (event->type() == QEvent::FontChange) ApplyViewFont();
}

void TrendChart::ApplyViewFont()
{
    QFont title = font();
    title.setBold(true);
    for (QAbstractAxis* axis : chart()->axes()) {
        axis->setLabelsFont(font());
        axis->setTitleFont(title);
    }
    chart()->legend()->setFont(font());
}

void TrendChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    Draw(); // the columns follow the plot's width
}

bool TrendChart::SaveImage(const QString& path)
{
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(palette().color(QPalette::Window));
    {
        QPainter painter(&image);
        Render(painter, QRectF(QPointF(0, 0), QSizeF(size())));
    }
    return image.save(path, "PNG");
}

void TrendChart::Render(QPainter& painter, const QRectF& target)
{
    // A picture always has the legend, whatever lists the series on screen.
    QLegend* legend = chart()->legend();
    const bool legendShown = legend->isVisible();
    const QSizeF onScreen = chart()->size();
    const auto layOut = [this](QSizeF size) {
        chart()->resize(size);
        // The chart lays out its plot area on the event loop; a chart that is never shown does it now.
        chart()->layout()->activate();
        QCoreApplication::sendPostedEvents(chart());
        Draw();
    };
    legend->setVisible(true);
    layOut(target.size());
    scene()->render(&painter, target, QRectF(QPointF(0, 0), target.size()));
    if (!legendShown) {
        legend->setVisible(false);
        layOut(onScreen);
    }
}

void RenderTrendChartPng(const TrendStore& store, const Regional& regional, const QString& path, QSize size)
{
    TrendChart chart(store, regional);
    chart.resize(size);
    chart.SetFollowLive(false);
    if (store.HasData()) chart.ShowRange(store.FirstTime(), store.LastTime());
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        chart.Render(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    if (!image.save(path, "PNG")) throw std::runtime_error("cannot write the chart to \"" + path.toStdString() + "\"");
}

} // namespace varmio
