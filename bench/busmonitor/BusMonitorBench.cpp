// SPDX-License-Identifier: MIT
// The bus monitor on long logic captures, side by side with sigrok's I2C decoder.
//
// Makes two long sigrok sessions with make_long_capture.py (never committed), or takes the ones
// given: a busy 100 kHz bus sampled at 8 MHz (60 s: 480 million samples), and one shaped like a
// real recording of a polled sensor, one-byte samples idle but for a short read every 10 ms
// (90 s: 720 million samples inflated from about 1 MB). On each it times:
//   - inflating the samples and nothing else, with ISA-L and with zlib (the floors under any
//     reader),
//   - the reader alone (samples to SCL/SDA changes), and reader plus monitor (to events),
//   - `wirelog-cli decode` as a user runs it (a child process writing the log),
//   - `sigrok-cli -P i2c` with the events-only annotations (a child process, run once),
// with the children's peak resident memory, and prints the figures against the goals. Each
// figure is the best of three runs (the file is then in the page cache), in CPU time and wall
// time. The reader inflates on one core while the other scans and decodes, so its wall time is
// what a user waits and what the goals are judged on; the CPU time beside it is both cores'.
//
// usage: busmonitor_bench [--seconds S] [--idle-seconds S] [--no-sigrok] [BUSY.sr IDLE.sr]
#include "ChildArgv.h"
#include "busmonitor/CaptureMonitor.h"
#include "busmonitor/SessionInflate.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Child {
    double seconds = 0;
    double cpuSeconds = 0;
    long peakKb = 0;
    int status = -1;
};

// Runs argv with standard output to `out` and standard error kept, and waits for it.
Child Run(const std::vector<std::string>& args, const std::string& out) {
    std::vector<char*> argv = Wirelog::bench::ChildArgv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Child child;
    pid_t pid = 0;
    const auto start = Clock::now();
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return child;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    child.seconds = Since(start);
    child.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    child.peakKb = usage.ru_maxrss;
    child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

struct Options {
    std::string seconds = "60";
    std::string idleSeconds = "90";
    std::vector<std::string> captures; // none: make both
    bool sigrok = true;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            options.seconds = argv[++i];
        else if (arg == "--idle-seconds" && i + 1 < argc)
            options.idleSeconds = argv[++i];
        else if (arg == "--no-sigrok")
            options.sigrok = false;
        else
            options.captures.push_back(arg);
    }
    return options;
}

struct Figure {
    double cpu = 1e30;
    double wall = 0;
    std::string note;
    long peakKb = 0; // children only: the most any run held
};

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The best of `runs` runs of work done in this process.
Figure InProcess(const std::function<std::string()>& work, int runs = 3) {
    Figure best;
    for (int i = 0; i < runs; ++i) {
        const double cpu = CpuSeconds();
        const auto wall = Clock::now();
        std::string note = work();
        if (CpuSeconds() - cpu < best.cpu)
            best = {CpuSeconds() - cpu, Since(wall), std::move(note), 0};
    }
    return best;
}

Figure InChild(const std::vector<std::string>& args, int runs = 3) {
    Figure best;
    long peakKb = 0;
    for (int i = 0; i < runs; ++i) {
        const Child child = Run(args, "/dev/null");
        if (child.status != 0)
            return {0, 0, "failed, exit " + std::to_string(child.status), 0};
        peakKb = std::max(peakKb, child.peakKb);
        if (child.cpuSeconds < best.cpu)
            best = {child.cpuSeconds, child.seconds, {}, 0};
    }
    char note[64];
    std::snprintf(note, sizeof note, "peak %.1f MB", static_cast<double>(peakKb) / 1024.0);
    best.note = note;
    best.peakKb = peakKb;
    return best;
}

void Print(const char* what, const Figure& f, double msamples) {
    std::printf("%-36s %7.3f %7.3f %11.1f  %s\n", what, f.cpu, f.wall, msamples / f.wall,
                f.note.c_str());
}

std::uint64_t Inflate(const fs::path& capture, Wirelog::Inflater inflater) {
    return Wirelog::InflateSessionSamples(capture.string(), inflater);
}

struct Goals {
    double sigrokTimes; // how many times faster than sigrok-cli decode must be
    double msamplesPerSecond;
};

// Times everything on one capture; false when a goal is not met.
bool Measure(const fs::path& capture, const Options& options, const Goals& goals) {
    std::uint64_t inflated = 0;
    const Figure isal = InProcess([&] {
        inflated = Inflate(capture, Wirelog::Inflater::Fastest);
        return std::string(Wirelog::InflatesWithIsal() ? "ISA-L" : "zlib: no ISA-L in this build");
    });
    const Figure zlib = InProcess([&] {
        Inflate(capture, Wirelog::Inflater::Zlib);
        return std::string();
    });
    const double msamples = static_cast<double>(inflated) / 1e6;
    std::printf("\n%s: %.0f M samples, %.2f MB on disk\n", capture.c_str(), msamples,
                static_cast<double>(fs::file_size(capture)) / 1e6);

    const Figure read = InProcess([&] {
        auto reader = Wirelog::OpenCapture(capture.string());
        reader->SelectChannels(0, 1);
        std::vector<Wirelog::BusLevels> block;
        std::uint64_t changes = 0;
        while (reader->Read(block))
            changes += block.size();
        return std::to_string(changes) + " changes";
    });
    const Figure monitor = InProcess([&] {
        Wirelog::CaptureMonitor capture_({capture.string(), "", "SCL", "SDA", {}});
        std::vector<Wirelog::MonitorEvent> block;
        std::uint64_t events = 0;
        while (capture_.Next(block))
            events += block.size();
        return std::to_string(events) + " events";
    });
    const Figure decode = InChild({WIRELOG_CLI_PATH, "decode", capture.string()});
    Figure sigrok;
    if (options.sigrok)
        sigrok = InChild({"sigrok-cli", "-i", capture.string(), "-P", "i2c:scl=SCL:sda=SDA", "-A",
                          "i2c=start:repeat-start:stop:ack:nack:address-read:address-write:"
                          "data-read:data-write"},
                         1);

    std::printf("%-36s %7s %7s %11s\n", "", "cpu s", "wall s", "M samples/s");
    Print("inflate only, ISA-L (in process)", isal, msamples);
    Print("inflate only, zlib (in process)", zlib, msamples);
    Print("reader: samples to changes", read, msamples);
    Print("reader + monitor: to events", monitor, msamples);
    Print("wirelog-cli decode", decode, msamples);
    if (options.sigrok)
        Print("sigrok-cli -P i2c (events only)", sigrok, msamples);

    std::printf("goals (wall time):\n");
    bool met = true;
    const auto verdict = [&](const std::string& goal, bool ok) {
        std::printf("  %-60s %s\n", goal.c_str(), ok ? "met" : "NOT MET");
        met = met && ok;
    };
    char text[160];
    if (options.sigrok) {
        std::snprintf(text, sizeof text, "%.0fx faster than sigrok-cli (%.0fx cpu): at least %.0fx",
                      sigrok.wall / decode.wall, sigrok.cpu / decode.cpu, goals.sigrokTimes);
        verdict(text, sigrok.wall >= goals.sigrokTimes * decode.wall);
    }
    std::snprintf(text, sizeof text, "%.2fx the ISA-L inflate (%.2fx cpu): within 1.3x",
                  decode.wall / isal.wall, decode.cpu / isal.cpu);
    verdict(text, decode.wall <= 1.3 * isal.wall);
    if (goals.msamplesPerSecond > 0) {
        std::snprintf(text, sizeof text, "%.0f M samples/s: at least %.0f", msamples / decode.wall,
                      goals.msamplesPerSecond);
        verdict(text, msamples / decode.wall >= goals.msamplesPerSecond);
    }
    std::snprintf(text, sizeof text, "peak memory %.1f MB: at most 64 MB",
                  static_cast<double>(decode.peakKb) / 1024.0);
    verdict(text, decode.peakKb > 0 && decode.peakKb <= 64 * 1024);
    return met;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const fs::path dir =
        fs::temp_directory_path() / ("busmonitor-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::vector<fs::path> captures(options.captures.begin(), options.captures.end());
    if (captures.empty()) {
        captures = {dir / "busy.sr", dir / "idle.sr"};
        const Child busy = Run(
            {"python3", WIRELOG_MAKE_CAPTURE, captures[0].string(), "--seconds", options.seconds},
            "/dev/null");
        const Child idle = Run({"python3", WIRELOG_MAKE_CAPTURE, captures[1].string(), "--seconds",
                                options.idleSeconds, "--idle-ms", "10"},
                               "/dev/null");
        if (busy.status != 0 || idle.status != 0) {
            std::fprintf(stderr, "busmonitor_bench: could not make the captures\n");
            return 1;
        }
    }
    // The busy bus first, then the idle one; a capture given alone counts as busy.
    const Goals goals[] = {{150, 0}, {10, 2000}};
    bool met = true;
    for (std::size_t i = 0; i < captures.size(); ++i)
        met = Measure(captures[i], options, goals[std::min<std::size_t>(i, 1)]) && met;
    fs::remove_all(dir);
    return met ? 0 : 1;
}
