// SPDX-License-Identifier: MIT
#include "batchfile/TimedBatchFile.h"

#include <array>
#include <charconv>
#include <vector>

namespace Wirelog {
namespace {

constexpr int kNotHex = -1;

constexpr std::array<int, 256> MakeHexTable() {
    std::array<int, 256> table{};
    table.fill(kNotHex);
    for (int i = 0; i < 10; ++i)
        table['0' + i] = i;
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = 10 + i;
        table['A' + i] = 10 + i;
    }
    return table;
}
constexpr std::array<int, 256> kHexValue = MakeHexTable();

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

// Input text goes to the user's terminal in messages, so it is shown printable and short.
std::string Quote(std::string_view field) {
    constexpr std::size_t kShown = TimedBatchStream::kShownField;
    std::string out = "'";
    for (std::size_t i = 0; i < field.size() && i < kShown; ++i) {
        const auto ch = static_cast<unsigned char>(field[i]);
        if (ch >= 0x20 && ch < 0x7F && ch != '\'' && ch != '\\') {
            out += static_cast<char>(ch);
        } else {
            constexpr char kDigits[] = "0123456789ABCDEF";
            out += "\\x";
            out += kDigits[ch >> 4];
            out += kDigits[ch & 0x0F];
        }
    }
    if (field.size() > kShown)
        out += "...";
    out += "'";
    return out;
}

std::string Decimal(std::uint64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

} // namespace

std::string BatchParseError::describe() const {
    if (line == 0)
        return detail;
    return "line " + Decimal(line) + ": " + detail;
}

void TimedBatchStream::Fail(BatchErrorKind kind, std::string detail) {
    error_ = {line_, kind, std::move(detail)};
    failed_ = true;
}

// Reports the bad field once it is whole, or once it is longer than a message shows.
void TimedBatchStream::FailField() {
    switch (fieldError_) {
    case BatchErrorKind::MissingTimeStamp:
        return Fail(fieldError_, "missing time stamp: " + Quote(field_) +
                                     " is not an unsigned decimal number of microseconds");
    case BatchErrorKind::TimeStampTooLarge:
        return Fail(fieldError_, "time stamp " + Quote(field_) + " is too large (at most " +
                                     Decimal(kMaxTimeStamp) + ")");
    default:
        return Fail(BatchErrorKind::BadHex,
                    "bad hex byte " + Quote(field_) + " (expected two hex digits)");
    }
}

void TimedBatchStream::FieldChar(char ch) {
    if (field_.size() <= kShownField)
        field_ += ch;
}

void TimedBatchStream::StampChar(char ch) {
    FieldChar(ch);
    if (ch < '0' || ch > '9') {
        fieldError_ = BatchErrorKind::MissingTimeStamp;
        state_ = State::BadField;
        return;
    }
    const auto digit = static_cast<std::uint64_t>(ch - '0');
    if (stamp_ > (kMaxTimeStamp - digit) / 10) {
        fieldError_ = BatchErrorKind::TimeStampTooLarge;
        state_ = State::BadField;
        return;
    }
    stamp_ = stamp_ * 10 + digit;
}

void TimedBatchStream::EndStamp() {
    if (stamp_ < lastStamp_)
        return Fail(BatchErrorKind::DecreasingTimeStamp,
                    "decreasing time stamp: " + Decimal(stamp_) + " is below the previous " +
                        Decimal(lastStamp_));
    batch_.timeStamp = lastStamp_ = stamp_;
    batch_.bytes.clear();
    emittedPart_ = false;
    state_ = State::Between;
}

void TimedBatchStream::ByteChar(char ch) {
    FieldChar(ch);
    const int digit = kHexValue[static_cast<unsigned char>(ch)];
    if (digit == kNotHex || hexDigits_ == 2) {
        fieldError_ = BatchErrorKind::BadHex;
        state_ = State::BadField;
        return;
    }
    byte_ = static_cast<std::uint8_t>(byte_ << 4 | digit);
    ++hexDigits_;
}

void TimedBatchStream::EndByte() {
    if (hexDigits_ != 2) {
        fieldError_ = BatchErrorKind::BadHex;
        return FailField();
    }
    batch_.bytes.push_back(byte_);
    state_ = State::Between;
    if (batch_.bytes.size() == kMaxBatchBytes)
        Emit();
}

void TimedBatchStream::Emit() {
    emittedPart_ = true;
    stopped_ = !onBatch_(batch_);
    batch_.bytes.clear();
}

void TimedBatchStream::TakeChar(char ch) {
    const bool blank = IsBlank(ch);
    switch (state_) {
    case State::LineStart:
        if (blank)
            return;
        if (ch == '#') {
            state_ = State::Comment;
            return;
        }
        field_.clear();
        stamp_ = 0;
        state_ = State::Stamp;
        return StampChar(ch);
    case State::Comment:
        return;
    case State::Stamp:
        return blank ? EndStamp() : StampChar(ch);
    case State::Between:
        if (blank)
            return;
        field_.clear();
        hexDigits_ = 0;
        byte_ = 0;
        state_ = State::Byte;
        return ByteChar(ch);
    case State::Byte:
        return blank ? EndByte() : ByteChar(ch);
    case State::BadField:
        if (!blank)
            FieldChar(ch);
        if (blank || field_.size() > kShownField)
            FailField();
        return;
    }
}

void TimedBatchStream::EndLine() {
    switch (state_) {
    case State::LineStart:
    case State::Comment:
        break;
    case State::BadField:
        FailField();
        break;
    case State::Stamp:
        EndStamp();
        break;
    case State::Byte:
        EndByte();
        break;
    case State::Between:
        break;
    }
    if (Running() && state_ == State::Between && (!batch_.bytes.empty() || !emittedPart_))
        Emit();
    ++line_;
    state_ = State::LineStart;
}

bool TimedBatchStream::Feed(std::string_view text) {
    for (std::size_t i = 0; i < text.size() && Running(); ++i) {
        const char ch = text[i];
        // Only a CR right before the LF is dropped; any other is part of a field.
        if (pendingCr_) {
            pendingCr_ = false;
            if (ch != '\n')
                TakeChar('\r');
            if (!Running())
                break;
        }
        if (ch == '\r')
            pendingCr_ = true;
        else if (ch == '\n')
            EndLine();
        else
            TakeChar(ch);
    }
    return Running();
}

bool TimedBatchStream::Finish() {
    pendingCr_ = false;
    if (Running() && state_ != State::LineStart)
        EndLine();
    return Running();
}

namespace {

bool Outcome(const TimedBatchStream& stream, BatchParseError& error) {
    if (stream.Failed())
        error = stream.error();
    return !stream.Failed();
}

} // namespace

bool ParseTimedBatches(std::string_view text, const TimedBatchHandler& onBatch,
                       BatchParseError& error) {
    TimedBatchStream stream(onBatch);
    if (stream.Feed(text))
        stream.Finish();
    return Outcome(stream, error);
}

bool ReadTimedBatches(std::istream& in, const TimedBatchHandler& onBatch, BatchParseError& error) {
    std::vector<char> block(std::size_t{1} << 16);
    TimedBatchStream stream(onBatch);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (!stream.Feed({block.data(), static_cast<std::size_t>(in.gcount())}))
            return Outcome(stream, error);
    }
    if (in.bad()) {
        error = {0, BatchErrorKind::ReadFailed, "the input could not be read"};
        return false;
    }
    stream.Finish();
    return Outcome(stream, error);
}

void AppendTimedBatchLine(std::string& out, std::uint64_t timeStamp,
                          std::span<const std::uint8_t> bytes) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    out += Decimal(timeStamp);
    for (const std::uint8_t byte : bytes) {
        out += ' ';
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    out += '\n';
}

bool LooksLikeTimedBatches(std::string_view head) {
    while (!head.empty()) {
        const std::size_t end = head.find('\n');
        const std::string_view line = head.substr(0, end);
        head = end == std::string_view::npos ? std::string_view{} : head.substr(end + 1);
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        return line[first] >= '0' && line[first] <= '9' && line.find(',') == std::string_view::npos;
    }
    return true;
}

} // namespace Wirelog
