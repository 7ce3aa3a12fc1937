// SPDX-License-Identifier: GPL-3.0-or-later
// The connection panel on a pseudo-terminal, with the window shown (offscreen):
//
//   PacketToFrameShown  the time from a packet's last byte written into the terminal to the frame
//                       shown in the window (the counter box updated and the window repainted);
//                       per-iteration manual time, with the median and 90th percentile as counters.
//   OpenIdlePort        the window's CPU use and wake-ups per second while the port is open and
//                       nothing arrives, over VARMIO_IDLE_SECONDS (default 60) of its event loop.
//                       Wake-ups are the context switches of every thread of the process; the
//                       window's one-second clock is counted on its own and left out.
//
// Run: QT_QPA_PLATFORM=offscreen build/dev/bench/panel/bench_panel
#include "varmio/Application.h"
#include "varmio/MainWindow.h"
#include "varmio/MonitorPort.h"
#include "varmio/relaysim/PseudoTerminal.h"

#include "cport/ComPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

std::tm FixedClock() { return std::tm{}; }

// The window with its port open on a fresh pseudo-terminal.
struct OpenWindow {
    varmio::relaysim::PseudoTerminal pty;
    std::unique_ptr<varmio::PublishedPort> published = std::make_unique<varmio::PublishedPort>(pty.DevicePath());
    std::unique_ptr<varmio::TForm1> form;

    explicit OpenWindow(bool clock)
    {
        form = std::make_unique<varmio::TForm1>(varmio::Regional{}, FixedClock);
        if (!clock) form->Timer1()->stop();
        form->show();
        form->PresetPort(pty.DevicePath());
        form->ComLed1Click(nullptr);
    }
    ~OpenWindow() { form.reset(); }
};

void PacketToFrameShown(benchmark::State& state)
{
    OpenWindow window(false);
    QLineEdit* counter = window.form->findChild<QLineEdit*>(QStringLiteral("Edit13"));
    std::vector<double> samples;
    std::uint8_t value = 0;
    for (auto _ : state) {
        const std::int64_t before = window.form->Core().FrameCount();
        value = static_cast<std::uint8_t>(value == 0x34 ? 0x36 : value + 1); // never a sync byte
        const std::uint8_t packet[7] = {0x35, 0x35, 0x35, 0x04, 0x19, 0x2D, value};
        const auto start = Clock::now();
        std::size_t written = 0;
        while (written < sizeof packet) written += window.pty.Write(std::span(packet).subspan(written));
        while (window.form->Core().FrameCount() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        counter->repaint(); // shown: painted, not only set
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
    }
    std::sort(samples.begin(), samples.end());
    state.counters["median_ms"] = samples[samples.size() / 2] * 1e3;
    state.counters["p90_ms"] = samples[samples.size() * 9 / 10] * 1e3;
    state.counters["max_ms"] = samples.back() * 1e3;
}
BENCHMARK(PacketToFrameShown)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

// Context switches so far of each thread of this process, by thread id.
std::map<std::string, long> ContextSwitches()
{
    std::map<std::string, long> switches;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        long total = 0;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
        }
        switches[task.path().filename().string()] = total;
    }
    return switches;
}

// Switches between two readings: a thread that ended in between is not seen in the second, so its
// last count is lost; threads that started count from zero.
long SwitchesBetween(const std::map<std::string, long>& before, const std::map<std::string, long>& after)
{
    long total = 0;
    for (const auto& [thread, count] : after) {
        const auto then = before.find(thread);
        total += count - (then != before.end() ? then->second : 0);
    }
    return total;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void OpenIdlePort(benchmark::State& state)
{
    const char* env = std::getenv("VARMIO_IDLE_SECONDS");
    const int seconds = env != nullptr ? std::max(1, std::atoi(env)) : 60;
    OpenWindow window(true);
    int ticks = 0;
    QObject::connect(window.form->Timer1(), &QTimer::timeout, window.form.get(), [&ticks] { ++ticks; });
    for (auto _ : state) {
        // Let the window settle after opening, then measure.
        QTimer settle;
        settle.setSingleShot(true);
        settle.start(500);
        while (settle.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

        ticks = 0;
        const double cpuBefore = CpuSeconds();
        const auto switchesBefore = ContextSwitches();
        const auto start = Clock::now();
        QTimer end;
        end.setSingleShot(true);
        end.start(seconds * 1000);
        while (end.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const long switches = SwitchesBetween(switchesBefore, ContextSwitches());
        state.counters["cpu_percent"] = 100.0 * (CpuSeconds() - cpuBefore) / wall;
        state.counters["wakeups_per_s"] = static_cast<double>(switches) / wall;
        state.counters["clock_ticks_per_s"] = ticks / wall;
        state.counters["wakeups_besides_clock_per_s"] = static_cast<double>(switches - ticks) / wall;
        state.counters["port_open"] = window.form->ComPort1()->Connected() ? 1 : 0;
    }
}
BENCHMARK(OpenIdlePort)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    varmio::TApplication application(argc, argv); // serves the port's main-thread queue
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
