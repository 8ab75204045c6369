// SPDX-License-Identifier: MIT
// Value change dumps, as logic analyzers, `sigrok-cli -O vcd` and HDL simulators write them.
// Every 1-bit variable is a channel. A sample is one unit of the `$timescale` ("100 ns" gives
// 10 MHz and "#7" is sample 7; units above a second keep 1 Hz and multiply the times). When a
// comment tells the rate the capture was sampled at (sigrok's "Acquisition with 2/8 channels at
// 12 MHz") and it is coarser than the timescale, samples are counted at that rate instead, each
// time rounded to the nearest: a sigrok export then keeps its capture's sample numbers, where
// "100 ps" units could only approximate 12 MHz.
// Levels: 0 and 1 as written; z (released) counts as high, since an I2C line with nothing
// driving it is pulled up; x (unknown) keeps the line's previous level, so it never makes an
// edge. Both lines are high until their first value. Vector and real values are skipped.
#include "busmonitor/CaptureFormats.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace Wirelog::CaptureFormats {
namespace {

constexpr std::size_t kChangesPerBlock = 64 * 1024;

struct Timescale {
    std::uint64_t rate;  // time units per second
    std::uint64_t scale; // samples per time unit of the file, when sampled at `rate`
};

__extension__ using Wide = unsigned __int128;

// round(value * numerator / denominator), saturating.
std::uint64_t MulDivRound(std::uint64_t value, std::uint64_t numerator, std::uint64_t denominator) {
    const Wide result = (Wide{value} * numerator + denominator / 2) / denominator;
    return result > std::numeric_limits<std::uint64_t>::max()
               ? std::numeric_limits<std::uint64_t>::max()
               : static_cast<std::uint64_t>(result);
}

// The rate in sigrok's comment "Acquisition with 2/8 channels at 1 MHz".
std::optional<std::uint64_t> AcquisitionRate(const std::vector<std::string>& words) {
    if (words.empty() || words.front() != "Acquisition") {
        return std::nullopt;
    }
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == "at") {
            return ParseSampleRate(words[i + 1] + (i + 2 < words.size() ? words[i + 2] : ""));
        }
    }
    return std::nullopt;
}

std::optional<Timescale> ParseTimescale(std::string_view text) {
    std::uint64_t number = 0;
    const char* end = text.data() + text.size();
    const auto [unitStart, error] = std::from_chars(text.data(), end, number);
    if (error != std::errc() || (number != 1 && number != 10 && number != 100)) {
        return std::nullopt;
    }
    constexpr std::pair<std::string_view, std::uint64_t> kUnits[] = {
        {"s", 1},
        {"ms", 1'000},
        {"us", 1'000'000},
        {"ns", 1'000'000'000},
        {"ps", 1'000'000'000'000},
        {"fs", 1'000'000'000'000'000},
    };
    const std::string_view unit(unitStart, static_cast<std::size_t>(end - unitStart));
    for (const auto& [name, perSecond] : kUnits) {
        if (unit == name) {
            return perSecond >= number ? Timescale{perSecond / number, 1} : Timescale{1, number};
        }
    }
    return std::nullopt;
}

class VcdReader final : public CaptureReader {
public:
    explicit VcdReader(InputFile&& file) : file_(std::move(file)) {
        info_.format = "vcd";
        ReadDefinitions();
    }

    const CaptureInfo& Info() const override { return info_; }

    void SelectChannels(std::size_t scl, std::size_t sda) override {
        if (scl >= ids_.size() || sda >= ids_.size()) {
            file_.Fail("has no channel " + std::to_string(std::max(scl, sda)));
        }
        sclId_ = ids_[scl];
        sdaId_ = ids_[sda];
        selected_ = true;
    }

    bool Read(std::vector<BusLevels>& out) override {
        out.clear();
        if (!selected_) {
            SelectChannels(0, ids_.size() > 1 ? 1 : 0);
        }
        try {
            while (out.size() < kChangesPerBlock && !done_) {
                if (!file_.ReadToken(token_)) {
                    collector_.Flush(out);
                    done_ = true;
                    break;
                }
                Take(out);
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

    std::uint64_t EndSample() const override {
        return std::max({collector_.EndSample(), ToSample(lastTime_), std::uint64_t{1}});
    }

    double Progress() const override { return file_.Progress(); }

private:
    void ReadDefinitions() {
        bool haveTimescale = false;
        for (;;) {
            if (!file_.ReadToken(token_)) {
                file_.Fail("ends before $enddefinitions");
            }
            if (token_ == "$enddefinitions") {
                SkipToEnd();
                break;
            }
            if (token_ == "$timescale") {
                ReadTimescale();
                haveTimescale = true;
            } else if (token_ == "$comment") {
                acquisitionRate_ = AcquisitionRate(ReadWords("$comment", 16));
            } else if (token_ == "$var") {
                ReadVar();
            } else if (token_.starts_with('$')) {
                SkipToEnd();
            } else {
                file_.Fail("line " + std::to_string(file_.Line()) + ": unexpected " +
                           Quote(token_) + " among the definitions");
            }
        }
        if (!haveTimescale) {
            file_.Fail("has no $timescale, so its times have no unit");
        }
        if (ids_.empty()) {
            file_.Fail("declares no 1-bit signal");
        }
        info_.sampleRate = timescale_.rate;
        if (acquisitionRate_ && timescale_.scale == 1 && *acquisitionRate_ < timescale_.rate) {
            info_.sampleRate = *acquisitionRate_;
        }
    }

    std::uint64_t ToSample(std::uint64_t time) const {
        if (info_.sampleRate == timescale_.rate) {
            return time * timescale_.scale;
        }
        return MulDivRound(time, info_.sampleRate, timescale_.rate);
    }

    // The words of a definition up to its $end; only the first few are kept.
    std::vector<std::string> ReadWords(std::string_view what, std::size_t keep) {
        std::vector<std::string> words;
        const std::uint64_t line = file_.Line();
        while (file_.ReadToken(token_, true)) {
            if (token_ == "$end") {
                return words;
            }
            if (words.size() < keep) {
                words.push_back(token_);
            }
        }
        file_.Fail("ends inside the " + std::string(what) + " begun on line " +
                   std::to_string(line));
    }

    void SkipToEnd() { ReadWords("definition", 0); }

    void ReadTimescale() {
        std::string text;
        for (const std::string& word : ReadWords("$timescale", 2)) {
            text += word;
        }
        const auto timescale = ParseTimescale(text);
        if (!timescale) {
            file_.Fail("$timescale " + Quote(text) +
                       " is not 1, 10 or 100 s, ms, us, ns, ps or fs");
        }
        timescale_ = *timescale;
    }

    // $var <type> <size> <id> <name> [<bit select>] $end
    void ReadVar() {
        const std::uint64_t line = file_.Line();
        const std::vector<std::string> words = ReadWords("$var", 5);
        if (words.size() < 4) {
            file_.Fail("line " + std::to_string(line) + ": $var needs a type, size, code and name");
        }
        if (words[1] != "1") {
            return;
        }
        if (ids_.size() == kMaxChannels) {
            file_.Fail("declares more than " + std::to_string(kMaxChannels) + " 1-bit signals");
        }
        ids_.push_back(words[2]);
        info_.channels.push_back(words.size() > 4 ? words[3] + words[4] : words[3]);
    }

    void Take(std::vector<BusLevels>& out) {
        const char kind = token_.front();
        if (kind == '#') {
            TakeTime();
        } else if (kind == '0' || kind == '1' || kind == 'x' || kind == 'X' || kind == 'z' ||
                   kind == 'Z') {
            TakeScalar(out);
        } else if (kind == 'b' || kind == 'B' || kind == 'r' || kind == 'R') {
            if (!file_.ReadToken(token_)) {
                file_.Fail("ends inside a vector value");
            }
        } else if (kind == '$') {
            if (token_ == "$comment") {
                ReadWords("$comment", 0);
            }
            // $dumpvars, $dumpall, $dumpon, $dumpoff and their $end only frame value changes.
        } else {
            file_.Fail("line " + std::to_string(file_.Line()) + ": unexpected " + Quote(token_));
        }
    }

    void TakeTime() {
        std::uint64_t time = 0;
        const char* end = token_.data() + token_.size();
        const auto [stop, error] = std::from_chars(token_.data() + 1, end, time);
        const std::string where = "line " + std::to_string(file_.Line()) + ": ";
        if (error != std::errc() || stop != end ||
            time > std::numeric_limits<std::uint64_t>::max() / timescale_.scale) {
            file_.Fail(where + "time " + Quote(token_) + " is not a time this reader can hold");
        }
        if (ToSample(time) > kMaxSample) {
            file_.Fail(where + "time " + Quote(token_) + " is too late: samples stop at " +
                       std::to_string(kMaxSample));
        }
        if (time < lastTime_) {
            file_.Fail(where + "time goes backwards (#" + std::to_string(time) + " after #" +
                       std::to_string(lastTime_) + ")");
        }
        lastTime_ = time;
    }

    void TakeScalar(std::vector<BusLevels>& out) {
        const std::string_view id = std::string_view(token_).substr(1);
        const bool isScl = id == sclId_;
        const bool isSda = id == sdaId_;
        if (!isScl && !isSda) {
            return;
        }
        const char value = token_.front();
        if (value == 'x' || value == 'X') {
            return;
        }
        const bool high = value != '0';
        scl_ = isScl ? high : scl_;
        sda_ = isSda ? high : sda_;
        collector_.Observe(ToSample(lastTime_), scl_, sda_, out);
    }

    InputFile file_;
    CaptureInfo info_;
    std::vector<std::string> ids_; // identifier code of each channel
    Timescale timescale_{1, 1};
    std::optional<std::uint64_t> acquisitionRate_;
    std::string token_;
    std::string sclId_;
    std::string sdaId_;
    bool selected_ = false;
    bool scl_ = true;
    bool sda_ = true;
    std::uint64_t lastTime_ = 0;
    ChangeCollector collector_;
    bool done_ = false;
};

} // namespace

bool LooksLikeVcd(std::string_view head) {
    const std::string_view text = Trim(head);
    return text.starts_with('$');
}

std::unique_ptr<CaptureReader> OpenVcd(InputFile&& file) {
    return std::make_unique<VcdReader>(std::move(file));
}

} // namespace Wirelog::CaptureFormats
