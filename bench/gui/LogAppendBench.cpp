// SPDX-License-Identifier: GPL-3.0-or-later
// Appending lines to the window's logs: the cost of a line must not grow with the log. Appends
// 100 000 record lines to a record log that is empty and to one that already holds 1 000 000, with
// the window shown (offscreen) and repainted every 100 lines as the event loop would between frames.
// Compare the per_line counters of the two runs.
#include "varmio/MainWindow.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTimer>

namespace {

constexpr int kAppended = 100'000;
constexpr int kRepaintEvery = 100;

std::string RecordLine(int i)
{
    char line[128];
    std::snprintf(line, sizeof line,
                  "7.12.2026; 13:%02d:%02d; 21,5; 45; 50; %d,%d; 30; 50; 21; -1; 1; 1; 0; 0; 0; 0; 1; 0; 10; 0; 0; 0",
                  i / 60 % 60, i % 60, 40 + i % 20, i % 10);
    return line;
}

std::tm FixedClock() { return std::tm{}; }

void AppendRecordLines(benchmark::State& state)
{
    const auto preloaded = static_cast<int>(state.range(0));
    varmio::TForm1 form(varmio::Regional{}, FixedClock);
    form.Timer1()->stop();
    if (preloaded > 0) {
        QString text;
        text.reserve(static_cast<qsizetype>(preloaded) * 96);
        for (int i = 0; i < preloaded; ++i) {
            text += QString::fromStdString(RecordLine(i));
            text += QLatin1Char('\n');
        }
        text.chop(1);
        form.Memo2()->setPlainText(text);
    }
    form.show();
    QPlainTextEdit* memo = form.Memo2();
    memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum()); // following the log's end
    QApplication::processEvents();

    std::vector<std::string> lines;
    lines.reserve(kAppended);
    for (int i = 0; i < kAppended; ++i) lines.push_back(RecordLine(preloaded + i));

    for (auto _ : state) {
        for (int i = 0; i < kAppended; ++i) {
            form.AppendRecordLog(lines[static_cast<std::size_t>(i)]);
            if (i % kRepaintEvery == 0) QApplication::processEvents();
        }
        QApplication::processEvents();
    }
    state.counters["per_line"] =
        benchmark::Counter(static_cast<double>(kAppended) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["log_lines"] = memo->document()->blockCount();
}

BENCHMARK(AppendRecordLines)->Arg(0)->Arg(1'000'000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
