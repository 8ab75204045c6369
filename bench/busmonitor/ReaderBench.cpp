// SPDX-License-Identifier: MIT
// What reading a capture costs: the reader's time and throughput on a file, and for a sigrok
// session the time it takes only to inflate its samples, the floor under any reader. Each
// figure is the best of a few runs (the file is then in the page cache), in CPU time of this
// process, which other work on the machine disturbs less than wall time; wall time is shown
// beside it.
//
//   wirelog_reader_bench [--scl CH] [--sda CH] [--runs N] CAPTURE...
#include "busmonitor/CaptureReader.h"
#include "busmonitor/SessionInflate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Seconds {
    double cpu = 1e300;
    double wall = 1e300;
};

struct Options {
    std::string scl = "SCL";
    std::string sda = "SDA";
    int runs = 3;
    std::vector<std::string> files;
};

struct ReadFigures {
    double seconds = 0;
    std::uint64_t samples = 0;
    std::uint64_t changes = 0;
};

template <typename Work> Seconds BestSeconds(int runs, Work work) {
    Seconds best;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        const double cpuStart = CpuSeconds();
        work();
        best.cpu = std::min(best.cpu, CpuSeconds() - cpuStart);
        best.wall =
            std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

// The change list is kept across runs, as a caller reading block after block keeps it.
ReadFigures ReadOnce(const Options& options, const std::string& path,
                     std::vector<Wirelog::BusLevels>& block) {
    const auto reader = Wirelog::OpenCapture(path);
    const auto& info = reader->Info();
    reader->SelectChannels(Wirelog::ResolveChannel(info, options.scl, path),
                           Wirelog::ResolveChannel(info, options.sda, path));
    ReadFigures figures;
    while (reader->Read(block)) {
        figures.changes += block.size();
    }
    figures.samples = reader->EndSample();
    return figures;
}

void Measure(const Options& options, const std::string& path) {
    ReadFigures figures;
    std::vector<Wirelog::BusLevels> block;
    const Seconds read =
        BestSeconds(options.runs, [&] { figures = ReadOnce(options, path, block); });
    const auto format = Wirelog::OpenCapture(path)->Info().format;
    std::printf("%s\n  format %s, %llu samples, %llu changes\n", path.c_str(), format.c_str(),
                static_cast<unsigned long long>(figures.samples),
                static_cast<unsigned long long>(figures.changes));
    std::printf("  reader   %8.3f s CPU (%.3f s wall)  %8.1f Msamples/s\n", read.cpu, read.wall,
                static_cast<double>(figures.samples) / read.cpu / 1e6);
    if (format != "sr") {
        return;
    }
    std::uint64_t bytes = 0;
    const Seconds inflate =
        BestSeconds(options.runs, [&] { bytes = Wirelog::InflateSessionSamples(path); });
    std::printf("  inflate  %8.3f s CPU (%.3f s wall)  %8.1f MB/s inflated\n", inflate.cpu,
                inflate.wall, static_cast<double>(bytes) / inflate.cpu / 1e6);
    std::printf("  reader / inflate  %.2f\n", read.cpu / inflate.cpu);
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--scl" && hasValue) {
            options.scl = argv[++i];
        } else if (arg == "--sda" && hasValue) {
            options.sda = argv[++i];
        } else if (arg == "--runs" && hasValue) {
            options.runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg.starts_with("-")) {
            return false;
        } else {
            options.files.push_back(arg);
        }
    }
    return !options.files.empty();
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: wirelog_reader_bench [--scl CH] [--sda CH] [--runs N] "
                             "CAPTURE...\n");
        return 2;
    }
    try {
        for (const std::string& file : options.files) {
            Measure(options, file);
        }
    } catch (const Wirelog::CaptureError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory %ld MB\n", usage.ru_maxrss / 1024);
    return 0;
}
