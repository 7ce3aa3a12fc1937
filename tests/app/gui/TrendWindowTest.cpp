// SPDX-License-Identifier: GPL-3.0-or-later
// The trends window: the "Graf" menu item over the live store, a saved log on screen with its values
// where the log has them, the state bands, the legends, the pictures it saves, and a file that is not
// a log.

#include "FormFixture.h"

#include "varmio/RecordLog.h"
#include "varmio/RecordLogReader.h"
#include "varmio/TrendChart.h"
#include "varmio/TrendLegend.h"
#include "varmio/TrendWindow.h"

#include <QAction>
#include <QAreaSeries>
#include <QCheckBox>
#include <QChart>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTemporaryDir>

namespace {

using varmio::TrendChart;
using varmio::TrendWindow;

class TrendWindowTest : public FormTest {};

TEST_F(TrendWindowTest, GrafSitsAfterZpravyAndOpensANonModalWindowOverTheLiveStore)
{
    QStringList titles;
    for (const QAction* action : m_form->menuBar()->actions()) titles << action->text();
    EXPECT_EQ(titles, (QStringList{"File", "Zprávy", "Graf", "Exit"}));

    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80}); // boiler water 45.5
    Feed({0x35, 0x35, 0x35, 0x04, 0x00, 0x00, 0x0A}); // heating and flame on
    m_form->findChild<QAction*>(QStringLiteral("Graf1"))->trigger();
    TrendWindow* window = m_form->TrendWindow1();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isModal());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Varmio – graf"));
    EXPECT_TRUE(window->FollowLive()->isChecked());
    EXPECT_TRUE(m_form->Trends().HasData());

    TrendChart* chart = window->Chart();
    // The bundled face, in the window's widgets and in the chart's own texts.
    EXPECT_EQ(window->font().family(), m_form->font().family());
    for (const QAbstractAxis* axis : chart->chart()->axes())
        EXPECT_EQ(axis->labelsFont().family(), m_form->font().family());
    const auto ntcPoints = [chart] {
        for (QAbstractSeries* series : chart->chart()->series()) {
            auto* line = qobject_cast<QLineSeries*>(series);
            if (line != nullptr && line->name() == QStringLiteral("Výstup z komory (25)")) return line->points();
        }
        return QList<QPointF>{};
    };
    chart->Refresh();
    ASSERT_FALSE(ntcPoints().isEmpty());
    EXPECT_EQ(ntcPoints().front().y(), 45.5);

    // A click on a legend entry of the chart hides the series; the panel that lists every series in
    // the window (in place of the chart's own legend) unticks it, and ticking it shows it again.
    EXPECT_FALSE(chart->chart()->legend()->isVisible());
    QLegendMarker* marker = nullptr;
    for (QLegendMarker* m : chart->chart()->legend()->markers())
        if (m->label() == QStringLiteral("Výstup z komory (25)")) marker = m;
    ASSERT_NE(marker, nullptr);
    emit marker->clicked();
    EXPECT_FALSE(chart->SeriesVisible(varmio::tsNtc));
    EXPECT_FALSE(chart->ValuesText(m_form->Trends().LastTime()).contains(QStringLiteral("komory")));
    QListWidgetItem* entry = window->Legend()->Entry(varmio::tsNtc);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), QStringLiteral("Výstup z komory (25)"));
    EXPECT_EQ(entry->checkState(), Qt::Unchecked);
    entry->setCheckState(Qt::Checked);
    EXPECT_TRUE(chart->SeriesVisible(varmio::tsNtc));

    EXPECT_TRUE(
        chart->ValuesText(m_form->Trends().LastTime()).contains(QStringLiteral("Výstup z komory (25): 45,5 °C")));
    EXPECT_TRUE(chart->ValuesText(m_form->Trends().LastTime()).contains(QStringLiteral("Plamen aktivní: ano")));
}

TEST_F(TrendWindowTest, ABandStartsAtItsFirstSampleAndStepsBetweenChanges)
{
    using namespace std::chrono_literals;
    varmio::TrendStore store;
    const varmio::TrendTime t0{std::chrono::hours(490'000)};
    store.AddValue(varmio::tsFlame, 1, t0);
    store.AddValue(varmio::tsFlame, 0, t0 + 20s);
    store.AddValue(varmio::tsFlame, 1, t0 + 5min); // after a silence: unknown in between
    store.Touch(t0 + 6min);
    TrendChart chart(store, CzechStyle());
    chart.resize(800, 400);
    chart.SetFollowLive(false);
    chart.ShowRange(t0 - 10min, t0 + 8min); // begins before the data and ends after it

    QAreaSeries* band = nullptr;
    for (QAbstractSeries* series : chart.chart()->series())
        if (series->name() == QStringLiteral("Plamen aktivní")) band = qobject_cast<QAreaSeries*>(series);
    ASSERT_NE(band, nullptr);
    const QList<QPointF> top = band->upperSeries()->points();
    const QList<QPointF> bottom = band->lowerSeries()->points();
    ASSERT_FALSE(top.isEmpty());
    ASSERT_FALSE(bottom.isEmpty());
    const auto ms = [](varmio::TrendTime t) { return static_cast<double>(t.time_since_epoch().count()); };
    EXPECT_EQ(top.front().x(), ms(t0));
    EXPECT_EQ(top.back().x(), ms(t0 + 6min));
    EXPECT_EQ(bottom.front().x(), top.front().x()) << "the outline closes at the first sample, not the range's start";
    EXPECT_EQ(bottom.back().x(), top.back().x());
    for (qsizetype i = 1; i < top.size(); ++i) {
        EXPECT_TRUE(top[i].x() == top[i - 1].x() || top[i].y() == top[i - 1].y())
            << "a ramp from " << top[i - 1].x() - ms(t0) << " ms to " << top[i].x() - ms(t0) << " ms";
    }
}

TEST_F(TrendWindowTest, ASavedLogShowsItsValuesAtItsTimesAndSavesAPicture)
{
    // A log as File > Save writes it, in the Czech formats the fixture uses.
    m_form->Timer1Timer(nullptr);
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, 0x80}); // 45.5 at 13:05:20
    m_clock = {varmio::test::LocalTime(2026, 12, 7, 14, 0, 0)};
    m_form->Timer1Timer(nullptr);
    Feed({0x35, 0x35, 0x35, 0x04, 0x19, 0x30, 0x40}); // 48.2 (48.25 rounds toward zero) at 14:00:00
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("7.12.2026 Zelb.csv"));
    varmio::WriteRecordLog(path.toStdString(), m_form->Memo2()->toPlainText().toStdString());

    TrendWindow window(path, CzechStyle());
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Varmio – graf – 7.12.2026 Zelb.csv"));
    EXPECT_FALSE(window.FollowLive()->isChecked()) << "a log opens on everything it holds";
    EXPECT_TRUE(window.StatusLabel()->text().startsWith(QStringLiteral("Záznamů: 2")));
    std::tm at = varmio::test::LocalTime(2026, 12, 7, 13, 30, 0);
    const auto halfPast = std::chrono::time_point_cast<std::chrono::milliseconds>(
        std::chrono::system_clock::from_time_t(std::mktime(&at)));
    EXPECT_TRUE(window.Chart()->ValuesText(halfPast).contains(QStringLiteral("Výstup z komory (25): 45,5 °C")));
    EXPECT_TRUE(window.Chart()->ValuesText(halfPast + std::chrono::minutes(30)).contains(QStringLiteral("48,2 °C")));

    const QString picture = dir.filePath(QStringLiteral("graf.png"));
    ASSERT_TRUE(window.Chart()->SaveImage(picture));
    EXPECT_EQ(QImage(picture).size(), window.Chart()->size());
    const QString rendered = dir.filePath(QStringLiteral("rendered.png"));
    varmio::RenderTrendChartPng(window.Store(), CzechStyle(), rendered, QSize(800, 400));
    EXPECT_EQ(QImage(rendered).size(), QSize(800, 400));

    // Not a log: the error names the line, nothing is opened.
    const QString other = dir.filePath(QStringLiteral("other.txt"));
    QFile file(other);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hello\r\n");
    file.close();
    try {
        TrendWindow refused(other, CzechStyle());
        ADD_FAILURE() << "opened a file that is not a log";
    } catch (const varmio::RecordLogError& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).contains(QStringLiteral("řádek 1")));
    }
}

} // namespace
