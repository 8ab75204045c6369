// SPDX-License-Identifier: MIT
// wirelog-cli capture: a live capture without a window, through the window's own discovery,
// reader thread, framing, log drain and log-file writer.
#include "adapter/AdapterLibrary.h"
#include "capture/CaptureControl.h"
#include "cli/AdapterLocation.h"
#include "cli/CaptureOutput.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/FileNames.h"
#include "cli/LogPipeline.h"
#include "cli/OutputFormats.h"
#include "cli/ReadQueue.h"
#include "cli/RigOptions.h"
#include "cli/Wakeup.h"
#include "events/Counter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace Wirelog::cli {
namespace {

// Beyond this a deadline no longer fits the clock's count of nanoseconds.
constexpr double kMaxSeconds = 1e9;

constexpr std::string_view kHelp =
    R"(usage: wirelog-cli capture [--module N] [--seconds S] [--max-events N]
                           [--timestamps[=utc]] [--output-format F]
                           [--address A[,B...]] [-o FILE]
                           [--rotate SIZE] [--rotate-every DURATION]

Captures from a module as the window's START does and writes the log as it
comes: each line followed by CR LF, an empty line before each event that
begins a transaction, the same bytes the window's Save Log writes. There is
no event limit (the window's 999,999 is its own): the capture runs, in
constant memory, until it is stopped.

  --module N         the module whose device index is N ('wirelog-cli list'
                     shows them); without it, the only module attached
  --seconds S        stop after S seconds: a number above 0 and at most 1e9,
                     with decimals or an exponent (2.5, 1e-3; below a
                     nanosecond it stops at once); without it, stop on
                     Ctrl+C (SIGINT), SIGTERM or SIGHUP
  --max-events N     stop after N events
  --timestamps       start every non-empty line with its event's time in
                     seconds since the capture began (9 decimals) and a blank
  --timestamps=utc   ...with its time as ISO 8601 UTC with microseconds
                     (2026-12-07T15:37:41.123456Z) instead
  --output-format F  write F instead of the log: transactions, csv, jsonl or
                     pcap (docs/exports.md); times count from the capture's
                     start, pcap's from the wall clock's
  --address A[,B...] keep only the transactions to these 7-bit addresses
                     (decimal, or hex with 0x) and every error
  -o, --output FILE  write the log to FILE instead of to standard output. It
                     is written as it comes, as FILE.partial, synced to the
                     disk every second, and takes the name FILE when the
                     capture ends (replacing FILE); a device, FIFO or
                     /dev/stdout is written directly
  --rotate SIZE      with -o: end the current file once it holds SIZE bytes
                     (K, M, G: KiB, MiB, GiB) and go on in the next
  --rotate-every DURATION
                     with -o: end the current file after DURATION (seconds,
                     or a number with s, m, h or d) and go on in the next
  -h, --help         show this text

With rotation FILE itself is not written: the files are named
STEM-<capture start, UTC>-NNNNNNNN.EXT beside it (bus.log gives
bus-20261207T153741Z-00000001.log, ...), so they sort in time order. Each is
complete and synced when it takes its name; a file ends between two
transactions, or where it stands once it has grown to twice SIZE or lasted
twice DURATION.

Stopping sends the module its stop command, reads what it sent before it
stopped, closes it and finishes the log; a second signal ends the program at
once, leaving an unfinished file under its .partial name, as a crash does (all
but at most the last second of the log is in it).

The adapter library is found as for 'wirelog-cli list' (WIRELOG_ADAPTER, or
the file next to wirelog-cli); WIRELOG_SIM=demo adds a simulated module.

Exit status: 0 after a capture that ended as asked; 1 when no module can be
used, a read failed (the log up to then is still written) or the log cannot
be written; 2 on bad usage, several modules without --module, or when the
adapter library cannot be loaded or lacks a function.
)";

struct Options {
    std::optional<std::string> module; // decimal digits, without leading zeros
    std::optional<double> seconds;
    std::optional<std::string> output;
    std::uint64_t maxEvents = 0;     // 0: no limit
    std::uint64_t rotateBytes = 0;   // 0: not by size
    std::uint64_t rotateSeconds = 0; // 0: not by time
    LineStamps stamps = LineStamps::None;
    OutputChoice writing;
    bool help = false;
};

void Fail(const std::string& message) {
    std::fprintf(stderr, "wirelog-cli capture: %s\n", message.c_str());
}

int UsageError(const std::string& message) {
    Fail(message);
    std::fputs("Try 'wirelog-cli capture --help'.\n", stderr);
    return kExitUsage;
}

// --max-events, --rotate and --rotate-every: nothing when `arg` is none of them, an empty text
// when its value is sound, the problem otherwise.
template <typename Value>
std::optional<std::string> ParseRigOption(std::string_view arg, Value&& value, Options& options) {
    std::optional<std::uint64_t> parsed;
    std::string_view expected;
    if (arg == "--max-events") {
        const auto text = value();
        parsed = text ? ParseEventCount(*text) : std::nullopt;
        options.maxEvents = parsed.value_or(0);
        expected = "a positive whole number of events";
    } else if (arg == "--rotate") {
        const auto text = value();
        parsed = text ? ParseByteSize(*text) : std::nullopt;
        options.rotateBytes = parsed.value_or(0);
        expected = "a size in bytes (a positive number, optionally with K, M or G)";
    } else if (arg == "--rotate-every") {
        const auto text = value();
        parsed = text ? ParseDurationSeconds(*text) : std::nullopt;
        options.rotateSeconds = parsed.value_or(0);
        expected = "a duration (a positive whole number of seconds, optionally with s, m, h or d)";
    } else {
        return std::nullopt;
    }
    if (!parsed)
        return std::string(arg) + " needs " + std::string(expected);
    return std::string();
}

std::optional<std::string> ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 == argc)
                return std::nullopt;
            return std::string_view(argv[++i]);
        };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--module") {
            const auto text = value();
            if (!text || text->empty() ||
                text->find_first_not_of("0123456789") != std::string_view::npos)
                return "--module needs a device index (0, 1, ...)";
            // However large, an index is no usage error: no module has it.
            const std::size_t first = std::min(text->find_first_not_of('0'), text->size() - 1);
            options.module = std::string(text->substr(first));
        } else if (arg == "--seconds") {
            const auto text = value();
            double seconds = 0;
            if (!text ||
                std::from_chars(text->data(), text->data() + text->size(), seconds).ptr !=
                    text->data() + text->size() ||
                !(seconds > 0) || !(seconds <= kMaxSeconds))
                return "--seconds needs a positive number of seconds, at most 1000000000";
            options.seconds = seconds;
        } else if (arg == "-o" || arg == "--output") {
            const auto text = value();
            if (!text || text->empty())
                return "option '" + std::string(arg) + "' needs a file name";
            options.output = std::string(*text);
        } else if (const auto stamps = ParseStampsOption(arg)) {
            if (*stamps == LineStamps::None)
                return "--timestamps takes 'utc' or 'seconds' (got '" + std::string(arg) + "')";
            options.stamps = *stamps;
        } else if (auto problem = ParseRigOption(arg, value, options)) {
            if (!problem->empty())
                return *problem;
        } else if (auto outputProblem = ParseOutputOption(
                       arg, arg == "--output-format" || arg == "--address" ? value() : std::nullopt,
                       options.writing)) {
            if (!outputProblem->empty())
                return *outputProblem;
        } else {
            return "unexpected argument '" + std::string(arg) + "'";
        }
    }
    if ((options.rotateBytes != 0 || options.rotateSeconds != 0) &&
        (!options.output || *options.output == "-"))
        return "--rotate and --rotate-every need -o FILE";
    if (options.stamps != LineStamps::None && options.writing.format != kLogFormat)
        return "--timestamps is for the log; every other output format carries the times itself";
    return std::nullopt;
}

// Reports from the binding and messages from the reader, gathered for the main thread.
class Problems {
public:
    void Add(const std::string& text) {
        std::lock_guard lock(mutex_);
        texts_.push_back(text);
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::move(texts_);
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

// The entry of the module to capture from, or the exit status when there is none to use.
struct Choice {
    std::optional<std::string> entry;
    int status = 0;
};

Choice ChooseModule(const ModuleList& list, const std::optional<std::string>& wanted) {
    if (wanted) {
        for (const std::string& entry : list.entries)
            if (const auto index = LeadingDeviceIndex(entry);
                index && std::to_string(*index) == *wanted)
                return {entry, 0};
        Fail("no capture module has device index " + *wanted + " ('wirelog-cli list' shows them)");
        return {std::nullopt, kExitFailure};
    }
    if (list.entries.empty()) {
        Fail("no capture module is attached");
        return {std::nullopt, kExitFailure};
    }
    if (list.entries.size() > 1) {
        Fail("several capture modules are attached; choose one with --module N:");
        for (const std::string& entry : list.entries)
            std::fprintf(stderr, "  %s\n", entry.c_str());
        return {std::nullopt, kExitUsage};
    }
    return {list.entries.front(), 0};
}

// Overruns the module's USB chip has reported so far, through the adapter library's extension
// call; 0 when the library (FTDI's own, say) has none.
std::uint64_t ChipOverruns() {
    using Count = std::uint64_t (*)();
    std::uint64_t overruns = 0;
#ifdef _WIN32
    if (HMODULE module = GetModuleHandleW(PathFromUtf8(AdapterLibraryPath()).c_str()))
        if (auto count = reinterpret_cast<Count>(GetProcAddress(module, "WirelogExt_OverrunCount")))
            overruns = count();
#else
    if (void* module = dlopen(AdapterLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        if (auto count = reinterpret_cast<Count>(dlsym(module, "WirelogExt_OverrunCount")))
            overruns = count();
        dlclose(module);
    }
#endif
    return overruns;
}

void NoteOverruns(std::uint64_t before) {
    if (const std::uint64_t overruns = ChipOverruns() - before; overruns > 0)
        Fail("the module's USB chip reported " + std::to_string(overruns) +
             " overruns: bytes were lost before they reached the computer");
}

void NoteLostReads(const ReadQueue& reads) {
    if (const std::uint64_t dropped = reads.DroppedBytes(); dropped > 0)
        Fail("the log could not keep up: " + std::to_string(dropped) +
             " bytes of the module's stream were lost (the output is too slow)");
}

void NoteEnd(const LogPipeline& pipeline) {
    if (pipeline.eventsWritten() == 0)
        Fail("note: the module sent no event; the log is empty");
    else if (pipeline.reached())
        Fail("note: stopped after " + std::to_string(pipeline.eventsWritten()) +
             " events (--max-events)");
}

// When tick 0 of the reader's stamps happened, for UTC line stamps: taken just before the reader
// starts and takes its base, which lies within a thread start of it.
CaptureClock ClockNow() {
    CaptureClock clock;
    clock.ticksPerSecond = static_cast<std::uint64_t>(CounterFrequency());
    clock.startUnixMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    return clock;
}

// Reports of the binding (a library that lacks a function) are usage errors, whenever they come.
int ReportLibraryProblems(Problems& library, int status) {
    const std::vector<std::string> reports = library.Take();
    for (const std::string& report : reports)
        Fail(report);
    return reports.empty() ? status : kExitUsage;
}

// The main thread's clock work between reads: the log synced to the disk once a second, and
// the file rotated on schedule (at a boundary, or where it stands once a whole period late).
class RoundTimer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kSyncInterval{1};

    explicit RoundTimer(std::uint64_t rotateSeconds)
        : period_(std::chrono::seconds(rotateSeconds)), nextSync_(Clock::now() + kSyncInterval),
          nextCut_(Clock::now() + period_) {}

    // The earliest of the capture's deadline and the timer's own.
    Wakeup::Deadline Next(const Wakeup::Deadline& deadline) const {
        Clock::time_point next = nextSync_;
        if (period_.count() != 0)
            next = std::min(next, nextCut_);
        return deadline ? std::min(next, *deadline) : next;
    }

    bool Tick(LogPipeline& pipeline, CaptureOutput& output) {
        const Clock::time_point now = Clock::now();
        bool ok = true;
        if (period_.count() != 0 && now >= nextCut_) {
            // A cut still waiting from the last period is overdue: it happens before the next
            // event, boundary or not.
            pipeline.RequestCut(cutRequested_);
            cutRequested_ = true;
            while (nextCut_ <= now)
                nextCut_ += period_;
            ok = pipeline.flush();
        }
        if (!pipeline.CutPending())
            cutRequested_ = false;
        if (now >= nextSync_) {
            ok = output.Sync() && ok;
            nextSync_ = now + kSyncInterval;
        }
        return ok;
    }

private:
    const std::chrono::seconds period_;
    Clock::time_point nextSync_;
    Clock::time_point nextCut_;
    bool cutRequested_ = false;
};

} // namespace

int RunCapture(int argc, char** argv) {
    Options options;
    if (auto problem = ParseArguments(argc, argv, options))
        return UsageError(*problem);
    if (options.help) {
        std::fputs(kHelp.data(), stdout);
        return kExitOk;
    }

    Problems problems;
    Problems libraryProblems;
    Wakeup wakeup;
    AdapterLibrary library(AdapterLibraryPath(), [&](const std::string& text) {
        libraryProblems.Add(text);
        wakeup.Notify(Wakeup::kMessage);
    });
    ReaderCallbacks callbacks;
    callbacks.requestRefresh = [&] { wakeup.Notify(Wakeup::kRefresh); };
    // The reader waits on its message until the capture is stopped; a logging rig has nobody
    // to close a box, and a failing module ends the capture.
    callbacks.showMessage = [&](const std::string& text, std::function<void()>) {
        problems.Add(text);
        wakeup.Notify(Wakeup::kMessage);
    };
    // The reader only queues its reads; this thread frames them, so the event buffer can be
    // emptied as often as it fills.
    ReadQueue reads;
    callbacks.takeRead = [&](const std::uint8_t* bytes, std::size_t count, std::int64_t stamp) {
        reads.Push(stamp, bytes, count);
    };
    CaptureControl capture(library, callbacks);

    const ModuleList list = capture.Load();
    if (ReportLibraryProblems(libraryProblems, kExitOk) != kExitOk)
        return kExitUsage;
    const Choice choice = ChooseModule(list, options.module);
    if (!choice.entry)
        return choice.status;

    CaptureOutput output;
    std::string error;
    {
        // The stop signals wait until the output is open, so that none interrupts its creation.
        const Wakeup::SignalsHeld signalsHeld;
        const std::int64_t startSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                              std::chrono::system_clock::now().time_since_epoch())
                                              .count();
        if (!output.Open(options.output, options.rotateBytes != 0 || options.rotateSeconds != 0,
                         startSeconds, error)) {
            Fail(error);
            return kExitFailure;
        }
    }
#ifdef SIGPIPE
    // A reader of our standard output that goes away must not kill us before the stop command.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    const std::uint64_t overrunsBefore = ChipOverruns();
    std::optional<LogPipeline> pipeline;
    const auto startLog = [&] {
        WriterOptions writing;
        writing.stamps = options.stamps;
        writing.clock = ClockNow();
        writing.addresses = options.writing.addresses;
        pipeline.emplace(static_cast<double>(writing.clock.ticksPerSecond) / 1000.0,
                         MakeEventWriter(options.writing.format, writing),
                         [&output](std::string_view bytes) { return output.Write(bytes); });
        pipeline->LimitEvents(options.maxEvents);
        if (options.rotateBytes != 0 || options.rotateSeconds != 0)
            pipeline->CutEvery(options.rotateBytes, [&output] { return output.Cut(); });
    };
    if (!capture.StartCapture(*choice.entry, startLog)) {
        Fail("couldn't open the module " + *choice.entry);
        return ReportLibraryProblems(libraryProblems, kExitFailure);
    }

    Wakeup::Deadline deadline;
    if (options.seconds)
        deadline = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(*options.seconds));
    RoundTimer timer(options.rotateSeconds);
    const auto takeReads = [&] {
        reads.Drain([&](std::int64_t stamp, const std::uint8_t* bytes, std::size_t count) {
            pipeline->frameRead(stamp, bytes, count);
        });
        return pipeline->flush();
    };
    bool writable = true;
    std::vector<std::string> failures;
    std::vector<std::string> libraryReports;
    while (true) {
        const unsigned reasons = wakeup.Wait(timer.Next(deadline));
        writable = takeReads() && writable;
        writable = timer.Tick(*pipeline, output) && writable;
        if (reasons & Wakeup::kMessage) {
            failures = problems.Take();
            libraryReports = libraryProblems.Take();
        }
        if (!failures.empty() || !libraryReports.empty() || !writable || pipeline->reached() ||
            (reasons & Wakeup::kStopSignal) ||
            (deadline && std::chrono::steady_clock::now() >= *deadline))
            break;
    }
    capture.StopCapture();
    // What the reader took in before the stop still belongs to the log.
    writable = takeReads() && writable;
    writable = pipeline->finish() && writable;
    NoteLostReads(reads);
    NoteOverruns(overrunsBefore);
    NoteEnd(*pipeline);

    for (const std::string& failure : failures)
        Fail(failure);
    int status = failures.empty() ? kExitOk : kExitFailure;
    for (const std::string& report : libraryReports)
        Fail(report);
    status = ReportLibraryProblems(libraryProblems, libraryReports.empty() ? status : kExitUsage);
    if (!output.Finish(error)) {
        if (!error.empty())
            Fail(error);
        return status == kExitOk ? kExitFailure : status;
    }
    return status;
}

} // namespace Wirelog::cli
