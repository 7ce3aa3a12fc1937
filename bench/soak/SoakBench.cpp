// SPDX-License-Identifier: GPL-3.0-or-later
// The window left running for a week, in minutes: the relay simulator (a child process, so that the
// process's CPU time is the window's alone) sends its conversation unpaced on a pseudo-terminal, and
// the window, shown offscreen with its clock ticking, takes every frame. A real bus brings about 1.5
// frames a second: a day is 129 600 frames, a week 907 200 (VARMIO_SOAK_FRAMES sets another length).
//
// Reported at the start (frames 10 000 to 20 000, past the first layout and paint), after a
// simulated day and at the end (a week), each over a window of at least 10 000 frames: the resident memory, the heap in
// use, the CPU time per frame, and the record log's lines (the record log keeps every line by design). At the end the
// record log is emptied and the heap it gave back is reported, so that its growth can be told from the rest of the
// window's. Targets: resident memory after a week within 50 MB of after a day, the record log aside; CPU per frame flat
// within 1.5x.
//
// Run: build/dev/bench/soak/bench_soak (offscreen by default)
#include "varmio/Application.h"
#include "varmio/MainWindow.h"
#include "varmio/Monitor.h"
#include "varmio/MonitorPort.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextDocument>

#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kFramesPerDay = 129'600; // 1.5 frames a second
constexpr std::int64_t kWindow = 10'000;        // frames each figure is taken over

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ResidentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double HeapMiB() { return static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0); }

// varmio-relay-sim on a link in a folder of its own, ended and waited for when this goes.
struct Simulator {
    std::filesystem::path folder;
    std::string link;
    pid_t pid = -1;

    Simulator()
    {
        char name[] = "/tmp/varmio-soak-XXXXXX";
        if (mkdtemp(name) == nullptr) throw std::runtime_error("no temporary folder");
        folder = name;
        link = (folder / "relay").string();
        std::vector<std::string> args{VARMIO_RELAY_SIM, "--unpaced", "--seed", "7", "--link", link};
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("varmio-relay-sim did not start");
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!std::filesystem::is_symlink(link)) {
            if (Clock::now() > deadline) throw std::runtime_error("varmio-relay-sim made no device");
            usleep(10'000);
        }
    }
    ~Simulator()
    {
        End();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    void End();
};

void Simulator::End()
{
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

struct Reading {
    std::int64_t frames;
    double cpu;
    double wall;
    double resident;
    double heap;
    int recordLines;
};

void SimulatedWeek(benchmark::State& state)
{
    const char* env = std::getenv("VARMIO_SOAK_FRAMES");
    const std::int64_t total =
        env != nullptr ? std::max<std::int64_t>(2 * kWindow, std::atoll(env)) : 7 * kFramesPerDay;
    for (auto _ : state) {
        Simulator simulator;
        const varmio::PublishedPort device(std::filesystem::read_symlink(simulator.link).string());
        varmio::TForm1 form;
        form.show();
        form.PresetPort(device.Name());
        form.ComLed1Click(nullptr);
        const auto recordLines = [&form] { return form.Memo2()->document()->blockCount() - 1; };

        std::vector<Reading> readings;
        const auto start = Clock::now();
        std::int64_t next = 0;
        auto lastProgress = Clock::now();
        std::int64_t lastFrames = 0;
        while (next <= total) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
            const std::int64_t frames = form.Core().FrameCount();
            if (frames != lastFrames) {
                lastFrames = frames;
                lastProgress = Clock::now();
            } else if (Clock::now() - lastProgress > std::chrono::seconds(20)) {
                state.SkipWithError("the simulator stopped sending");
                return;
            }
            if (frames < next) continue;
            readings.push_back({frames, CpuSeconds(), std::chrono::duration<double>(Clock::now() - start).count(),
                                ResidentMiB(), HeapMiB(), recordLines()});
            const Reading& r = readings.back();
            if (readings.size() % 10 == 1)
                std::fprintf(stderr, "%8lld frames  %7.1f s  %7.1f MiB resident  %7.1f MiB heap  %7d record lines\n",
                             static_cast<long long>(r.frames), r.wall, r.resident, r.heap, r.recordLines);
            next = frames + kWindow;
        }

        // The figures over the window of frames that ends at `frames` (the first window: from the start).
        const auto at = [&readings](std::int64_t frames, const char* name, benchmark::State& s) {
            std::size_t i = 1;
            while (i + 1 < readings.size() && readings[i].frames < frames) ++i;
            const Reading& before = readings[i - 1];
            const Reading& r = readings[i];
            const std::string prefix = name;
            s.counters[prefix + "_frames"] = static_cast<double>(r.frames);
            s.counters[prefix + "_cpu_us_per_frame"] =
                1e6 * (r.cpu - before.cpu) / static_cast<double>(r.frames - before.frames);
            s.counters[prefix + "_resident_MiB"] = r.resident;
            s.counters[prefix + "_heap_MiB"] = r.heap;
            s.counters[prefix + "_record_lines"] = r.recordLines;
            return r;
        };
        // The first frames pay for the window's first layout and paint: the start is the next window.
        const Reading first = at(2 * kWindow, "start", state);
        const Reading day = at(kFramesPerDay, "day", state);
        const Reading week = at(total, "end", state);
        (void)first;

        // The port closes first, so that the record log stays as measured while it is emptied.
        form.ComLed1Click(nullptr);
        simulator.End();
        for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const int rawLines = form.Memo1()->document()->blockCount() - 1;
        const double heapBefore = HeapMiB();
        form.Memo2()->clear();
        QCoreApplication::processEvents();
        const double recordHeap = heapBefore - HeapMiB();
        const double perRecordLine = week.recordLines > 0 ? recordHeap / week.recordLines : 0.0;
        state.counters["record_log_heap_MiB"] = recordHeap;
        state.counters["resident_growth_day_to_end_MiB"] = week.resident - day.resident;
        state.counters["resident_growth_day_to_end_record_log_aside_MiB"] =
            week.resident - day.resident - perRecordLine * (week.recordLines - day.recordLines);
        state.counters["raw_log_lines"] = rawLines;
        state.counters["frames_per_s"] = static_cast<double>(week.frames) / week.wall;
    }
}
BENCHMARK(SimulatedWeek)->Iterations(1)->Unit(benchmark::kSecond);

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
