// SPDX-License-Identifier: MIT
#include "batchfile/TimedBatchFile.h"

#include <array>
#include <charconv>

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

// Splits a line into blank-separated fields without copying.
class Fields {
public:
    explicit Fields(std::string_view line) : rest_(line) {}

    bool next(std::string_view& field) {
        std::size_t begin = 0;
        while (begin < rest_.size() && IsBlank(rest_[begin]))
            ++begin;
        if (begin == rest_.size())
            return false;
        std::size_t end = begin;
        while (end < rest_.size() && !IsBlank(rest_[end]))
            ++end;
        field = rest_.substr(begin, end - begin);
        rest_.remove_prefix(end);
        return true;
    }

private:
    std::string_view rest_;
};

// Input text goes to the user's terminal in messages, so it is shown printable and short.
std::string Quote(std::string_view field) {
    constexpr std::size_t kShown = 24;
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

TimedBatchParser::Result TimedBatchParser::fail(BatchErrorKind kind, std::string detail) {
    error_.line = lineNumber_;
    error_.kind = kind;
    error_.detail = std::move(detail);
    return Result::Error;
}

bool TimedBatchParser::parseTimeStamp(std::string_view token) {
    std::uint64_t value = 0;
    for (const char ch : token) {
        if (ch < '0' || ch > '9') {
            fail(BatchErrorKind::MissingTimeStamp,
                 "missing time stamp: " + Quote(token) +
                     " is not an unsigned decimal number of microseconds");
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (kMaxTimeStamp - digit) / 10) {
            fail(BatchErrorKind::TimeStampTooLarge, "time stamp " + Quote(token) +
                                                        " is too large (at most " +
                                                        Decimal(kMaxTimeStamp) + ")");
            return false;
        }
        value = value * 10 + digit;
    }
    if (value < lastStamp_) {
        fail(BatchErrorKind::DecreasingTimeStamp, "decreasing time stamp: " + Decimal(value) +
                                                      " is below the previous " +
                                                      Decimal(lastStamp_));
        return false;
    }
    batch_.timeStamp = value;
    return true;
}

TimedBatchParser::Result TimedBatchParser::parseLine(std::string_view line) {
    ++lineNumber_;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    Fields fields(line);
    std::string_view field;
    if (!fields.next(field) || field.front() == '#')
        return Result::Ignored;
    if (!parseTimeStamp(field))
        return Result::Error;
    batch_.bytes.clear();
    while (fields.next(field)) {
        const int high = kHexValue[static_cast<unsigned char>(field[0])];
        const int low = field.size() == 2 ? kHexValue[static_cast<unsigned char>(field[1])] : 0;
        if (field.size() != 2 || high == kNotHex || low == kNotHex)
            return fail(BatchErrorKind::BadHex,
                        "bad hex byte " + Quote(field) + " (expected two hex digits)");
        batch_.bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    lastStamp_ = batch_.timeStamp;
    return Result::Batch;
}

namespace {

// Parses one line and routes the outcome; false means stop (error filled or handler said so).
bool Dispatch(TimedBatchParser& parser, std::string_view line, const TimedBatchHandler& onBatch,
              BatchParseError& error, bool& failed) {
    switch (parser.parseLine(line)) {
    case TimedBatchParser::Result::Ignored:
        return true;
    case TimedBatchParser::Result::Batch:
        return onBatch(parser.batch());
    case TimedBatchParser::Result::Error:
        break;
    }
    error = parser.error();
    failed = true;
    return false;
}

} // namespace

bool ParseTimedBatches(std::string_view text, const TimedBatchHandler& onBatch,
                       BatchParseError& error) {
    TimedBatchParser parser;
    bool failed = false;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        if (!Dispatch(parser, line, onBatch, error, failed))
            return !failed;
        if (newline == std::string_view::npos)
            break;
        text.remove_prefix(newline + 1);
    }
    return true;
}

bool ReadTimedBatches(std::istream& in, const TimedBatchHandler& onBatch, BatchParseError& error) {
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<char> block(kBlock);
    std::string carry; // a line that began in an earlier block
    TimedBatchParser parser;
    bool failed = false;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        std::string_view rest(block.data(), static_cast<std::size_t>(in.gcount()));
        for (std::size_t newline; (newline = rest.find('\n')) != std::string_view::npos;) {
            std::string_view line = rest.substr(0, newline);
            if (!carry.empty()) {
                carry.append(line);
                line = carry;
            }
            if (!Dispatch(parser, line, onBatch, error, failed))
                return !failed;
            carry.clear();
            rest.remove_prefix(newline + 1);
        }
        carry.append(rest);
    }
    if (in.bad()) {
        error = {0, BatchErrorKind::ReadFailed, "the input could not be read"};
        return false;
    }
    if (!carry.empty() && !Dispatch(parser, carry, onBatch, error, failed))
        return !failed;
    return true;
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
