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
#include <utility>
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

// Called once per batch, in input order; returning false stops the read early (not an error).
using TimedBatchHandler = std::function<bool(const TimedBatch&)>;

// Parses the text as it arrives, in pieces of any size, in memory bounded whatever the input: a
// line is rejected as soon as it is known to be bad (at most kShownField characters later, for
// the message), and a line longer than kMaxBatchBytes bytes comes as several batches with its
// one stamp (a read cut in two frames exactly as the whole read).
class TimedBatchStream {
public:
    static constexpr std::size_t kMaxBatchBytes = std::size_t{1} << 16;
    static constexpr std::size_t kShownField = 24; // input quoted in messages, at most

    explicit TimedBatchStream(TimedBatchHandler onBatch) : onBatch_(std::move(onBatch)) {}

    // False once a line was bad (error() says why) or the handler asked to stop.
    bool Feed(std::string_view text);
    // The input's end: its last line needs no LF.
    bool Finish();

    bool Failed() const { return failed_; }
    const BatchParseError& error() const { return error_; }

private:
    enum class State { LineStart, Comment, Stamp, Between, Byte, BadField };

    void TakeChar(char ch);
    void EndLine();
    void StampChar(char ch);
    void EndStamp();
    void ByteChar(char ch);
    void EndByte();
    void Emit();
    void FieldChar(char ch);
    void Fail(BatchErrorKind kind, std::string detail);
    void FailField();
    bool Running() const { return !failed_ && !stopped_; }

    TimedBatchHandler onBatch_;
    TimedBatch batch_;
    BatchParseError error_;
    State state_ = State::LineStart;
    std::string field_; // the field so far, cut after kShownField + 1 characters
    BatchErrorKind fieldError_ = BatchErrorKind::BadHex;
    std::uint64_t stamp_ = 0;
    std::uint64_t lastStamp_ = 0;
    std::size_t line_ = 1;
    int hexDigits_ = 0;
    std::uint8_t byte_ = 0;
    bool emittedPart_ = false; // a part of this line has gone to the handler
    bool pendingCr_ = false;   // a CR that is dropped if the line ends right after it
    bool failed_ = false;
    bool stopped_ = false;
};

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
