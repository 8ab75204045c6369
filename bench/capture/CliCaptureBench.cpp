// SPDX-License-Identifier: MIT
// wirelog-cli capture -o FILE against the simulated module at multiples of a saturated bus
// (about 379,000 events a second), and once unpaced, as fast as the simulator and the program
// go together. For each run: the events per second written to the file, whether the program kept
// up with the module's schedule (the simulator never drops bytes; it falls behind when its
// reader does, so a run that kept up wrote what was scheduled), and the peak resident memory.
//
// usage: cli_capture_bench [seconds=10]
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kSaturatedBytesPerSecond = 630'000;

template <class Fn> Fn Bind(const char* name) {
    static void* const library = dlopen(WIRELOG_BENCH_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    void* address = library ? dlsym(library, name) : nullptr;
    if (address == nullptr) {
        std::fprintf(stderr, "cannot bind %s\n", name);
        std::exit(1);
    }
    return reinterpret_cast<Fn>(address);
}

// Bytes per event of the demo traffic, from its first 16 MB read here.
double DemoBytesPerEvent() {
    Bind<decltype(&WirelogSim_Configure)>("WirelogSim_Configure")("hw:off;dev:rate=1000000000");
    FT_HANDLE handle = nullptr;
    Bind<decltype(&FT_Open)>("FT_Open")(0, &handle);
    std::uint8_t start[] = {0x01, 0xFE};
    DWORD count = 0;
    Bind<decltype(&FT_Write)>("FT_Write")(handle, start, 2, &count);
    std::vector<std::uint8_t> buffer(1 << 16);
    std::uint64_t bytes = 0, events = 0;
    bool valueDue = false;
    while (bytes < (16u << 20)) {
        Bind<decltype(&FT_Read)>("FT_Read")(handle, buffer.data(), buffer.size(), &count);
        for (DWORD i = 0; i < count; ++i) {
            if (valueDue) {
                valueDue = false;
                continue;
            }
            ++events;
            valueDue = buffer[i] >= 7 && buffer[i] <= 16;
        }
        bytes += count;
    }
    Bind<decltype(&FT_Close)>("FT_Close")(handle);
    return static_cast<double>(bytes) / static_cast<double>(events);
}

struct Run {
    std::uint64_t events = 0;
    long peakKilobytes = 0;
    int status = -1;
    std::string errors;
};

Run Capture(const std::string& sim, double seconds, const fs::path& out) {
    const fs::path err = out.string() + ".err";
    setenv("WIRELOG_SIM", sim.c_str(), 1);
    unsetenv("WIRELOG_ADAPTER");
    const std::string secondsText = std::to_string(seconds);
    std::vector<std::string> args = {WIRELOG_BENCH_CLI, "capture", "--seconds",
                                     secondsText,       "-o",      out.string()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    Run run;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return run;
    posix_spawn_file_actions_destroy(&actions);
    // The child's own high-water mark, read while it runs: a spawned child's ru_maxrss also
    // counts the parent's pages it shared before exec.
    int status = 0;
    const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
    while (waitpid(pid, &status, WNOHANG) == 0) {
        std::ifstream procStatus(statusFile);
        for (std::string line; std::getline(procStatus, line);)
            if (line.starts_with("VmHWM:"))
                run.peakKilobytes = std::strtol(line.c_str() + 6, nullptr, 10);
        usleep(20'000);
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream log(out, std::ios::binary);
    std::vector<char> block(1 << 20);
    char previous = '\n';
    while (log.read(block.data(), static_cast<std::streamsize>(block.size())) || log.gcount()) {
        for (std::streamsize i = 0; i < log.gcount(); ++i) {
            // A line that is not empty: a newline that does not follow CR LF directly.
            if (block[i] == '\n' && previous != '\n')
                ++run.events;
            if (block[i] != '\r')
                previous = block[i];
        }
    }
    std::ifstream errors(err);
    run.errors.assign(std::istreambuf_iterator<char>(errors), {});
    fs::remove(out);
    fs::remove(err);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const double bytesPerEvent = DemoBytesPerEvent();
    const fs::path out =
        fs::temp_directory_path() / ("cli_capture_bench_" + std::to_string(getpid()) + ".log");
    std::printf("demo traffic: %.3f bytes per event; saturated bus %.0f events/s; %.0f s per run\n",
                bytesPerEvent, kSaturatedBytesPerSecond / bytesPerEvent, seconds);
    std::printf("%-10s %14s %14s %10s %12s\n", "rate", "scheduled/s", "written/s", "kept up",
                "peak RSS MB");
    for (const double multiple : {1.0, 5.0, 10.0, 20.0, 40.0, 0.0}) {
        const double bytesPerSecond = multiple == 0 ? 1e9 : multiple * kSaturatedBytesPerSecond;
        const std::string sim =
            "hw:off;dev:rate=" + std::to_string(static_cast<long long>(bytesPerSecond));
        const Run run = Capture(sim, seconds, out);
        const double written = static_cast<double>(run.events) / seconds;
        const double scheduled = bytesPerSecond / bytesPerEvent;
        char label[32];
        std::snprintf(label, sizeof label, multiple == 0 ? "unpaced" : "%.0fx", multiple);
        std::printf("%-10s %14.0f %14.0f %10s %12.1f%s%s\n", label, multiple == 0 ? 0.0 : scheduled,
                    written, multiple == 0 ? "-" : (written >= 0.97 * scheduled ? "yes" : "no"),
                    static_cast<double>(run.peakKilobytes) / 1024.0,
                    run.status == 0 ? "" : "  (exit status not 0)",
                    run.errors.empty() ? "" : ("  stderr: " + run.errors).c_str());
    }
    return 0;
}
