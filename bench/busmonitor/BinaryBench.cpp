// SPDX-License-Identifier: MIT
// Raw logic samples (`decode --format binary`) against the same samples as a sigrok session,
// and how soon a line follows the sample that decides it.
//
// Makes a long session with make_long_capture.py (a busy 100 kHz bus sampled at 8 MHz, 10 s by
// default: 80 million samples), lays its SCL and SDA out as raw samples (bits 0 and 1 of one
// byte, as `sigrok-cli -O binary` writes them), then:
//   - times `wirelog-cli decode` of the session, and of the raw samples read from a file and
//     piped in through `cat`: best of three, CPU time of the process tree, wall time beside it;
//   - feeds the raw samples through a pipe one deciding sample at a time and measures, for the
//     first lines of the log, the time from writing the sample to reading the line.
//
// usage: binary_bench [--seconds S (default 10)] [--lines N (default 2000)]
#include "ChildArgv.h"
#include "busmonitor/CaptureReader.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Run {
    double cpu = 1e30, wall = 0;
    int status = -1;
};

// Spawns argv with the given standard input and output (-1: inherited) and, unless `pid` is
// asked for, waits for it.
Run Spawn(const std::vector<std::string>& args, int in, int out, pid_t* pid = nullptr) {
    std::vector<char*> argv = Wirelog::bench::ChildArgv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    pid_t child = 0;
    const auto start = Clock::now();
    const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Run run;
    if (failed != 0)
        return run;
    if (pid != nullptr) {
        *pid = child;
        run.status = 0;
        return run;
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.wall = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

Run BestOfThree(const std::vector<std::string>& args) {
    const int null = open("/dev/null", O_WRONLY);
    Run best;
    for (int i = 0; i < 3; ++i) {
        const Run run = Spawn(args, -1, null);
        if (run.status != 0)
            return run;
        if (run.cpu < best.cpu)
            best = run;
    }
    close(null);
    return best;
}

// The session's SCL and SDA as one byte per sample; returns the number of samples.
std::uint64_t WriteRawSamples(const fs::path& session, const fs::path& raw) {
    auto reader = Wirelog::OpenCapture(session.string());
    reader->SelectChannels(0, 1);
    std::ofstream out(raw, std::ios::binary);
    std::vector<Wirelog::BusLevels> block;
    Wirelog::BusLevels last{0, true, true};
    std::string run;
    const auto fill = [&](std::uint64_t until) {
        run.assign(until - last.sample, static_cast<char>((last.scl ? 1 : 0) | (last.sda ? 2 : 0)));
        out << run;
    };
    while (reader->Read(block))
        for (const Wirelog::BusLevels& change : block) {
            fill(change.sample);
            last = change;
        }
    fill(reader->EndSample());
    return reader->EndSample();
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[1 << 16];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

// Writes the raw samples up to each line's deciding sample, then times how long the line takes
// to arrive; the milliseconds of each of the first `lines` lines.
std::vector<double> Latencies(const std::string& samples, const std::string& log,
                              std::uint64_t rate, std::size_t lines) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return {};
    pid_t pid = 0;
    Spawn({WIRELOG_CLI_PATH, "decode", "--timestamps", "--format", "binary", "--samplerate", "8m",
           "--scl", "0", "--sda", "1", "-"},
          in[0], out[1], &pid);
    close(in[0]);
    close(out[1]);
    std::vector<double> ms;
    std::string got;
    std::size_t written = 0;
    for (std::size_t line = 0, next; line < log.size() && ms.size() < lines; line = next) {
        next = log.find("\r\n", line) + 2;
        if (next == line + 2)
            continue;
        const std::uint64_t ns = std::stoull(log.substr(line, 11).erase(1, 1));
        const std::size_t upTo = (ns * rate + 999'999'999) / 1'000'000'000 + 1;
        if (upTo > samples.size())
            break;
        if (upTo > written)
            written += static_cast<std::size_t>(write(in[1], &samples[written], upTo - written));
        const auto start = Clock::now();
        char buffer[4096];
        while (got.size() < next) {
            pollfd wait{out[0], POLLIN, 0};
            const ssize_t n = poll(&wait, 1, 10'000) > 0 ? read(out[0], buffer, sizeof buffer) : 0;
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        if (got.size() < next)
            break;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    close(in[1]);
    ReadAll(out[0]);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string seconds = "10";
    std::size_t lines = 2000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--seconds")
            seconds = argv[i + 1];
        else if (arg == "--lines")
            lines = std::stoul(argv[i + 1]);
    }
    const fs::path dir = fs::temp_directory_path() / ("binary-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path session = dir / "long.sr", raw = dir / "long.bin";
    if (Spawn({"python3", WIRELOG_MAKE_CAPTURE, session.string(), "--seconds", seconds}, -1, -1)
            .status != 0) {
        std::fprintf(stderr, "binary_bench: could not make the capture\n");
        return 1;
    }
    const double msamples = static_cast<double>(WriteRawSamples(session, raw)) / 1e6;
    std::printf("%.0f M samples: session %.1f MB, raw %.1f MB\n\n", msamples,
                static_cast<double>(fs::file_size(session)) / 1e6,
                static_cast<double>(fs::file_size(raw)) / 1e6);

    const std::string cli = WIRELOG_CLI_PATH;
    const std::string rawArgs = " decode --format binary --samplerate 8m --scl 0 --sda 1";
    const struct {
        const char* what;
        std::vector<std::string> args;
    } runs[] = {
        {"decode long.sr", {cli, "decode", session.string()}},
        {"decode --format binary long.bin",
         {cli, "decode", "--format", "binary", "--samplerate", "8m", "--scl", "0", "--sda", "1",
          raw.string()}},
        {"cat long.bin | decode --format binary -",
         {"sh", "-c", "cat '" + raw.string() + "' | '" + cli + "'" + rawArgs + " -"}},
    };
    std::printf("%-44s %7s %7s %11s\n", "", "cpu s", "wall s", "M samples/s");
    double srCpu = 0;
    for (const auto& run : runs) {
        const Run best = BestOfThree(run.args);
        if (best.status != 0) {
            std::printf("%-44s failed (exit %d)\n", run.what, best.status);
            continue;
        }
        srCpu = srCpu == 0 ? best.cpu : srCpu;
        std::printf("%-44s %7.2f %7.2f %11.1f  (%.2fx the session's CPU time)\n", run.what,
                    best.cpu, best.wall, msamples / best.cpu, best.cpu / srCpu);
    }

    int logPipe[2];
    if (pipe2(logPipe, O_CLOEXEC) != 0)
        return 1;
    pid_t pid = 0;
    Spawn({cli, "decode", "--timestamps", session.string()}, -1, logPipe[1], &pid);
    close(logPipe[1]);
    const std::string log = ReadAll(logPipe[0]);
    close(logPipe[0]);
    waitpid(pid, nullptr, 0);
    // The first lines need only the start of the samples.
    std::string samples(std::min<std::uintmax_t>(fs::file_size(raw), 64 << 20), '\0');
    std::ifstream(raw, std::ios::binary).read(samples.data(), static_cast<long>(samples.size()));
    std::vector<double> ms = Latencies(samples, log, 8'000'000, lines);
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("\nlatency: no line arrived\n");
    } else {
        std::printf("\nlatency from a line's deciding sample written to the line read, %zu lines:\n"
                    "  median %.3f ms, 99th percentile %.3f ms, max %.3f ms (goal: 100 ms)\n",
                    ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    }
    fs::remove_all(dir);
    return ms.empty() ? 1 : 0;
}
