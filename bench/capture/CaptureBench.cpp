// SPDX-License-Identifier: MIT
// Live capture from the simulated module at a saturated 3.4 MHz bus, headless: the reader
// thread, the framing and the owner's drain into log lines, as the window runs them.
//
// Reports whether every event the module emitted while a capture ran reached the log, the
// delay from each event's emission to its drain (percentiles), the rate, and the CPU time of
// the reader and of the draining thread. The module's paced stream makes byte k readable at
// k / rate seconds after the start command, which gives each event's emission time.
//
// A capture holds 999,999 events, under three seconds at this rate, so the run is a series of
// captures, each stopped and restarted before its buffer fills.
//
// usage: capture_bench [seconds=10] [stream bytes per second=630000]
#include "LiveCaptureFigures.h"
#include "adapter/AdapterLibrary.h"
#include "capture/CaptureControl.h"
#include "decode/LogDrain.h"
#include "decode/LogLines.h"
#include "decode/ViewTWI.h"
#include "events/Counter.h"
#include "events/EventBuffer.h"
#include "wirelog_sim.h"

#include <dlfcn.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Wirelog::bench::Clock;
using Wirelog::bench::DelayHistogram;
using Wirelog::bench::EmissionClock;
using Wirelog::bench::ProcessCpuSeconds;
using Wirelog::bench::ThreadCpuSeconds;
using namespace std::chrono_literals;

// The owner's side of the refresh requests: a coalesced wake-up of the main thread.
class RefreshSignal {
public:
    void Request() {
        {
            std::lock_guard lock(mutex_);
            pending_ = true;
        }
        wake_.notify_one();
    }
    void WaitFor(Clock::duration limit) {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, limit, [this] { return pending_; });
        pending_ = false;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
};

struct Totals {
    std::uint64_t emitted = 0;
    std::uint64_t drained = 0;
    std::uint64_t cutOff = 0; // events whose value byte the stop command cut off
    std::uint64_t bytesEmitted = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t lines = 0;
    int captures = 0;
    double captureSeconds = 0;
};

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::uint64_t rate = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 630'000;
    // Restart well before the 999,999 cap, whatever the drain's pace.
    constexpr std::uint32_t kRestartAt = 850'000;

    void* sim = dlopen(WIRELOG_BENCH_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (sim == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", WIRELOG_BENCH_ADAPTER_LIBRARY);
        return 2;
    }
    auto configure =
        reinterpret_cast<decltype(&WirelogSim_Configure)>(dlsym(sim, "WirelogSim_Configure"));
    auto getStats =
        reinterpret_cast<decltype(&WirelogSim_GetStats)>(dlsym(sim, "WirelogSim_GetStats"));
    const std::string config = "hw:off;dev:rate=" + std::to_string(rate);
    if (configure == nullptr || getStats == nullptr || configure(config.c_str()) != 0) {
        std::fprintf(stderr, "the adapter library has no usable simulator controls\n");
        return 2;
    }

    Wirelog::AdapterLibrary library(WIRELOG_BENCH_ADAPTER_LIBRARY, [](const std::string& text) {
        std::fprintf(stderr, "adapter: %s\n", text.c_str());
    });
    RefreshSignal refresh;
    bool failed = false;
    Wirelog::ReaderCallbacks callbacks;
    callbacks.requestRefresh = [&] { refresh.Request(); };
    callbacks.showMessage = [&](const std::string& text, std::function<void()> closed) {
        std::fprintf(stderr, "reader: %s\n", text.c_str());
        closed();
    };
    Wirelog::CaptureControl capture(library, callbacks);
    Wirelog::div = static_cast<double>(Wirelog::CounterFrequency()) / 1000.0;
    const auto modules = capture.Load().entries;
    if (modules.size() != 1) {
        std::fprintf(stderr, "expected one simulated module\n");
        return 2;
    }

    DelayHistogram delays;
    Totals totals;
    Wirelog::LogLines lines;
    const double mainCpuAtStart = ThreadCpuSeconds();
    const double processCpuAtStart = ProcessCpuSeconds();
    const auto runStart = Clock::now();

    while (totals.captureSeconds < seconds) {
        if (!capture.StartCapture(modules[0], [&] {
                Wirelog::ResetDecoder();
                lines.clear();
            })) {
            std::fprintf(stderr, "cannot start a capture\n");
            return 2;
        }
        // The start command is StartCapture's last step: the module's stream began at most the
        // return from that write before now.
        const auto start = Clock::now();
        EmissionClock emission(start, rate);
        auto drain = [&] {
            const std::uint32_t from = Wirelog::myevtTail;
            Wirelog::DrainEvents(lines);
            const auto drainedAt = Clock::now();
            for (std::uint32_t i = from; i < Wirelog::myevtTail; ++i)
                delays.Add(drainedAt - emission.EmittedAt(Wirelog::MyEvents[i].cmd));
            return Wirelog::myevtTail - from;
        };
        const auto stopAt =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(seconds - totals.captureSeconds));
        std::uint64_t drained = 0;
        while (Clock::now() < stopAt && Wirelog::myevtHead.load() < kRestartAt) {
            refresh.WaitFor(10ms);
            drained += drain();
        }
        capture.StopCapture();
        const auto stopped = Clock::now();
        drained += drain();

        WirelogSimStats stats{};
        getStats(0, &stats);
        totals.emitted += stats.events_emitted;
        totals.drained += drained;
        totals.cutOff += stats.events_emitted - drained <= 1 ? stats.events_emitted - drained : 0;
        totals.bytesEmitted += stats.bytes_emitted;
        totals.bytesRead += stats.bytes_read;
        totals.lines += lines.size();
        totals.captureSeconds += std::chrono::duration<double>(stopped - start).count();
        ++totals.captures;
        failed =
            failed || stats.bytes_read != stats.bytes_emitted || stats.events_emitted - drained > 1;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - runStart).count();
    const double mainCpu = ThreadCpuSeconds() - mainCpuAtStart;
    const double readerCpu = ProcessCpuSeconds() - processCpuAtStart - mainCpu;

    std::printf("stream: %llu bytes/s paced demo traffic, %d captures, %.2f s capturing "
                "(%.2f s wall)\n",
                static_cast<unsigned long long>(rate), totals.captures, totals.captureSeconds,
                wall);
    std::printf("events: %llu emitted, %llu drained (%llu cut off by a stop command), "
                "%.0f events/s; %llu log lines\n",
                static_cast<unsigned long long>(totals.emitted),
                static_cast<unsigned long long>(totals.drained),
                static_cast<unsigned long long>(totals.cutOff),
                static_cast<double>(totals.drained) / totals.captureSeconds,
                static_cast<unsigned long long>(totals.lines));
    std::printf("bytes: %llu emitted, %llu read\n",
                static_cast<unsigned long long>(totals.bytesEmitted),
                static_cast<unsigned long long>(totals.bytesRead));
    std::printf("delay emission -> drain: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms "
                "(%llu events; target p99 <= 100 ms)\n",
                delays.PercentileMs(50), delays.PercentileMs(90), delays.PercentileMs(99),
                delays.MaxMs(), static_cast<unsigned long long>(delays.Count()));
    std::printf("cpu: reader thread(s) %.2f s (%.0f%% of one core; includes the simulated "
                "module's work inside its adapter calls), draining thread %.2f s (%.0f%%)\n",
                readerCpu, 100.0 * readerCpu / wall, mainCpu, 100.0 * mainCpu / wall);
    std::printf("every event arrived: %s\n", failed ? "NO" : "yes");
    return failed ? 1 : 0;
}
