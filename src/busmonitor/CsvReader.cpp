// SPDX-License-Identifier: MIT
// Digital CSV exports: a header row, then one row per sample or per change, each channel a
// column of 0 and 1. Lines starting with ';' or '#' are comments, as sigrok writes them.
//
// The time column is the first whose name starts with "time" ("Time [s]", "Time(s)", "time
// [us]": seconds unless a unit is given) or is one of sigrok's unit names ("nanoseconds",
// "microseconds", ..., "samples"). Times count from the first row, which is sample 0: exports
// often start at the trigger or, like sigrok's, one period in. With no time column every row is
// the next sample.
//
// The sample rate: the one a sigrok "; Samplerate:" comment gives, so a sigrok export keeps its
// capture's sample numbers; otherwise 1 GHz, which holds nanosecond times (all the precision
// these exports carry) exactly. A time between grid points is rounded to the nearest. Times are
// taken exactly as written, digit by digit: a binary fraction would move a late time off its
// sample, or two close ones onto one.
#include "busmonitor/CaptureFormats.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace Wirelog::CaptureFormats {
namespace {

constexpr std::size_t kChangesPerBlock = 64 * 1024;
constexpr std::uint64_t kDefaultRate = 1'000'000'000;
constexpr int kTimeInSamples = -1;

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    return lower;
}

// A decimal time held exactly: kWhole digits before the point, kPlaces after, and a sign.
// "-1.5", "0.000001", "2.5e-7" and "1E3" are times; more digits than that are refused.
class ExactTime {
public:
    enum class Status { Ok, NotANumber, OutOfRange };

    Status Parse(std::string_view text);

    friend bool operator<(const ExactTime& a, const ExactTime& b) {
        if (a.negative_ != b.negative_)
            return a.negative_;
        return a.negative_ ? b.digits_ < a.digits_ : a.digits_ < b.digits_;
    }

    // round((this - earlier) * rate / 10^unitDigits) for a time not before `earlier`; empty
    // when it exceeds `limit` (below 10^19).
    std::optional<std::uint64_t> SamplesSince(const ExactTime& earlier, std::uint64_t rate,
                                              int unitDigits, std::uint64_t limit) const;

private:
    static constexpr int kWhole = 40;
    static constexpr int kPlaces = 40;
    static constexpr std::size_t kSize = kWhole + kPlaces;
    using Digits = std::array<std::uint8_t, kSize>; // most significant first

    // The digits [first, last] of a difference; the others are 0.
    struct Span {
        std::size_t first;
        std::size_t last;
    };

    // Puts `digit` at 10^power; false when it has no place there.
    bool Place(std::uint8_t digit, std::int64_t power);
    static std::optional<Span> Difference(const ExactTime& later, const ExactTime& earlier,
                                          Digits& out);

    Digits digits_{};
    bool negative_ = false;
    // Where the digits other than 0 are, so that arithmetic skips the rest.
    std::size_t first_ = kSize;
    std::size_t last_ = 0;
};

bool ExactTime::Place(std::uint8_t digit, std::int64_t power) {
    if (digit == 0)
        return true;
    if (power >= kWhole || power < -kPlaces)
        return false;
    const auto at = static_cast<std::size_t>(kWhole - 1 - power);
    digits_[at] = digit;
    first_ = std::min(first_, at);
    last_ = std::max(last_, at);
    return true;
}

ExactTime::Status ExactTime::Parse(std::string_view text) {
    if (first_ < kSize)
        std::fill(digits_.begin() + static_cast<std::ptrdiff_t>(first_),
                  digits_.begin() + static_cast<std::ptrdiff_t>(last_) + 1, 0);
    first_ = kSize;
    last_ = 0;
    negative_ = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+'))
        text.remove_prefix(1);
    // The mantissa runs up to the first byte that is neither a digit nor its one point.
    std::size_t point = std::string_view::npos;
    std::size_t end = 0;
    for (; end < text.size(); ++end) {
        const char c = text[end];
        if (c == '.' && point == std::string_view::npos)
            point = end;
        else if (c < '0' || c > '9')
            break;
    }
    const std::string_view mantissa = text.substr(0, end);
    std::int64_t exponent = 0;
    if (end < text.size()) {
        std::string_view power = text.substr(end + 1);
        if (text[end] != 'e' && text[end] != 'E')
            return Status::NotANumber;
        if (!power.empty() && power.front() == '+')
            power.remove_prefix(1);
        const auto [stop, error] =
            std::from_chars(power.data(), power.data() + power.size(), exponent);
        if (power.empty() || stop != power.data() + power.size())
            return Status::NotANumber;
        // Beyond this any digit but 0 is out of range anyway.
        constexpr std::int64_t kFar = 1'000'000;
        if (error != std::errc() || exponent > kFar || exponent < -kFar)
            exponent = power.front() == '-' ? -kFar : kFar;
    }
    const std::size_t wholeDigits = std::min(point, mantissa.size());
    bool fits = true;
    std::int64_t power = static_cast<std::int64_t>(wholeDigits) - 1 + exponent;
    for (std::size_t i = 0; i < mantissa.size(); ++i) {
        if (i != point)
            fits = Place(static_cast<std::uint8_t>(mantissa[i] - '0'), power--) && fits;
    }
    if (mantissa.size() == (point == std::string_view::npos ? 0 : 1))
        return Status::NotANumber;
    negative_ = negative_ && first_ < kSize;
    return fits ? Status::Ok : Status::OutOfRange;
}

// |later - earlier| for later >= earlier into `out` (all 0); empty when it does not fit
// kWhole digits.
std::optional<ExactTime::Span> ExactTime::Difference(const ExactTime& later,
                                                     const ExactTime& earlier, Digits& out) {
    const bool add = later.negative_ != earlier.negative_;
    // Both negative: later is the smaller magnitude.
    const Digits& big = later.negative_ ? earlier.digits_ : later.digits_;
    const Digits& small = later.negative_ ? later.digits_ : earlier.digits_;
    const std::size_t first = std::min(later.first_, earlier.first_);
    const std::size_t last = std::max(later.last_, earlier.last_);
    if (first == kSize)
        return Span{kSize - 1, kSize - 1};
    // One place more to the left takes the carry; a borrow never passes big's first digit.
    const std::size_t top = first == 0 ? 0 : first - 1;
    int carry = 0;
    for (std::size_t i = last + 1; i-- > top;) {
        int digit = add ? big[i] + small[i] + carry : big[i] - small[i] - carry;
        carry = add ? digit / 10 : digit < 0;
        digit = add ? digit % 10 : digit + 10 * carry;
        out[i] = static_cast<std::uint8_t>(digit);
    }
    if (carry != 0)
        return std::nullopt;
    return Span{top, last};
}

std::optional<std::uint64_t> ExactTime::SamplesSince(const ExactTime& earlier, std::uint64_t rate,
                                                     int unitDigits, std::uint64_t limit) const {
    Digits difference{};
    const std::optional<Span> span = Difference(*this, earlier, difference);
    if (!span)
        return std::nullopt;
    // difference * 10^kPlaces * rate, least significant digit first, then divided by
    // 10^(kPlaces + unitDigits) by dropping that many digits, the last one rounding. 64 bits
    // carry any rate up to 10^18 (9 * rate + carry < 10 * rate).
    __extension__ using Wide = unsigned __int128;
    constexpr std::uint64_t kNarrowRate = 1'000'000'000'000'000'000;
    std::array<std::uint8_t, kSize + 20> product{};
    std::size_t at = kSize - 1 - span->last;
    Wide carry = 0;
    for (std::size_t i = span->last + 1; i-- > span->first; ++at) {
        if (rate <= kNarrowRate) {
            const std::uint64_t narrow = static_cast<std::uint64_t>(carry) + difference[i] * rate;
            product[at] = static_cast<std::uint8_t>(narrow % 10);
            carry = narrow / 10;
        } else {
            carry += Wide{difference[i]} * rate;
            product[at] = static_cast<std::uint8_t>(carry % 10);
            carry /= 10;
        }
    }
    for (; carry != 0; carry /= 10)
        product[at++] = static_cast<std::uint8_t>(carry % 10);
    const auto dropped = static_cast<std::size_t>(kPlaces + unitDigits);
    // 19 digits always fit 64 bits; a limit below 10^19 takes no more.
    if (at > dropped + 19)
        return std::nullopt;
    std::uint64_t samples = 0;
    for (std::size_t i = std::max(at, dropped); i-- > dropped;)
        samples = samples * 10 + product[i];
    if (samples > limit)
        return std::nullopt;
    if (product[dropped - 1] >= 5) {
        if (samples == limit)
            return std::nullopt;
        ++samples;
    }
    return samples;
}

std::string_view Unquote(std::string_view field) {
    field = Trim(field);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
        field = field.substr(1, field.size() - 2);
    }
    return field;
}

// Decimal places per second of a time unit's name, kTimeInSamples for "samples"; empty when
// the name is no unit.
std::optional<int> UnitDigits(std::string_view unit) {
    constexpr std::pair<std::string_view, int> kUnits[] = {
        {"s", 0},           {"seconds", 0},   {"ms", 3},           {"milliseconds", 3},
        {"us", 6},          {"\xc2\xb5s", 6}, {"microseconds", 6}, {"ns", 9},
        {"nanoseconds", 9}, {"ps", 12},       {"picoseconds", 12}, {"samples", kTimeInSamples},
    };
    for (const auto& [name, digits] : kUnits) {
        if (unit == name) {
            return digits;
        }
    }
    return std::nullopt;
}

// The unit of a time column's name, empty when the column is no time column.
std::optional<int> TimeColumnUnit(std::string_view name, const std::string& path) {
    const std::string lower = Lower(name);
    if (!lower.starts_with("time")) {
        return UnitDigits(lower);
    }
    const std::size_t open = lower.find_first_of("[(");
    if (open == std::string::npos) {
        return 0;
    }
    const std::size_t close = lower.find_first_of("])", open);
    const auto digits =
        UnitDigits(Trim(std::string_view(lower).substr(open + 1, close - open - 1)));
    if (!digits) {
        Fail(path, "time column " + Quote(name) + " has a unit this reader does not know");
    }
    return digits;
}

// The first `limit` comma-separated fields of `line`, unquoted.
void SplitFields(std::string_view line, std::vector<std::string_view>& fields,
                 std::size_t limit = kMaxChannels + 1) {
    fields.clear();
    for (std::size_t start = 0; fields.size() < limit;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(Unquote(line.substr(start, comma - start)));
        if (comma == std::string_view::npos) {
            return;
        }
        start = comma + 1;
    }
}

class CsvReader final : public CaptureReader {
public:
    explicit CsvReader(InputFile&& file) : file_(std::move(file)) {
        info_.format = "csv";
        ReadHeader();
    }

    const CaptureInfo& Info() const override { return info_; }

    void SelectChannels(std::size_t scl, std::size_t sda) override {
        if (scl >= columns_.size() || sda >= columns_.size()) {
            file_.Fail("has no channel " + std::to_string(std::max(scl, sda)));
        }
        scl_ = scl;
        sda_ = sda;
        selected_ = true;
    }

    bool Read(std::vector<BusLevels>& out) override {
        out.clear();
        if (!selected_) {
            SelectChannels(0, columns_.size() > 1 ? 1 : 0);
        }
        try {
            while (out.size() < kChangesPerBlock && !done_) {
                if (!ReadRow(out)) {
                    Finish(out);
                }
            }
        } catch (const CaptureError&) {
            // The file read as if it ended before the fault, when anything came before it.
            if (collector_.EndSample() > 0) {
                collector_.Flush(out);
            }
            throw;
        }
        return !out.empty();
    }

    std::uint64_t EndSample() const override { return collector_.EndSample(); }
    double Progress() const override { return file_.Progress(); }

private:
    void ReadHeader() {
        while (file_.ReadLine(line_)) {
            const std::string_view text = Trim(line_);
            if (text.starts_with(';') || text.starts_with('#')) {
                ReadComment(Trim(text.substr(1)));
            } else if (!text.empty()) {
                ReadColumns(text);
                ChooseSampleRate();
                return;
            }
        }
        file_.Fail("has no header row");
    }

    // sigrok's comments give the sample rate and, when the header only says "logic", the
    // channel names.
    void ReadComment(std::string_view text) {
        if (text.starts_with("Samplerate:")) {
            const std::string_view value = Trim(text.substr(11));
            commentRate_ = ParseSampleRate(value);
            if (!commentRate_) {
                file_.Fail("sample rate " + Quote(value) + " is not a rate above 0");
            }
        } else if (text.starts_with("Channels") && text.find(':') != std::string_view::npos) {
            SplitFields(text.substr(text.find(':') + 1), fields_);
            commentNames_.assign(fields_.begin(), fields_.end());
        }
    }

    void ReadColumns(std::string_view header) {
        std::vector<std::string_view>& fields = fields_;
        SplitFields(header, fields);
        if (fields.size() > kMaxChannels) {
            file_.Fail("has more than " + std::to_string(kMaxChannels) + " columns");
        }
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const std::optional<int> unit =
                timeColumn_ ? std::nullopt : TimeColumnUnit(fields[i], file_.Path());
            if (unit) {
                timeColumn_ = i;
                timeDigits_ = *unit;
                continue;
            }
            columns_.push_back(i);
            info_.channels.emplace_back(fields[i]);
        }
        if (columns_.empty()) {
            file_.Fail("has no channel column");
        }
        const bool unnamed = std::all_of(info_.channels.begin(), info_.channels.end(),
                                         [](const std::string& name) { return name == "logic"; });
        if (unnamed && commentNames_.size() == info_.channels.size()) {
            info_.channels = commentNames_;
        }
    }

    void ChooseSampleRate() {
        if (commentRate_) {
            info_.sampleRate = *commentRate_;
        } else if (!timeColumn_ || timeDigits_ == kTimeInSamples) {
            file_.Fail(std::string(timeColumn_ ? "gives times in samples" : "has no time column") +
                       " and no sample rate");
        } else {
            info_.sampleRate = kDefaultRate;
        }
    }

    bool ReadRow(std::vector<BusLevels>& out) {
        for (rowLine_ = file_.Line(); file_.ReadLine(line_); rowLine_ = file_.Line()) {
            const std::string_view text = Trim(line_);
            if (text.empty() || text.starts_with(';') || text.starts_with('#')) {
                continue;
            }
            const std::size_t needed =
                std::max({columns_[scl_], columns_[sda_], timeColumn_.value_or(0)}) + 1;
            SplitFields(text, fields_, needed);
            if (fields_.size() < needed) {
                Fail("has only " + std::to_string(fields_.size()) + " fields, needs " +
                     std::to_string(needed));
            }
            collector_.Observe(RowSample(), Level(columns_[scl_]), Level(columns_[sda_]), out);
            ++rows_;
            return true;
        }
        return false;
    }

    std::uint64_t RowSample() {
        if (!timeColumn_) {
            return rows_;
        }
        const std::string_view field = fields_[*timeColumn_];
        const ExactTime::Status status = time_.Parse(field);
        if (status == ExactTime::Status::NotANumber) {
            Fail("time " + Quote(field) + " is not a number");
        }
        if (status == ExactTime::Status::OutOfRange) {
            Fail("time " + Quote(field) + " has more digits than this reader can hold");
        }
        if (rows_ == 0) {
            firstTime_ = lastTime_ = time_;
            lastText_ = field;
        }
        if (time_ < lastTime_) {
            Fail("time goes backwards (" + Quote(field) + " after " + Printable(lastText_) + ")");
        }
        lastTime_ = time_;
        lastText_ = field;
        const bool inSamples = timeDigits_ == kTimeInSamples;
        const auto sample = time_.SamplesSince(firstTime_, inSamples ? 1 : info_.sampleRate,
                                               inSamples ? 0 : timeDigits_, kMaxSample);
        if (!sample) {
            Fail("time " + Quote(field) + " is too far from the first row's: samples stop at " +
                 std::to_string(kMaxSample));
        }
        return *sample;
    }

    bool Level(std::size_t column) {
        const std::string_view field = fields_[column];
        if (field != "0" && field != "1") {
            Fail(Quote(field) + " in column " + std::to_string(column + 1) + " is not 0 or 1");
        }
        return field == "1";
    }

    void Finish(std::vector<BusLevels>& out) {
        done_ = true;
        if (rows_ == 0) {
            file_.Fail("has no samples after its header");
        }
        collector_.Flush(out);
    }

    // A problem of the row just read.
    [[noreturn]] void Fail(const std::string& problem) const {
        file_.Fail("line " + std::to_string(rowLine_) + ": " + problem);
    }

    InputFile file_;
    CaptureInfo info_;
    std::string line_;
    std::vector<std::string_view> fields_;
    std::optional<std::uint64_t> commentRate_;
    std::vector<std::string> commentNames_;
    std::optional<std::size_t> timeColumn_;
    int timeDigits_ = 0;
    std::vector<std::size_t> columns_; // the file's column of each channel
    std::size_t scl_ = 0;
    std::size_t sda_ = 1;
    bool selected_ = false;
    std::uint64_t rows_ = 0;
    std::uint64_t rowLine_ = 0; // the line number of the row being read
    ExactTime time_;
    ExactTime firstTime_;
    ExactTime lastTime_;
    std::string lastText_; // lastTime_ as written
    ChangeCollector collector_;
    bool done_ = false;
};

} // namespace

bool LooksLikeCsv(std::string_view head) {
    if (head.find('\0') != std::string_view::npos) {
        return false;
    }
    while (!head.empty()) {
        const std::size_t newline = head.find('\n');
        const std::string_view line = Trim(head.substr(0, newline));
        if (!line.empty() && !line.starts_with(';') && !line.starts_with('#')) {
            return line.find(',') != std::string_view::npos;
        }
        head.remove_prefix(newline == std::string_view::npos ? head.size() : newline + 1);
    }
    return false;
}

std::unique_ptr<CaptureReader> OpenCsv(InputFile&& file) {
    return std::make_unique<CsvReader>(std::move(file));
}

} // namespace Wirelog::CaptureFormats
