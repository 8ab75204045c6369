// SPDX-License-Identifier: MIT
#include "busmonitor/CaptureFormats.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <utility>

namespace Wirelog::CaptureFormats {
namespace {

constexpr std::size_t kBufferBytes = 64 * 1024;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Multiplies `value` by 10^`exponent`, false on overflow.
bool ScaleByPowerOfTen(std::uint64_t& value, int exponent) {
    for (int i = 0; i < exponent; ++i) {
        if (value > std::numeric_limits<std::uint64_t>::max() / 10) {
            return false;
        }
        value *= 10;
    }
    return true;
}

int PrefixExponent(std::string_view unit) {
    if (unit.empty()) {
        return 0;
    }
    switch (unit.front()) {
    case 'k':
    case 'K':
        return 3;
    case 'M':
        return 6;
    case 'G':
        return 9;
    case 'T':
        return 12;
    default:
        return -1;
    }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

} // namespace

void Fail(const std::string& path, std::string_view problem) {
    throw CaptureError(path + ": " + std::string(problem));
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string Printable(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string shown(text.substr(0, kShown));
    for (char& c : shown) {
        c = c >= 0x20 && c < 0x7f ? c : '?';
    }
    return text.size() > kShown ? shown + "..." : shown;
}

std::string Quote(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(Printable(text)).push_back('\'');
    return quoted;
}

std::optional<std::uint64_t> ParseSampleRate(std::string_view text) {
    text = Trim(text);
    std::uint64_t value = 0;
    int fractionDigits = 0;
    bool seenDigit = false;
    bool seenPoint = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (c < '0' || c > '9') {
            break;
        }
        seenDigit = true;
        if (!ScaleByPowerOfTen(value, 1) || value > std::numeric_limits<std::uint64_t>::max() - 9) {
            return std::nullopt;
        }
        value += static_cast<unsigned>(c - '0');
        fractionDigits += seenPoint ? 1 : 0;
    }
    std::string_view unit = Trim(text.substr(i));
    if (unit.size() >= 2 && EqualsIgnoringCase(unit.substr(unit.size() - 2), "hz")) {
        unit.remove_suffix(2);
    }
    const int exponent = PrefixExponent(unit);
    if (!seenDigit || unit.size() > 1 || exponent < fractionDigits ||
        !ScaleByPowerOfTen(value, exponent - fractionDigits) || value == 0) {
        return std::nullopt;
    }
    return value;
}

InputFile::InputFile(const std::string& path) : path_(path) {
    if (path == "-") {
        file_ = stdin;
        stdin_ = true;
    } else {
        Open();
    }
    // A small file gets a buffer of its size: a fuzzer opens thousands a second.
    capacity_ =
        size_ != 0 && size_ < kBufferBytes ? static_cast<std::size_t>(size_) + 1 : kBufferBytes;
    buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
}

void InputFile::Open() {
    file_ = std::fopen(path_.c_str(), "rb");
    if (file_ == nullptr) {
        Fail(std::strerror(errno));
    }
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fclose(std::exchange(file_, nullptr));
        Fail("is a directory");
    }
    size_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
}

InputFile::InputFile(InputFile&& other) noexcept
    : path_(std::move(other.path_)), file_(std::exchange(other.file_, nullptr)),
      stdin_(other.stdin_), buffer_(std::move(other.buffer_)), capacity_(other.capacity_),
      pos_(other.pos_), end_(other.end_), consumed_(other.consumed_), size_(other.size_),
      lines_(other.lines_) {}

InputFile::~InputFile() {
    if (file_ != nullptr && !stdin_) {
        std::fclose(file_);
    }
}

bool InputFile::Fill() {
    if (pos_ < end_) {
        return true;
    }
    consumed_ += end_;
    pos_ = end_ = 0;
    end_ = std::fread(buffer_.get(), 1, capacity_, file_);
    if (end_ == 0 && std::ferror(file_)) {
        Fail(std::string("cannot be read: ") + std::strerror(errno));
    }
    return end_ > 0;
}

std::string_view InputFile::Head() {
    if (consumed_ == 0 && pos_ == 0) {
        // Fill the whole buffer: a pipe may hand out a little at a time.
        while (end_ < capacity_) {
            const std::size_t got = std::fread(buffer_.get() + end_, 1, capacity_ - end_, file_);
            if (got == 0) {
                break;
            }
            end_ += got;
        }
    }
    // A byte-order mark some Windows tools put first says nothing to these formats.
    if (consumed_ == 0 && pos_ == 0 &&
        std::string_view(buffer_.get(), end_).starts_with("\xEF\xBB\xBF")) {
        pos_ = 3;
    }
    return {buffer_.get() + pos_, end_ - pos_};
}

bool InputFile::ReadLine(std::string& line, std::size_t maxBytes) {
    line.clear();
    bool any = false;
    while (Fill()) {
        any = true;
        const char* start = buffer_.get() + pos_;
        const std::size_t available = end_ - pos_;
        const auto* newline = static_cast<const char*>(std::memchr(start, '\n', available));
        const std::size_t length =
            newline != nullptr ? static_cast<std::size_t>(newline - start) : available;
        if (line.size() + length > maxBytes) {
            Fail("line " + std::to_string(Line()) + " is longer than " + std::to_string(maxBytes) +
                 " bytes");
        }
        line.append(start, length);
        pos_ += length;
        if (newline != nullptr) {
            ++pos_;
            ++lines_;
            break;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return any;
}

bool InputFile::ReadToken(std::string& token, bool allowLong) {
    token.clear();
    // Skip blanks, counting lines.
    for (;;) {
        if (!Fill()) {
            return false;
        }
        const char c = buffer_[pos_];
        if (!IsBlank(c)) {
            break;
        }
        lines_ += c == '\n' ? 1 : 0;
        ++pos_;
    }
    while (Fill()) {
        const char* start = buffer_.get() + pos_;
        const char* stop =
            std::find_if(start, static_cast<const char*>(buffer_.get() + end_), IsBlank);
        const auto length = static_cast<std::size_t>(stop - start);
        if (token.size() + length > kMaxTokenBytes && !allowLong) {
            Fail("line " + std::to_string(Line()) + " holds a word longer than " +
                 std::to_string(kMaxTokenBytes) + " bytes");
        }
        token.append(start,
                     std::min(length, kMaxTokenBytes - std::min(token.size(), kMaxTokenBytes)));
        pos_ += length;
        if (pos_ < end_) {
            break;
        }
    }
    return true;
}

double InputFile::Progress() const {
    if (size_ == 0) {
        return 0.0;
    }
    return std::min(1.0, static_cast<double>(consumed_ + pos_) / static_cast<double>(size_));
}

void ChangeCollector::Observe(std::uint64_t sample, bool scl, bool sda,
                              std::vector<BusLevels>& out) {
    if (sample != pending_.sample) {
        Flush(out);
    }
    pending_ = {sample, scl, sda};
    havePending_ = true;
    end_ = std::max(end_, sample + 1);
}

void ChangeCollector::Flush(std::vector<BusLevels>& out) {
    if (!havePending_) {
        return;
    }
    havePending_ = false;
    if (emitted_ && pending_.scl == last_.scl && pending_.sda == last_.sda) {
        return;
    }
    out.push_back(pending_);
    last_ = pending_;
    emitted_ = true;
}

} // namespace Wirelog::CaptureFormats
