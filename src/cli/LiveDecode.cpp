// SPDX-License-Identifier: MIT
#include "cli/LiveDecode.h"

#include "busmonitor/CaptureMonitor.h"
#include "cli/ExitCodes.h"
#include "cli/LogPipeline.h"
#include "decode/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Wirelog::cli {
namespace {

// A signal handler reaches only what static storage holds.
std::atomic<int> stopSignals{0};

#ifndef _WIN32
constexpr int kStopSignals[] = {SIGINT, SIGTERM};

extern "C" void OnLiveStopSignal(int signal) {
    if (stopSignals.fetch_add(1) > 0) {
        ::signal(signal, SIG_DFL);
        raise(signal); // delivered as soon as this handler returns
    }
}

void RouteStopSignals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the read that waits for the analyzer's next samples must return.
    action.sa_flags = 0;
    for (const int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
}
#endif

// Standard output written directly, going on after a stop signal interrupted a write to a full
// pipe: the log up to the stop is still wanted.
bool WriteOut(std::string_view bytes, int& error) {
    const std::error_code failed = files::WriteAll(1, bytes);
    error = failed.value();
    return !failed;
}

void Complain(const std::string& message) {
    std::fprintf(stderr, "wirelog-cli decode: %s\n", message.c_str());
}

} // namespace

// On Windows Ctrl+C ends the program as before: every decided line is already written.
LiveStopSignals::LiveStopSignals() {
    stopSignals.store(0);
#ifndef _WIN32
    RouteStopSignals(OnLiveStopSignal);
#endif
}

LiveStopSignals::~LiveStopSignals() {
#ifndef _WIN32
    RouteStopSignals(SIG_DFL);
#endif
}

bool LiveStopSignals::Requested() {
    return stopSignals.load() > 0;
}

int DecodeLiveToStandardOutput(CaptureMonitor& capture, std::string_view format,
                               WriterOptions writing, std::uint64_t maxEvents) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    int writeError = 0;
    const std::uint64_t rate = capture.SampleRate();
    writing.clock.ticksPerSecond = rate;
    LogPipeline pipeline(static_cast<double>(rate) / 1000.0, MakeEventWriter(format, writing),
                         [&](std::string_view bytes) { return WriteOut(bytes, writeError); });
    pipeline.LimitEvents(maxEvents);
    std::vector<MonitorEvent> events;
    try {
        while (!pipeline.reached() && capture.Next(events)) {
            if (events.empty())
                continue;
            for (const MonitorEvent& event : events) {
                const ModuleBytes module = ToModuleBytes(event);
                pipeline.frameRead(static_cast<std::int64_t>(event.sample), module.bytes,
                                   module.count);
            }
            // Each block read ends with its lines written: the reader waits for more samples
            // only once what they decided is out.
            if (!pipeline.flush()) {
                Complain(std::string("cannot write standard output: ") + std::strerror(writeError));
                return kExitFailure;
            }
        }
    } catch (const CaptureError& error) {
        Complain(error.what());
        return kExitUsage;
    }
    if (!pipeline.finish()) {
        Complain(std::string("cannot write standard output: ") + std::strerror(writeError));
        return kExitFailure;
    }
    if (pipeline.reached())
        Complain("note: stopped after " + std::to_string(pipeline.eventsWritten()) +
                 " events (--max-events); the rest of the input was not decoded");
    return kExitOk;
}

} // namespace Wirelog::cli
