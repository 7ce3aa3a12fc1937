// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChartOutput.h"

#include "varmio/TrendChart.h"

#include <QApplication>
#include <QFile>
#include <QSize>

namespace varmio::logger {

namespace {

constexpr QSize kChartSize(1200, 600);

} // namespace

void WriteChartPng(const TrendStore& store, const Regional& regional, const std::string& path)
{
    // Painting into an image needs no window system: the offscreen platform works without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "varmio-log";
    char* argv[] = {name, nullptr};
    const QApplication application(argc, argv);
    RenderTrendChartPng(store, regional, QFile::decodeName(path.c_str()), kChartSize);
}

} // namespace varmio::logger
