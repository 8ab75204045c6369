// SPDX-License-Identifier: MIT
#pragma once
// Timed read batches as text: the recorded form of a module's byte stream, one read per line.
//
//   <time-stamp> <hex byte> <hex byte> ...
//
// The time stamp is unsigned decimal microseconds since the capture started, at most
// kMaxTimeStamp, and never smaller than the previous line's. Each byte is exactly two hex
// digits, either case. Blanks and tabs separate the fields; a trailing CR is accepted so files
// edited on Windows read the same. A stamp with no bytes is a read that returned nothing. Empty
// lines and lines whose first non-blank character is '#' are ignored.
//
// Plain C++20 with no other dependency, so both the command line's decode and the simulated
// module can replay the same files.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog {

// Stamps become signed 64-bit counter values downstream, so they must fit one.
inline constexpr std::uint64_t kMaxTimeStamp =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

enum class BatchErrorKind {
    BadHex,              // a byte field that is not exactly two hex digits
    MissingTimeStamp,    // the line does not begin with an unsigned decimal number
    TimeStampTooLarge,   // the stamp is above kMaxTimeStamp
    DecreasingTimeStamp, // the stamp is below the previous line's
    ReadFailed,          // the input stream itself failed (ReadTimedBatches only)
};

struct BatchParseError {
    std::size_t line = 0; // 1-based line number in the input; 0 when no line is concerned
    BatchErrorKind kind = BatchErrorKind::BadHex;
    std::string detail; // what was wrong, printable ASCII, without the line number

    // "line 12: bad hex byte 'G1' (expected two hex digits)"
    std::string describe() const;
};

// True when the start of a file reads as timed read batches: its first line that is neither
// blank nor a '#' comment begins with a decimal digit and has no comma (no logic-capture
// format starts so). A start of nothing but comments counts as batches.
bool LooksLikeTimedBatches(std::string_view head);

// One read batch: a time stamp and the bytes that read returned (possibly none).
struct TimedBatch {
    std::uint64_t timeStamp = 0;
    std::vector<std::uint8_t> bytes;
};

// Parses one line at a time, so an input of any size is never held whole. It keeps the line
// count and the last stamp; its byte vector is reused from line to line.
class TimedBatchParser {
public:
    enum class Result { Batch, Ignored, Error };

    // `line` without its LF (a trailing CR is dropped here). On Batch, batch() holds the
    // line's read until the next call; on Error, error() says what is wrong. After an error the
    // parser may be fed further lines (the count goes on), but callers usually stop.
    Result parseLine(std::string_view line);

    const TimedBatch& batch() const { return batch_; }
    const BatchParseError& error() const { return error_; }
    std::size_t lineNumber() const { return lineNumber_; } // lines seen so far

private:
    Result fail(BatchErrorKind kind, std::string detail);
    bool parseTimeStamp(std::string_view token);

    TimedBatch batch_;
    BatchParseError error_;
    std::size_t lineNumber_ = 0;
    std::uint64_t lastStamp_ = 0;
};

// Called once per batch, in input order; returning false stops the read early (not an error).
using TimedBatchHandler = std::function<bool(const TimedBatch&)>;

// Reads the stream in blocks, splits it into lines (the last one may lack its LF) and hands
// every batch to onBatch. Returns false with `error` filled at the first bad line or a failed
// read; true at the end of the input or when onBatch asked to stop.
bool ReadTimedBatches(std::istream& in, const TimedBatchHandler& onBatch, BatchParseError& error);

// The same over text already in memory.
bool ParseTimedBatches(std::string_view text, const TimedBatchHandler& onBatch,
                       BatchParseError& error);

// Appends one batch as a line, LF-terminated, bytes in upper case: "1500 07 A0\n".
void AppendTimedBatchLine(std::string& out, std::uint64_t timeStamp,
                          std::span<const std::uint8_t> bytes);

} // namespace Wirelog
