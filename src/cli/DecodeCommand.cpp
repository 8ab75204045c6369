// SPDX-License-Identifier: MIT
// wirelog-cli decode: a recorded module byte stream to the analyzer's log file.
#include "batchfile/TimedBatchFile.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/LogPipeline.h"
#include "decode/OutputFile.h"
#include "events/EventBuffer.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Wirelog::cli {
namespace {

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

Exit status: 0 on success; 1 when the log cannot be written (OUT or standard
output); 2 on bad usage, bad input (the message names the line and what is
wrong) or an unreadable INPUT. On failure nothing is written to standard output
and OUT is neither created nor changed.
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
    return kExitUsage;
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

// The recording, read in blocks through stdio for a file and standard input alike, so a read
// error (a directory given as standard input, a closed descriptor) is seen for both.
class Input {
public:
    ~Input() {
        if (file_ != nullptr && file_ != stdin)
            std::fclose(file_);
    }

    // False, with a message, when the file cannot be opened for reading.
    bool open(const std::optional<std::string>& path, std::string& error) {
        if (!path || *path == "-") {
#ifdef _WIN32
            _setmode(_fileno(stdin), _O_BINARY);
#endif
            name_ = "standard input";
            file_ = stdin;
#ifndef _WIN32
            // A closed descriptor 0 would be reused by the next file opened, and read from.
            errno = 0;
            if (fcntl(STDIN_FILENO, F_GETFD) == -1) {
                error = ReadError();
                return false;
            }
#endif
            return true;
        }
        name_ = "'" + *path + "'";
        errno = 0;
#ifdef _WIN32
        file_ = _wfopen(std::filesystem::path(*path).c_str(), L"rb");
#else
        file_ = std::fopen(path->c_str(), "rb");
#endif
        if (file_ == nullptr) {
            error = ReadError();
            return false;
        }
        return true;
    }

    // The next block, empty at the end of the input or after a read error (failed() then).
    std::string_view Read(std::vector<char>& block) {
        errno = 0;
        const std::size_t got = std::fread(block.data(), 1, block.size(), file_);
        if (got == 0 && std::ferror(file_))
            errno_ = errno != 0 ? errno : EIO;
        return {block.data(), got};
    }
    bool failed() const {
        return errno_ != 0;
    }
    std::string ReadError() const {
        return "cannot read " + name_ + ": " +
               std::generic_category().message(errno_ != 0  ? errno_
                                               : errno != 0 ? errno
                                                            : EIO);
    }
    const std::string& name() const {
        return name_;
    }

private:
    std::FILE* file_ = nullptr;
    std::string name_;
    int errno_ = 0;
};

// Feeds the raw stream in reads of the reader's largest size.
void DecodeRaw(Input& input, LogPipeline& pipeline, bool& sinkFailed) {
    std::vector<char> block(kLargestRead);
    for (std::string_view read; !(read = input.Read(block)).empty();) {
        if (!pipeline.addRead(0, reinterpret_cast<const std::uint8_t*>(read.data()), read.size())) {
            sinkFailed = true;
            return;
        }
    }
}

// Returns the failure message, or nothing when the whole input decoded.
std::optional<std::string> DecodeInput(const Options& options, Input& input, LogPipeline& pipeline,
                                       bool& sinkFailed) {
    if (options.raw) {
        DecodeRaw(input, pipeline, sinkFailed);
        if (input.failed())
            return input.ReadError();
        return std::nullopt;
    }
    TimedBatchStream stream([&](const TimedBatch& batch) {
        sinkFailed = !pipeline.addRead(static_cast<std::int64_t>(batch.timeStamp),
                                       batch.bytes.data(), batch.bytes.size());
        return !sinkFailed;
    });
    std::vector<char> block(std::size_t{1} << 16);
    std::string_view text;
    while (!(text = input.Read(block)).empty() && stream.Feed(text)) {
    }
    if (input.failed())
        return input.ReadError();
    stream.Finish();
    if (stream.Failed())
        return input.name() + ": " + stream.error().describe();
    return std::nullopt;
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
        return kExitUsage;
    }
    const std::string target = options.output.value_or("-");
    const std::string targetName = target == "-" ? "standard output" : "'" + target + "'";
    OutputFile output;
    if (!output.Open(target, error)) {
        Fail("cannot write " + targetName + ": " + error);
        return kExitFailure;
    }

    LogPipeline pipeline(kMicrosecondTicksPerMs,
                         [&output](std::string_view bytes) { return output.Write(bytes); });
    bool sinkFailed = false;
    if (const auto problem = DecodeInput(options, input, pipeline, sinkFailed)) {
        Fail(*problem);
        return kExitUsage;
    }
    // A failed sink is reported by Commit(), which knows why the write failed.
    if (!sinkFailed)
        pipeline.finish();
    if (!output.Commit(error)) {
        Fail("cannot write " + targetName + ": " + error);
        return kExitFailure;
    }
    NoteLostInput(pipeline);
    return kExitOk;
}

} // namespace Wirelog::cli
