// SPDX-License-Identifier: MIT
// wirelog-cli capture: a live capture without a window, through the window's own discovery,
// reader thread, framing, log drain and log-file writer.
#include "adapter/AdapterLibrary.h"
#include "capture/CaptureControl.h"
#include "cli/AdapterLocation.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/FileNames.h"
#include "cli/Wakeup.h"
#include "decode/LogDrain.h"
#include "decode/LogFile.h"
#include "decode/LogLines.h"
#include "decode/OutputFile.h"
#include "decode/TimeBase.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
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
    R"(usage: wirelog-cli capture [--module N] [--seconds S] [-o FILE]

Captures from a module as the window's START does and writes the log as it
comes: each line followed by CR LF, an empty line before each event that
begins a transaction, the same bytes the window's Save Log writes.

  --module N         the module whose device index is N ('wirelog-cli list'
                     shows them); without it, the only module attached
  --seconds S        stop after S seconds: a number above 0 and at most 1e9,
                     with decimals or an exponent (2.5, 1e-3; below a
                     nanosecond it stops at once); without it, stop on
                     Ctrl+C (SIGINT), SIGTERM or SIGHUP
  -o, --output FILE  write the log to FILE when the capture stops instead of
                     to standard output as it comes; FILE is replaced at once
                     and whole (the log goes to a temporary file beside it)
  -h, --help         show this text

Stopping sends the module its stop command, reads what it sent before it
stopped, closes it and writes the log; a second signal ends the program at once
(the temporary file beside FILE is removed). A capture holds at most 999,999 events; later events
are neither stored nor shown (a note on standard error says so).

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
        } else {
            return "unexpected argument '" + std::string(arg) + "'";
        }
    }
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

// Where the log goes: standard output as it comes, or a staged file committed at the end.
class LogOutput {
public:
    bool Open(const std::optional<std::string>& file, std::string& error) {
        if (!file || *file == "-")
            return true;
        toFile_ = true;
        name_ = "'" + *file + "'";
        if (file_.Open(PathFromUtf8(*file), error))
            return true;
        error = "cannot write " + name_ + ": " + error;
        return false;
    }

    // Writes the lines and forgets them, so a long capture is never held twice.
    bool Write(LogLines& lines) {
        const bool ok = WriteLogFile(lines, [this](std::string_view bytes) {
            if (toFile_)
                return file_.Write(bytes);
            return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
                   std::fflush(stdout) == 0;
        });
        lines.clear();
        if (!ok && !toFile_)
            stdoutError_ = errno;
        return ok;
    }

    // The stage a second signal removes, empty when there is none.
    const std::filesystem::path& StagePath() const { return file_.StagePath(); }

    bool Finish(std::string& error) {
        if (toFile_ && !file_.Commit(error)) {
            error = "cannot write " + name_ + ": " + error;
            return false;
        }
        if (toFile_)
            return true;
        if (stdoutError_ != 0 && stdoutError_ != EPIPE)
            error = std::string("cannot write standard output: ") + std::strerror(stdoutError_);
        return stdoutError_ == 0;
    }

private:
    OutputFile file_;
    std::string name_;
    bool toFile_ = false;
    int stdoutError_ = 0;
};

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

void NoteFullBuffer() {
    if (myevtHead.load() >= kEventCapacity)
        Fail("the capture reached 999,999 events; later events were neither stored nor shown");
}

void NoteNoEvent() {
    if (myevtHead.load() == 0)
        Fail("note: the module sent no event; the log is empty");
}

// Reports of the binding (a library that lacks a function) are usage errors, whenever they come.
int ReportLibraryProblems(Problems& library, int status) {
    const std::vector<std::string> reports = library.Take();
    for (const std::string& report : reports)
        Fail(report);
    return reports.empty() ? status : kExitUsage;
}

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
    CaptureControl capture(library, callbacks);

    const ModuleList list = capture.Load();
    if (ReportLibraryProblems(libraryProblems, kExitOk) != kExitOk)
        return kExitUsage;
    const Choice choice = ChooseModule(list, options.module);
    if (!choice.entry)
        return choice.status;

    LogOutput output;
    std::string error;
    {
        // From the stage's creation to its registration a second stop signal would leave the
        // stage behind, so stop signals wait until it is registered.
        const Wakeup::SignalsHeld signalsHeld;
        if (!output.Open(options.output, error)) {
            Fail(error);
            return kExitFailure;
        }
        wakeup.RemoveOnSecondSignal(output.StagePath());
    }
#ifdef SIGPIPE
    // A reader of our standard output that goes away must not kill us before the stop command.
    std::signal(SIGPIPE, SIG_IGN);
#endif

    InitTimeBase();
    const std::uint64_t overrunsBefore = ChipOverruns();
    LogLines lines;
    if (!capture.StartCapture(*choice.entry, [&] {
            ResetDecoder();
            lines.clear();
        })) {
        Fail("couldn't open the module " + *choice.entry);
        return ReportLibraryProblems(libraryProblems, kExitFailure);
    }

    Wakeup::Deadline deadline;
    if (options.seconds)
        deadline = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(*options.seconds));
    bool writable = true;
    std::vector<std::string> failures;
    std::vector<std::string> libraryReports;
    while (true) {
        const unsigned reasons = wakeup.Wait(deadline);
        DrainEvents(lines);
        writable = output.Write(lines) && writable;
        if (reasons & Wakeup::kMessage) {
            failures = problems.Take();
            libraryReports = libraryProblems.Take();
        }
        if (!failures.empty() || !libraryReports.empty() || !writable ||
            (reasons & Wakeup::kStopSignal) ||
            (deadline && std::chrono::steady_clock::now() >= *deadline))
            break;
    }
    capture.StopCapture();
    // What the reader stored before the stop still belongs to the log.
    DrainEvents(lines);
    writable = output.Write(lines) && writable;
    NoteFullBuffer();
    NoteOverruns(overrunsBefore);
    NoteNoEvent();

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
