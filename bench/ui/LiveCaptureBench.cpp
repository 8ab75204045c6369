// SPDX-License-Identifier: MIT
// Live capture in the window from the simulated module at a saturated 3.4 MHz bus (about
// 380,000 events per second), with auto-scroll on: the window's own START/STOP, reader thread,
// refresh requests, log model, view and painting, offscreen.
//
// Reports whether every event the module emitted while a capture ran reached the log list, the
// delay from each event's emission to the moment its line is in the list (percentiles), and the
// CPU time of the window thread and of the reader threads. The module's paced stream makes byte
// k readable at k / rate seconds after the start command, which gives each event's emission time.
//
// A capture holds 999,999 events, under three seconds at this rate, so the run is a series of
// captures, each stopped and started again with the button before its buffer fills.
//
// usage: wirelog_live_bench [seconds=10] [stream bytes per second=630000]
#include "LiveCaptureFigures.h"
#include "events/EventBuffer.h"
#include "ui/Form1.h"
#include "ui/LogModel.h"
#include "ui/LogView.h"
#include "wirelog_sim.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <dirent.h>
#include <dlfcn.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Wirelog::bench::Clock;
using Wirelog::bench::DelayHistogram;
using Wirelog::bench::EmissionClock;
using Wirelog::bench::ProcessCpuSeconds;
using Wirelog::bench::ThreadCpuSeconds;

// CPU seconds of the process's live threads other than the calling one, from /proc.
double OtherLiveThreadsCpuSeconds() {
    const long ticks = sysconf(_SC_CLK_TCK);
    const std::string self = std::to_string(gettid());
    double total = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* task = tasks != nullptr ? readdir(tasks) : nullptr) {
        const std::string id = task->d_name;
        if (id == "." || id == ".." || id == self)
            continue;
        std::ifstream stat("/proc/self/task/" + id + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        for (int i = 0; i < 11; ++i) // state ... cmajflt
            fields >> field;
        unsigned long user = 0, system = 0;
        fields >> user >> system;
        total += static_cast<double>(user + system) / static_cast<double>(ticks);
    }
    if (tasks != nullptr)
        closedir(tasks);
    return total;
}

struct Totals {
    std::uint64_t emitted = 0;
    std::uint64_t shown = 0;
    std::uint64_t cutOff = 0; // events whose value byte the stop command cut off
    std::uint64_t bytesEmitted = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t lines = 0;
    int captures = 0;
    double captureSeconds = 0;
};

std::uint64_t EventLines(const Wirelog::LogLines& lines) {
    std::uint64_t events = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        events += !lines[i].empty();
    return events;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::uint64_t rate = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 630'000;
    // Restart well before the 999,999 cap, whatever the window's pace.
    constexpr std::uint32_t kRestartAt = 850'000;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));

    // The window binds the built adapter library through its usual file name; the bench
    // reaches the simulator's controls in that same loaded library.
    QTemporaryDir scratch;
    if (!QFile::link(QStringLiteral(WIRELOG_BENCH_ADAPTER_LIBRARY),
                     QDir(scratch.path()).filePath(QStringLiteral("wirlg000.dll")))) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(scratch.path()));
        return 2;
    }
    void* sim = dlopen(WIRELOG_BENCH_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto configure = reinterpret_cast<decltype(&WirelogSim_Configure)>(
        sim != nullptr ? dlsym(sim, "WirelogSim_Configure") : nullptr);
    auto getStats = reinterpret_cast<decltype(&WirelogSim_GetStats)>(
        sim != nullptr ? dlsym(sim, "WirelogSim_GetStats") : nullptr);
    const std::string config = "hw:off;dev:rate=" + std::to_string(rate);
    if (configure == nullptr || getStats == nullptr || configure(config.c_str()) != 0) {
        std::fprintf(stderr, "the adapter library has no usable simulator controls\n");
        return 2;
    }

    Wirelog::Form1 window({QFile::encodeName(scratch.path()).toStdString(), {}});
    window.findChild<QCheckBox*>(QStringLiteral("cbAutoScroll"))->setChecked(true);
    window.show();
    auto& startStop = *window.findChild<QPushButton*>(QStringLiteral("btnStartStop"));
    auto& model = *qobject_cast<Wirelog::LogModel*>(
        window.findChild<Wirelog::LogView*>(QStringLiteral("listBox1"))->model());

    // A line is in the list once the model has published it: measured there, per event.
    DelayHistogram delays;
    std::uint32_t shownUpTo = 0;
    std::uint64_t refreshes = 0;
    EmissionClock* emission = nullptr;
    QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] {
        const auto now = Clock::now();
        ++refreshes;
        for (; shownUpTo < Wirelog::myevtTail; ++shownUpTo)
            delays.Add(now - emission->EmittedAt(Wirelog::MyEvents[shownUpTo].cmd));
    });
    QTimer tick; // wakes the loop while nothing else does
    tick.start(10);

    Totals totals;
    bool failed = false;
    const double windowCpuAtStart = ThreadCpuSeconds();
    const double processCpuAtStart = ProcessCpuSeconds();
    const double otherThreadsAtStart = OtherLiveThreadsCpuSeconds();
    const auto runStart = Clock::now();
    while (totals.captureSeconds < seconds) {
        shownUpTo = 0;
        startStop.click();
        const auto start = Clock::now(); // the start command is the click's last adapter call
        EmissionClock clock(start, rate);
        emission = &clock;
        const auto stopAt =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(seconds - totals.captureSeconds));
        while (Clock::now() < stopAt && Wirelog::myevtHead.load() < kRestartAt)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        startStop.click();
        const auto stopped = Clock::now();
        // The refreshes the reader asked for before it ended.
        while (Wirelog::myevtTail < Wirelog::myevtHead.load())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();

        WirelogSimStats stats{};
        getStats(0, &stats);
        const std::uint64_t shown = EventLines(model.Lines());
        totals.emitted += stats.events_emitted;
        totals.shown += shown;
        totals.cutOff += stats.events_emitted - shown <= 1 ? stats.events_emitted - shown : 0;
        totals.bytesEmitted += stats.bytes_emitted;
        totals.bytesRead += stats.bytes_read;
        totals.lines += model.Lines().size();
        totals.captureSeconds += std::chrono::duration<double>(stopped - start).count();
        ++totals.captures;
        failed = failed || stats.bytes_read != stats.bytes_emitted ||
                 stats.events_emitted - shown > 1 || shown != Wirelog::myevtHead.load();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - runStart).count();
    const double windowCpu = ThreadCpuSeconds() - windowCpuAtStart;
    const double helpers = OtherLiveThreadsCpuSeconds() - otherThreadsAtStart;
    const double readerCpu = ProcessCpuSeconds() - processCpuAtStart - windowCpu - helpers;

    std::printf("stream: %llu bytes/s paced demo traffic, %d captures, %.2f s capturing "
                "(%.2f s wall)\n",
                static_cast<unsigned long long>(rate), totals.captures, totals.captureSeconds,
                wall);
    std::printf("events: %llu emitted, %llu shown (%llu cut off by a stop command), "
                "%.0f events/s; %llu log lines\n",
                static_cast<unsigned long long>(totals.emitted),
                static_cast<unsigned long long>(totals.shown),
                static_cast<unsigned long long>(totals.cutOff),
                static_cast<double>(totals.shown) / totals.captureSeconds,
                static_cast<unsigned long long>(totals.lines));
    std::printf("refreshes that added lines: %llu (%.0f per second)\n",
                static_cast<unsigned long long>(refreshes),
                static_cast<double>(refreshes) / totals.captureSeconds);
    std::printf("bytes: %llu emitted, %llu read\n",
                static_cast<unsigned long long>(totals.bytesEmitted),
                static_cast<unsigned long long>(totals.bytesRead));
    std::printf("delay emission -> log list: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms "
                "(%llu events; target p99 <= 100 ms)\n",
                delays.PercentileMs(50), delays.PercentileMs(90), delays.PercentileMs(99),
                delays.MaxMs(), static_cast<unsigned long long>(delays.Count()));
    std::printf("cpu: window thread %.2f s (%.0f%% of one core), reader threads %.2f s (%.0f%%; "
                "includes the simulated module's work inside its adapter calls), other threads "
                "%.2f s\n",
                windowCpu, 100.0 * windowCpu / wall, readerCpu, 100.0 * readerCpu / wall, helpers);
    std::printf("every event reached the list: %s\n", failed ? "NO" : "yes");
    return failed ? 1 : 0;
}
