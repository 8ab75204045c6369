// SPDX-License-Identifier: MIT
// wirelog-cli decode: a recorded module byte stream to the analyzer's log file.
#include "batchfile/TimedBatchFile.h"
#include "busmonitor/CaptureMonitor.h"
#include "cli/CaptureDecode.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/FileNames.h"
#include "cli/LiveDecode.h"
#include "cli/LogPipeline.h"
#include "cli/OutputFormats.h"
#include "cli/ProgressMeter.h"
#include "cli/RigOptions.h"
#include "decode/OutputFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
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
constexpr std::uint64_t kMicrosecondTicksPerSecond = 1'000'000;

// Enough of a file's start to find its first line that is not a comment.
constexpr std::size_t kSniffBytes = 4096;

constexpr std::string_view kHelp =
    R"(usage: wirelog-cli decode [--raw] [--max-events N] [--output-format F]
                          [--address A[,B...]] [-o OUT] [INPUT]
       wirelog-cli decode [--scl CH] [--sda CH] [--idle-us N] [--glitch-ns N]
                          [--format sr|vcd|csv] [-o OUT] CAPTURE
       wirelog-cli decode --format binary --samplerate RATE [--unitsize N]
                          --scl CH --sda CH [...] [-o OUT] [SAMPLES]

Turns a recorded capture-module byte stream, or a logic-analyzer capture of an
I2C bus, into the analyzer's log, byte for byte as the window's Save Log
writes it: one line per log entry, CR LF after every line, an empty line
before each event that begins a transaction.

  INPUT              the recording; standard input when absent or "-"
  -o, --output OUT   write the log to OUT instead of standard output. OUT is
                     replaced only once the whole input has decoded (the log
                     goes to a temporary file beside OUT, then takes its name)
  --max-events N     stop after N events (default: no limit)
  --raw              INPUT is the module's raw byte stream rather than timed
                     read batches; it is cut into reads of at most 32764
                     bytes, all stamped 0, so no START shows a gap
  --timestamps       start every non-empty line with its event's time in
                     seconds since the capture began (9 decimals) and a blank
  --output-format F  write F instead of the log: transactions (a line each),
                     csv (a row per event), jsonl (a JSON object per
                     transaction) or pcap (for Wireshark); see docs/exports.md
  --address A[,B...] keep only the transactions to these 7-bit addresses
                     (decimal, or hex with 0x) and every error
  -h, --help         show this text

Logic captures (sigrok session .sr, VCD, CSV with a time column in seconds)
are recognised by their content and classified by the bus monitor as the
capture module does (docs/busmonitor.md); every event is stamped with the
sample of the edge that decided it.
  --scl CH, --sda CH the two lines, by channel name (exact, then ignoring
                     case) or 0-based index; default: channels SCL and SDA
  --idle-us N        both lines high this many microseconds make the idle
                     bus the monitor waits for at the start (default 100)
  --glitch-ns N      a level counts only once it has held N nanoseconds
                     (default 0: every change counts)
  --format F         read INPUT as F (sr, vcd or csv, or binary: below)
                     instead of probing it; needed for a capture on standard
                     input

Raw logic samples (--format binary), as `sigrok-cli -O binary` writes them:
one unit of N bytes per sample, channel k in bit k, nothing else. They are
read as they arrive, and on standard output each line is written as soon as
its event is decided, so a running logic analyzer piped in is a live monitor:
  sigrok-cli -d fx2lafw --config samplerate=4m --continuous -O binary |
    wirelog-cli decode --format binary --samplerate 4m --scl 0 --sda 1 -
Ctrl+C (SIGINT) or SIGTERM ends the input there; lines already written stay
written even when the input then turns out bad (exit status 2).
  --samplerate RATE  samples per second, as sigrok writes it (4m, 500k, 1.5M,
                     8000000); required
  --unitsize N       bytes per sample (default 1); channels are 0 to 8N-1

Timed read batches (the default input), one read of the module per line:
    <time-stamp> <hex byte> <hex byte> ...
  The time stamp is unsigned decimal microseconds since the capture started
  and never smaller than the previous line's; each byte is two hex digits,
  either case; blanks or tabs separate the fields, and a trailing CR is
  accepted. A time stamp alone is a read that returned nothing. Empty lines
  and lines starting with '#' are ignored. Example:
    0 00 05
    1520 01 07 A0 09 1B 02

There is no event limit (the window's 999,999 is its own): the log is written
as the input is decoded, in constant memory, whatever its length.

Exit status: 0 on success; 1 when the log cannot be written (OUT or standard
output); 2 on bad usage, bad input (the message names the file or line and what
is wrong), an unreadable INPUT or a capture file that cannot be decoded. On
failure OUT is neither created nor changed. Standard output gets the log as it
is decoded: a fault found late (a bad line near the end, a corrupt capture) is
reported, with its status, after the lines already written.
)";

struct Options {
    bool raw = false;
    bool help = false;
    bool timestamps = false;
    std::uint64_t maxEvents = 0; // 0: no limit
    OutputChoice writing;
    // Logic captures only.
    std::optional<std::string> scl, sda, format, idleUs, glitchNs;
    std::optional<std::string> sampleRate, unitSize; // raw samples only
    std::optional<std::string> input;                // none or "-": standard input
    std::optional<std::string> output;               // none or "-": standard output
};

void Fail(const std::string& message) {
    std::fprintf(stderr, "wirelog-cli decode: %s\n", message.c_str());
}

int UsageError(const std::string& message) {
    Fail(message);
    std::fputs("Try 'wirelog-cli decode --help'.\n", stderr);
    return kExitUsage;
}

// The options of logic captures that take a value, "--name VALUE" or "--name=VALUE".
std::optional<std::string>* CaptureOption(Options& options, std::string_view name) {
    if (name == "--scl")
        return &options.scl;
    if (name == "--sda")
        return &options.sda;
    if (name == "--format")
        return &options.format;
    if (name == "--idle-us")
        return &options.idleUs;
    if (name == "--glitch-ns")
        return &options.glitchNs;
    if (name == "--samplerate")
        return &options.sampleRate;
    if (name == "--unitsize")
        return &options.unitSize;
    return nullptr;
}

bool IsCount(const std::string& text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc{} && result.ptr == end;
}

bool AnyCaptureOption(const Options& options) {
    return options.scl || options.sda || options.format || options.idleUs || options.glitchNs ||
           options.sampleRate || options.unitSize;
}

// Raw samples say nothing of their layout: the rate is required, and only they take one.
std::optional<std::string> CheckBinaryOptions(const Options& options) {
    const bool binary = options.format == "binary";
    if (!binary && (options.sampleRate || options.unitSize))
        return "--samplerate and --unitsize are for raw samples (--format binary)";
    if (binary && !options.sampleRate)
        return "--format binary needs --samplerate (for instance 4m or 500k)";
    if (options.sampleRate && !ParseSigrokRate(*options.sampleRate))
        return "--samplerate needs a rate above 0 such as 4m, 500k or 8000000 (got '" +
               *options.sampleRate + "')";
    std::uint64_t unit = 0;
    if (options.unitSize &&
        (!IsCount(*options.unitSize, unit) || unit == 0 || unit > kMaxBinaryUnitSize))
        return "--unitsize needs a whole number of bytes from 1 to " +
               std::to_string(kMaxBinaryUnitSize) + " (got '" + *options.unitSize + "')";
    return std::nullopt;
}

std::optional<std::string> CheckCaptureOptions(const Options& options) {
    std::uint64_t ignored = 0;
    if (options.idleUs && !IsCount(*options.idleUs, ignored))
        return "--idle-us needs a whole number of microseconds (got '" + *options.idleUs + "')";
    if (options.glitchNs && !IsCount(*options.glitchNs, ignored))
        return "--glitch-ns needs a whole number of nanoseconds (got '" + *options.glitchNs + "')";
    if (options.format && *options.format != "sr" && *options.format != "vcd" &&
        *options.format != "csv" && *options.format != "binary")
        return "unknown capture format '" + *options.format + "' (sr, vcd, csv or binary)";
    if (const auto problem = CheckBinaryOptions(options))
        return problem;
    if (options.raw && AnyCaptureOption(options))
        return "--raw input is the module's byte stream; --scl, --sda, --idle-us, --glitch-ns "
               "and --format are for logic captures";
    return std::nullopt;
}

// Returns an error message, or nothing when the arguments are sound.
std::optional<std::string> ParseArguments(int argc, char** argv, Options& options) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const std::string_view name = arg.substr(0, arg.find('='));
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            options.help = true;
        } else if (!optionsEnded && arg == "--raw") {
            options.raw = true;
        } else if (!optionsEnded && arg == "--timestamps") {
            options.timestamps = true;
        } else if (!optionsEnded && name == "--max-events") {
            const bool inline_ = name.size() < arg.size();
            if (!inline_ && i + 1 == argc)
                return "option '--max-events' needs a number of events";
            const std::string_view text = inline_ ? arg.substr(name.size() + 1) : argv[++i];
            const auto count = ParseEventCount(text);
            if (!count)
                return "--max-events needs a positive whole number (got '" + std::string(text) +
                       "')";
            options.maxEvents = *count;
        } else if (!optionsEnded && (name == "--output-format" || name == "--address")) {
            std::optional<std::string_view> value;
            if (name.size() < arg.size())
                value = arg.substr(name.size() + 1);
            else if (i + 1 < argc)
                value = argv[++i];
            if (const auto problem = ParseOutputOption(name, value, options.writing);
                problem && !problem->empty())
                return *problem;
        } else if (auto* value = optionsEnded ? nullptr : CaptureOption(options, name)) {
            if (name.size() < arg.size()) {
                *value = std::string(arg.substr(name.size() + 1));
            } else if (i + 1 == argc) {
                return "option '" + std::string(arg) + "' needs a value";
            } else {
                *value = argv[++i];
            }
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
    if (options.timestamps && options.writing.format != kLogFormat)
        return "--timestamps is for the log; every other output format carries the times itself";
    return CheckCaptureOptions(options);
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
        file_ = _wfopen(PathFromUtf8(*path).c_str(), L"rb");
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
    // The first `count` bytes of a file that can be read twice; the next Read starts over.
    std::string Peek(std::size_t count) {
        std::string head(count, '\0');
        head.resize(std::fread(head.data(), 1, count, file_));
        std::clearerr(file_);
        std::fseek(file_, 0, SEEK_SET);
        return head;
    }

private:
    std::FILE* file_ = nullptr;
    std::string name_;
    int errno_ = 0;
};

// Feeds the raw stream in reads of the reader's largest size.
void DecodeRaw(Input& input, LogPipeline& pipeline, bool& sinkFailed) {
    std::vector<char> block(kLargestRead);
    for (std::string_view read; !pipeline.reached() && !(read = input.Read(block)).empty();) {
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
        return !sinkFailed && !pipeline.reached();
    });
    std::vector<char> block(std::size_t{1} << 16);
    std::string_view text;
    while (!pipeline.reached() && !(text = input.Read(block)).empty() && stream.Feed(text)) {
    }
    if (input.failed())
        return input.ReadError();
    // A bounded decode ends inside the input, where the rest of a line is not its end.
    if (!pipeline.reached())
        stream.Finish();
    if (stream.Failed())
        return input.name() + ": " + stream.error().describe();
    return std::nullopt;
}

// Things the log cannot show but the user should know; the log itself is as the window's.
void NoteLostInput(const LogPipeline& pipeline) {
    if (pipeline.endsInsideEvent() && !pipeline.reached())
        std::fprintf(stderr,
                     "wirelog-cli decode: note: the stream ends inside an event (code %u waits "
                     "for its value byte); it is not in the log\n",
                     static_cast<unsigned>(pipeline.waitingCode()));
    if (pipeline.reached())
        std::fprintf(stderr,
                     "wirelog-cli decode: note: stopped after %llu events (--max-events); the "
                     "rest of the input was not decoded\n",
                     static_cast<unsigned long long>(pipeline.eventsWritten()));
}

// Standard output, written as the log comes; the first failure is kept for the end.
class StandardOutput {
public:
    StandardOutput() {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
    }
    bool Write(std::string_view bytes) {
        errno = 0;
        if (error_ == 0 && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
            error_ = errno != 0 ? errno : EIO;
        return error_ == 0;
    }
    bool Finish(std::string& error) {
        errno = 0;
        if (error_ == 0 && std::fflush(stdout) != 0)
            error_ = errno != 0 ? errno : EIO;
        if (error_ != 0)
            error = std::generic_category().message(error_);
        return error_ == 0;
    }

private:
    int error_ = 0;
};

// Decodes into the log and writes it: to OUT all or nothing, to standard output as it comes.
int WriteLog(const Options& options, double ticksPerMs, std::uint64_t ticksPerSecond,
             const std::function<std::optional<std::string>(LogPipeline&, bool&)>& decode) {
    std::string error;
    const std::string target = options.output.value_or("-");
    const bool toStandardOutput = target == "-";
    const std::string targetName = toStandardOutput ? "standard output" : "'" + target + "'";
    OutputFile output;
    StandardOutput standardOutput;
    if (!toStandardOutput && !output.Open(PathFromUtf8(target), error)) {
        Fail("cannot write " + targetName + ": " + error);
        return kExitFailure;
    }

    WriterOptions writing;
    writing.stamps = options.timestamps ? LineStamps::Seconds : LineStamps::None;
    writing.clock.ticksPerSecond = ticksPerSecond;
    writing.addresses = options.writing.addresses;
    LogPipeline pipeline(
        ticksPerMs, MakeEventWriter(options.writing.format, writing), [&](std::string_view bytes) {
            return toStandardOutput ? standardOutput.Write(bytes) : output.Write(bytes);
        });
    pipeline.LimitEvents(options.maxEvents);
    bool sinkFailed = false;
    if (const auto problem = decode(pipeline, sinkFailed)) {
        if (toStandardOutput && !sinkFailed)
            pipeline.finish();
        Fail(*problem);
        return kExitUsage;
    }
    // A failed sink is reported by Commit() or Finish(), which know why the write failed.
    if (!sinkFailed)
        pipeline.finish();
    if (toStandardOutput ? !standardOutput.Finish(error) : !output.Commit(error)) {
        Fail("cannot write " + targetName + ": " + error);
        return kExitFailure;
    }
    NoteLostInput(pipeline);
    return kExitOk;
}

// A regular file whose start is no timed-batch text is a logic capture; standard input and
// other files that cannot be read twice are captures only when --format says so.
bool IsCapture(const Options& options, Input& input) {
    if (options.format)
        return true;
    std::error_code ec;
    if (options.raw || !options.input || *options.input == "-" ||
        !std::filesystem::is_regular_file(*options.input, ec))
        return false;
    return !LooksLikeTimedBatches(input.Peek(kSniffBytes));
}

int DecodeCaptureFile(const Options& options) {
    CaptureSource source;
    source.path = options.input.value_or("-");
    source.format = options.format.value_or("");
    source.scl = options.scl.value_or(source.scl);
    source.sda = options.sda.value_or(source.sda);
    if (options.idleUs)
        IsCount(*options.idleUs, source.monitor.idleMicroseconds);
    if (options.glitchNs)
        IsCount(*options.glitchNs, source.monitor.glitchNanoseconds);
    const bool live = source.format == "binary" && options.output.value_or("-") == "-";
    BinarySource binary;
    if (source.format == "binary") {
        binary.layout.sampleRate = ParseSigrokRate(*options.sampleRate).value_or(0);
        std::uint64_t unit = 1;
        if (options.unitSize)
            IsCount(*options.unitSize, unit);
        binary.layout.unitSize = static_cast<std::size_t>(unit);
        binary.stopRequested = &LiveStopSignals::Requested;
    }
    std::unique_ptr<CaptureMonitor> capture;
    try {
        capture = std::make_unique<CaptureMonitor>(source, binary);
    } catch (const CaptureError& error) {
        Fail(error.what());
        return kExitUsage;
    }
    if (live) {
        LiveStopSignals signals;
        WriterOptions writing;
        writing.stamps = options.timestamps ? LineStamps::Seconds : LineStamps::None;
        writing.addresses = options.writing.addresses;
        return DecodeLiveToStandardOutput(*capture, options.writing.format, writing,
                                          options.maxEvents);
    }
    const std::uint64_t rate = capture->SampleRate();
    return WriteLog(options, static_cast<double>(rate) / 1000.0, rate,
                    [&](LogPipeline& pipeline, bool& sinkFailed) {
                        ProgressMeter progress = StandardErrorProgress();
                        return DecodeCapture(*capture, pipeline, progress, sinkFailed);
                    });
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
    if (IsCapture(options, input))
        return DecodeCaptureFile(options);
    if (AnyCaptureOption(options))
        return UsageError(input.name() +
                          " holds timed read batches, not a logic capture; --scl, --sda, "
                          "--idle-us and --glitch-ns are for captures (--format forces one)");
    return WriteLog(options, kMicrosecondTicksPerMs, kMicrosecondTicksPerSecond,
                    [&](LogPipeline& pipeline, bool& sinkFailed) {
                        return DecodeInput(options, input, pipeline, sinkFailed);
                    });
}

} // namespace Wirelog::cli
