// SPDX-License-Identifier: MIT
// Wall time and peak resident memory of `wirelog-cli decode` on a full capture (999,999
// events), measured on the child process the way a user would run it.
#include "batchfile/TimedBatchFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
namespace fs = std::filesystem;

// Reads of the module as the 2 ms latency timer groups them on a busy 400 kHz bus: about 80
// events per read, stamped 2,000 microseconds apart.
std::string FullCaptureInput(std::size_t& events) {
    const std::uint8_t transaction[] = {0x01, 0x07, 0xA0, 0x09, 0x10, 0x06, 0x07, 0xA1, 0x09,
                                        0x57, 0x09, 0x69, 0x09, 0x70, 0x0A, 0x52, 0x02};
    constexpr std::size_t kEventsPerTransaction = 10;
    std::string text = "# full capture for the benchmark\n0 00 05\n";
    events = 2;
    std::vector<std::uint8_t> read;
    std::uint64_t stamp = 0;
    while (events + kEventsPerTransaction <= 999'999) {
        read.insert(read.end(), std::begin(transaction), std::end(transaction));
        events += kEventsPerTransaction;
        if (read.size() >= 150) {
            stamp += 2000;
            Wirelog::AppendTimedBatchLine(text, stamp, read);
            read.clear();
        }
    }
    while (events < 999'999) {
        read.push_back(0x05);
        ++events;
    }
    Wirelog::AppendTimedBatchLine(text, stamp + 2000, read);
    return text;
}

struct Measure {
    double seconds = 0;
    long maxRssKb = 0;
    int status = -1;
};

Measure RunOnce(const std::string& cli, const fs::path& input, const fs::path& output) {
    std::vector<std::string> args = {cli, "decode", "-o", output.string(), input.string()};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Measure measure;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return measure;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    measure.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.maxRssKb = usage.ru_maxrss;
    measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measure;
}

} // namespace

int main(int argc, char** argv) {
    const std::string cli = argc > 1 ? argv[1] : WIRELOG_CLI_PATH;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const fs::path dir =
        fs::temp_directory_path() / ("wirelog-cli-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::size_t events = 0;
    { std::ofstream(dir / "capture.txt", std::ios::binary) << FullCaptureInput(events); }
    std::printf("input: %zu events, %.1f MB of timed batches\n", events,
                static_cast<double>(fs::file_size(dir / "capture.txt")) / 1e6);

    std::vector<Measure> measures;
    for (int i = 0; i < runs; ++i)
        measures.push_back(RunOnce(cli, dir / "capture.txt", dir / "capture.log"));
    const bool ok = std::all_of(measures.begin(), measures.end(),
                                [](const Measure& m) { return m.status == 0; });
    std::sort(measures.begin(), measures.end(),
              [](const Measure& a, const Measure& b) { return a.seconds < b.seconds; });
    long peakKb = 0;
    for (const Measure& m : measures)
        peakKb = std::max(peakKb, m.maxRssKb);
    std::printf("output: %.1f MB of log\n",
                ok ? static_cast<double>(fs::file_size(dir / "capture.log")) / 1e6 : 0.0);
    std::printf("wall time over %d runs: best %.3f s, median %.3f s (target <= 0.3 s)\n", runs,
                measures.front().seconds, measures[measures.size() / 2].seconds);
    std::printf("peak resident memory: %.1f MB (target <= 100 MB)\n",
                static_cast<double>(peakKb) / 1024.0);
    fs::remove_all(dir);
    if (!ok) {
        std::fprintf(stderr, "wirelog-cli decode failed\n");
        return 1;
    }
    return 0;
}
