// SPDX-License-Identifier: MIT
// How fast a simulated module's stream can be taken through FT_GetQueueStatus/FT_Read by a
// reader that polls like the program's: read all that is queued (at most 32,764 bytes at a
// time), and pause 1 ms only when nothing is queued. For each paced rate it prints the rate
// achieved and how far the reader trails the module's schedule; a reader that keeps up trails
// by about one polling period, one that falls behind trails more and more.
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Library {
    decltype(&FT_Open) Open;
    decltype(&FT_Close) Close;
    decltype(&FT_Write) Write;
    decltype(&FT_GetQueueStatus) GetQueueStatus;
    decltype(&FT_Read) Read;
    decltype(&WirelogSim_Configure) Configure;
};

template <typename Function> void Bind(void* module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(module, name));
    if (function == nullptr) {
        std::fprintf(stderr, "missing %s\n", name);
        std::exit(2);
    }
}

Library Load() {
    void* module = dlopen(WIRLG000_PATH, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        std::exit(2);
    }
    Library lib{};
    Bind(module, "FT_Open", lib.Open);
    Bind(module, "FT_Close", lib.Close);
    Bind(module, "FT_Write", lib.Write);
    Bind(module, "FT_GetQueueStatus", lib.GetQueueStatus);
    Bind(module, "FT_Read", lib.Read);
    Bind(module, "WirelogSim_Configure", lib.Configure);
    return lib;
}

struct Result {
    double bytesPerSecond = 0;
    double worstLagMs = 0; // how far the reader trailed the schedule, at worst
    double finalLagMs = 0;
    std::uint64_t reads = 0;
};

Result Run(const Library& lib, std::uint64_t rate, std::chrono::milliseconds length) {
    const std::string config = "hw:off;dev:rate=" + std::to_string(rate);
    FT_HANDLE handle = nullptr;
    if (lib.Configure(config.c_str()) != 0 || lib.Open(0, &handle) != FT_OK) {
        std::fprintf(stderr, "cannot open the simulated module\n");
        std::exit(2);
    }
    std::vector<unsigned char> buffer(32768);
    unsigned char start[] = {0x01, 0xFE};
    DWORD written = 0;
    const Clock::time_point begin = Clock::now();
    lib.Write(handle, start, 2, &written);
    std::uint64_t read = 1; // the code 0 is not part of the paced schedule
    Result result;
    const auto lagMs = [&](Clock::time_point now) {
        const double due = std::chrono::duration<double>(now - begin).count() * double(rate);
        return std::max(0.0, (due - double(read - 1)) * 1000.0 / double(rate));
    };
    while (Clock::now() - begin < length) {
        DWORD queued = 0;
        if (lib.GetQueueStatus(handle, &queued) != FT_OK) {
            continue;
        }
        // Past the module's capacity the queue never empties; the clock still ends the run.
        while (queued > 0 && Clock::now() - begin < length) {
            DWORD got = 0;
            const DWORD request = queued >= 32768 ? 32764 : queued;
            if (lib.Read(handle, buffer.data(), request, &got) != FT_OK) {
                break;
            }
            read += got;
            ++result.reads;
            lib.GetQueueStatus(handle, &queued);
        }
        const Clock::time_point now = Clock::now();
        if (now - begin > std::chrono::milliseconds(100)) {
            result.worstLagMs = std::max(result.worstLagMs, lagMs(now));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const Clock::time_point end = Clock::now();
    result.finalLagMs = lagMs(end);
    result.bytesPerSecond = double(read) / std::chrono::duration<double>(end - begin).count();
    lib.Close(handle);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const Library lib = Load();
    const auto length = std::chrono::milliseconds(argc > 1 ? std::atoi(argv[1]) : 1000);
    std::printf("%12s %14s %10s %12s %12s %s\n", "paced B/s", "achieved B/s", "reads",
                "worst lag ms", "final lag ms", "keeps up");
    bool oneMegabyteKeptUp = false;
    for (std::uint64_t rate :
         {1'000'000ull, 2'000'000ull, 4'000'000ull, 8'000'000ull, 16'000'000ull, 32'000'000ull}) {
        const Result r = Run(lib, rate, length);
        // Keeping up: never more than a few polling periods behind the schedule.
        const bool keepsUp = r.worstLagMs < 10.0;
        if (rate == 1'000'000 && keepsUp) {
            oneMegabyteKeptUp = true;
        }
        std::printf("%12llu %14.0f %10llu %12.2f %12.2f %s\n",
                    static_cast<unsigned long long>(rate), r.bytesPerSecond,
                    static_cast<unsigned long long>(r.reads), r.worstLagMs, r.finalLagMs,
                    keepsUp ? "yes" : "NO");
    }
    std::printf("1 MB/s target: %s\n", oneMegabyteKeptUp ? "met" : "MISSED");
    return oneMegabyteKeptUp ? 0 : 1;
}
