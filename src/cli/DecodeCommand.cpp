// SPDX-License-Identifier: MIT
// wirelog-cli decode: a recorded module byte stream to the analyzer's log file.
#include "batchfile/TimedBatchFile.h"
#include "cli/Commands.h"
#include "cli/FileNames.h"
#include "cli/LogPipeline.h"
#include "decode/OutputFile.h"
#include "events/EventBuffer.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace Wirelog::cli {
namespace {

constexpr int kExitFailure = 2;

// The largest read the window's reader ever asks the adapter for.
constexpr std::size_t kLargestRead = 32'764;

// Time stamps of timed batches are microseconds: 1000 ticks per millisecond.
constexpr double kMicrosecondTicksPerMs = 1000.0;

constexpr std::string_view kHelp =
    R"(usage: wirelog-cli decode [--raw] [-o OUT] [INPUT]

Turns a recorded capture-module byte stream into the analyzer's log, byte for
byte as the window's Save Log writes it: one line per log entry, CR LF after
every line, an empty line before each event that begins a transaction.

  INPUT              the recording; standard input when absent or "-"
  -o, --output OUT   write the log to OUT instead of standard output. OUT is
                     replaced only once the whole input has decoded (the log
                     goes to a temporary file beside OUT, then takes its name)
  --raw              INPUT is the module's raw byte stream rather than timed
                     read batches; it is cut into reads of at most 32764
                     bytes, all stamped 0, so no START shows a gap
  -h, --help         show this text

Timed read batches (the default input), one read of the module per line:
    <time-stamp> <hex byte> <hex byte> ...
  The time stamp is unsigned decimal microseconds since the capture started
  and never smaller than the previous line's; each byte is two hex digits,
  either case; blanks or tabs separate the fields, and a trailing CR is
  accepted. A time stamp alone is a read that returned nothing. Empty lines
  and lines starting with '#' are ignored. Example:
    0 00 05
    1520 01 07 A0 09 1B 02

A capture holds at most 999,999 events; as in the window, later events are
neither stored nor shown (a note on standard error says how much was left out).

Exit status: 0 on success; 2 on bad usage, bad input (the message names the
line and what is wrong), an unreadable INPUT or an unwritable OUT. On failure
nothing is written to standard output and OUT is neither created nor changed.
)";

struct Options {
    bool raw = false;
    bool help = false;
    std::optional<std::string> input;  // none or "-": standard input
    std::optional<std::string> output; // none or "-": standard output
};

void Fail(const std::string& message) {
    std::fprintf(stderr, "wirelog-cli decode: %s\n", message.c_str());
}

int UsageError(const std::string& message) {
    Fail(message);
    std::fputs("Try 'wirelog-cli decode --help'.\n", stderr);
    return kExitFailure;
}

// Returns an error message, or nothing when the arguments are sound.
std::optional<std::string> ParseArguments(int argc, char** argv, Options& options) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            options.help = true;
        } else if (!optionsEnded && arg == "--raw") {
            options.raw = true;
        } else if (!optionsEnded && (arg == "-o" || arg == "--output")) {
            if (i + 1 == argc)
                return "option '" + std::string(arg) + "' needs a file name";
            options.output = argv[++i];
        } else if (!optionsEnded && arg.starts_with("--output=")) {
            options.output = std::string(arg.substr(9));
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.size() > 1 && arg.front() == '-') {
            return "unknown option '" + std::string(arg) + "'";
        } else if (options.input) {
            return "only one INPUT may be given (got '" + *options.input + "' and '" +
                   std::string(arg) + "')";
        } else {
            options.input = std::string(arg);
        }
    }
    if (options.output && options.output->empty())
        return "the output file name is empty";
    return std::nullopt;
}

class Input {
public:
    // False, with a message, when the file cannot be opened for reading.
    bool open(const std::optional<std::string>& path, std::string& error) {
        if (!path || *path == "-") {
#ifdef _WIN32
            _setmode(_fileno(stdin), _O_BINARY);
#endif
            name_ = "standard input";
            return true;
        }
        name_ = "'" + *path + "'";
        std::error_code ec;
        const std::filesystem::path file = PathFromUtf8(*path);
        if (std::filesystem::is_directory(file, ec)) {
            error = "cannot read " + name_ + ": it is a directory";
            return false;
        }
        errno = 0;
        file_.open(file, std::ios::binary);
        if (!file_) {
            error = "cannot read " + name_ + ": " +
                    std::generic_category().message(errno != 0 ? errno : EIO);
            return false;
        }
        return true;
    }

    std::istream& stream() {
        return file_.is_open() ? static_cast<std::istream&>(file_) : std::cin;
    }
    const std::string& name() const {
        return name_;
    }

private:
    std::ifstream file_;
    std::string name_;
};

// Feeds the raw stream in reads of the reader's largest size; false on a read error.
bool DecodeRaw(std::istream& in, LogPipeline& pipeline, bool& sinkFailed) {
    std::vector<char> read(kLargestRead);
    while (in) {
        in.read(read.data(), static_cast<std::streamsize>(read.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        if (count > 0 &&
            !pipeline.addRead(0, reinterpret_cast<const std::uint8_t*>(read.data()), count)) {
            sinkFailed = true;
            return true;
        }
    }
    return !in.bad();
}

// Returns the failure message, or nothing when the whole input decoded.
std::optional<std::string> DecodeInput(const Options& options, Input& input, LogPipeline& pipeline,
                                       bool& sinkFailed) {
    if (options.raw) {
        if (!DecodeRaw(input.stream(), pipeline, sinkFailed))
            return "cannot read " + input.name() + ": read error";
        return std::nullopt;
    }
    BatchParseError error;
    const bool ok = ReadTimedBatches(
        input.stream(),
        [&](const TimedBatch& batch) {
            sinkFailed = !pipeline.addRead(static_cast<std::int64_t>(batch.timeStamp),
                                           batch.bytes.data(), batch.bytes.size());
            return !sinkFailed;
        },
        error);
    if (ok)
        return std::nullopt;
    if (error.kind == BatchErrorKind::ReadFailed)
        return "cannot read " + input.name() + ": read error";
    return input.name() + ": " + error.describe();
}

// Things the log cannot show but the user should know; the log itself is as the window's.
void NoteLostInput(const LogPipeline& pipeline) {
    if (pipeline.endsInsideEvent())
        std::fprintf(stderr,
                     "wirelog-cli decode: note: the stream ends inside an event (code %u waits "
                     "for its value byte); it is not in the log\n",
                     static_cast<unsigned>(pipeline.waitingCode()));
    if (pipeline.droppedBytes() == 0)
        return;
    std::fprintf(stderr,
                 "wirelog-cli decode: note: the capture is full at %u events; the last %llu "
                 "bytes of the stream were not decoded\n",
                 static_cast<unsigned>(kEventCapacity),
                 static_cast<unsigned long long>(pipeline.droppedBytes()));
}

} // namespace

int RunDecode(int argc, char** argv) {
    Options options;
    if (const auto problem = ParseArguments(argc, argv, options))
        return UsageError(*problem);
    if (options.help) {
        std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
        return 0;
    }

    std::string error;
    Input input;
    if (!input.open(options.input, error)) {
        Fail(error);
        return kExitFailure;
    }
    const std::string target = options.output.value_or("-");
    const std::string targetName = target == "-" ? "standard output" : "'" + target + "'";
    OutputFile output;
    if (!output.Open(PathFromUtf8(target), error)) {
        Fail("cannot write " + targetName + ": " + error);
        return kExitFailure;
    }

    LogPipeline pipeline(kMicrosecondTicksPerMs,
                         [&output](std::string_view bytes) { return output.Write(bytes); });
    bool sinkFailed = false;
    if (const auto problem = DecodeInput(options, input, pipeline, sinkFailed)) {
        Fail(*problem);
        return kExitFailure;
    }
    // A failed sink is reported by Commit(), which knows why the write failed.
    if (!sinkFailed)
        pipeline.finish();
    if (!output.Commit(error)) {
        Fail("cannot write " + targetName + ": " + error);
        return kExitFailure;
    }
    NoteLostInput(pipeline);
    return 0;
}

} // namespace Wirelog::cli
