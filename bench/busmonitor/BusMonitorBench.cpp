// SPDX-License-Identifier: MIT
// The bus monitor on a long logic capture, side by side with sigrok's I2C decoder.
//
// Makes a long sigrok session with make_long_capture.py (a busy 100 kHz bus sampled at 8 MHz,
// 60 s: 480 million samples; never committed), or takes the one given, then times on it:
//   - inflating its samples and nothing else (the floor under any reader),
//   - the reader alone (samples to SCL/SDA changes), and reader plus monitor (to events),
//   - `wirelog-cli decode` as a user runs it (a child process writing the log),
//   - `sigrok-cli -P i2c` with the events-only annotations (a child process),
// with the children's peak resident memory, and prints the figures against the goals. Each
// figure is the best of three runs (the file is then in the page cache), in CPU time, which
// other work on the machine disturbs less than wall time; the goals are judged on it, and the
// wall time of the same run is shown beside it. (sigrok-cli runs once: it takes long.)
//
// usage: busmonitor_bench [--seconds S (default 60)] [--no-sigrok] [CAPTURE]
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
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
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
    std::string capture; // empty: make one
    bool sigrok = true;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc)
            options.seconds = argv[++i];
        else if (arg == "--no-sigrok")
            options.sigrok = false;
        else
            options.capture = arg;
    }
    return options;
}

void Verdict(const char* goal, bool met) {
    std::printf("  %-52s %s\n", goal, met ? "met" : "NOT MET");
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
    std::printf("%-36s %7.2f %7.2f %11.1f  %s\n", what, f.cpu, f.wall, msamples / f.cpu,
                f.note.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    const fs::path dir =
        fs::temp_directory_path() / ("busmonitor-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path capture = options.capture.empty() ? dir / "long.sr" : fs::path(options.capture);
    if (options.capture.empty()) {
        const Child made =
            Run({"python3", WIRELOG_MAKE_CAPTURE, capture.string(), "--seconds", options.seconds},
                "/dev/null");
        if (made.status != 0) {
            std::fprintf(stderr, "busmonitor_bench: could not make the capture\n");
            return 1;
        }
    }

    std::uint64_t inflated = 0;
    const Figure inflate = InProcess([&] {
        inflated = Wirelog::InflateSessionSamples(capture.string());
        return std::string();
    });
    const double msamples = static_cast<double>(inflated) / 1e6;
    std::printf("%s: %.0f M samples, %.1f MB on disk\n\n", capture.c_str(), msamples,
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
    Print("inflate only (in process)", inflate, msamples);
    Print("reader: samples to changes", read, msamples);
    Print("reader + monitor: to events", monitor, msamples);
    Print("wirelog-cli decode", decode, msamples);
    if (options.sigrok)
        Print("sigrok-cli -P i2c (events only)", sigrok, msamples);

    std::printf("\ngoals (cpu time):\n");
    if (options.sigrok)
        std::printf("  decode is %.1fx faster than sigrok-cli\n", sigrok.cpu / decode.cpu);
    std::printf("  decode takes %.2fx the inflate-only time\n", decode.cpu / inflate.cpu);
    if (options.sigrok)
        Verdict("at least 3x faster than sigrok-cli", sigrok.cpu >= 3 * decode.cpu);
    Verdict("within 1.5x of inflating the samples", decode.cpu <= 1.5 * inflate.cpu);
    Verdict("peak memory of decode at most 64 MB", decode.peakKb <= 64 * 1024);

    fs::remove_all(dir);
    return decode.peakKb > 0 ? 0 : 1;
}
