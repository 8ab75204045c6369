// SPDX-License-Identifier: MIT
#include "busmonitor/BinaryReader.h"

#include "busmonitor/CaptureFormats.h"
#include "busmonitor/ChangeScan.h"

#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Wirelog {
namespace {

using CaptureFormats::Fail;

// One read of the input at most; a pipe hands out less, and a read returns what has arrived.
constexpr std::size_t kReadBytes = 256 * 1024;

// The input's descriptor, read with the system's own call: a stdio read would wait for a full
// buffer and hold back samples that have already arrived.
class RawInput {
public:
    explicit RawInput(const std::string& path) : path_(path == "-" ? "standard input" : path) {
        if (path == "-") {
            fd_ = 0;
#ifdef _WIN32
            _setmode(0, _O_BINARY);
#endif
        } else {
            Open();
        }
    }
    RawInput(const RawInput&) = delete;
    RawInput& operator=(const RawInput&) = delete;
    ~RawInput() {
        if (fd_ > 0)
#ifdef _WIN32
            _close(fd_);
#else
            close(fd_);
#endif
    }

    // Bytes read, 0 at the end of the input, -1 when a signal interrupted the wait.
    long ReadSome(std::uint8_t* into, std::size_t size) {
        const unsigned chunk = static_cast<unsigned>(size);
#ifdef _WIN32
        const long got = _read(fd_, into, chunk);
#else
        const long got = static_cast<long>(read(fd_, into, chunk));
#endif
        if (got < 0 && errno != EINTR)
            Fail(path_, std::string("cannot be read: ") + std::strerror(errno));
        return got;
    }

    // 0 when unknown (a pipe).
    std::uint64_t Size() const {
        return size_;
    }

private:
    void Open() {
#ifdef _WIN32
        fd_ = _open(path_.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (fd_ < 0)
            Fail(path_, std::strerror(errno));
        struct stat st {};
        if (fstat(fd_, &st) != 0)
            return;
        if (S_ISDIR(st.st_mode))
            Fail(path_, "is a directory");
        size_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    }

    std::string path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

class BinaryReader final : public CaptureReader {
public:
    BinaryReader(const std::string& path, const BinaryLayout& layout,
                 std::function<bool()> stopRequested)
        : path_(path == "-" ? "standard input" : path), input_(path), unit_(layout.unitSize),
          stop_(std::move(stopRequested)) {
        info_.format = "binary";
        info_.sampleRate = layout.sampleRate;
        for (std::size_t channel = 0; channel < unit_ * 8; ++channel)
            info_.channels.push_back(std::to_string(channel));
        buffer_.resize(kReadBytes - kReadBytes % unit_ + unit_);
        // A file's length tells at once what a stream tells at its end.
        if (input_.Size() % unit_ != 0)
            FailUnfinishedSample(input_.Size());
    }

    const CaptureInfo& Info() const override { return info_; }
    void SelectChannels(std::size_t scl, std::size_t sda) override {
        lines_ = LocateLines(scl, sda);
    }
    std::uint64_t EndSample() const override { return samples_; }
    std::uint64_t SettledSample() const override { return samples_; }
    double Progress() const override {
        const std::uint64_t size = input_.Size();
        return size == 0 ? 0.0 : static_cast<double>(bytes_) / static_cast<double>(size);
    }

    bool Read(std::vector<BusLevels>& out) override {
        out.clear();
        if (ended_)
            return false;
        long got;
        if (stop_ && stop_())
            return End(false);
        while ((got = input_.ReadSome(buffer_.data() + carried_, buffer_.size() - carried_)) < 0) {
            if (stop_ && stop_())
                return End(false);
        }
        if (got == 0)
            return End(true);
        bytes_ += static_cast<std::uint64_t>(got);
        const std::size_t available = carried_ + static_cast<std::size_t>(got);
        const std::size_t whole = available - available % unit_;
        Scan(std::span<const std::uint8_t>(buffer_.data(), whole), out);
        carried_ = available - whole;
        std::memmove(buffer_.data(), buffer_.data() + whole, carried_);
        return true;
    }

private:
    void Scan(std::span<const std::uint8_t> units, std::vector<BusLevels>& out) {
        if (units.empty())
            return;
        if (samples_ == 0) {
            // The first sample gives the levels at the start, whatever they are.
            last_ = {0, (units[lines_.sclByte] & lines_.sclMask) != 0,
                     (units[lines_.sdaByte] & lines_.sdaMask) != 0};
            out.push_back(last_);
        }
        AppendLevelChanges(units, unit_, lines_, samples_, last_, out);
        samples_ += units.size() / unit_;
    }

    // An input that ends is checked; one stopped by a signal ends where it was.
    bool End(bool checked) {
        ended_ = true;
        if (checked && carried_ != 0)
            FailUnfinishedSample(bytes_);
        if (checked && samples_ == 0)
            Fail(path_, "holds no samples");
        return false;
    }

    [[noreturn]] void FailUnfinishedSample(std::uint64_t bytes) const {
        Fail(path_, "ends inside a sample: its " + std::to_string(bytes) +
                        " bytes are no whole number of " + std::to_string(unit_) +
                        "-byte samples (is the unit size right?)");
    }

    std::string path_;
    RawInput input_;
    std::size_t unit_;
    std::function<bool()> stop_;
    CaptureInfo info_;
    UnitBits lines_ = LocateLines(0, 1);
    std::vector<std::uint8_t> buffer_;
    std::size_t carried_ = 0; // bytes of an unfinished unit at the buffer's start
    std::uint64_t samples_ = 0;
    std::uint64_t bytes_ = 0;
    BusLevels last_{};
    bool ended_ = false;
};

} // namespace

std::optional<std::uint64_t> ParseSigrokRate(std::string_view text) {
    // sigrok's size strings take a lower-case m and g as mega and giga.
    std::string rate(CaptureFormats::Trim(text));
    const std::size_t prefix = rate.find_first_not_of("0123456789. ");
    if (prefix != std::string::npos && (rate[prefix] == 'm' || rate[prefix] == 'g'))
        rate[prefix] = static_cast<char>(std::toupper(static_cast<unsigned char>(rate[prefix])));
    return CaptureFormats::ParseSampleRate(rate);
}

UnitBits LocateLines(std::size_t scl, std::size_t sda) {
    return {scl / 8, sda / 8, static_cast<std::uint8_t>(1u << (scl % 8)),
            static_cast<std::uint8_t>(1u << (sda % 8))};
}

void AppendLevelChanges(std::span<const std::uint8_t> units, std::size_t unitSize,
                        const UnitBits& lines, std::uint64_t firstSample, BusLevels& last,
                        std::vector<BusLevels>& out) {
    if (unitSize <= 8) {
        const auto bit = [](std::size_t byte, std::uint8_t mask) {
            return static_cast<unsigned>(byte * 8 + static_cast<unsigned>(std::countr_zero(mask)));
        };
        ChangeScanner scanner(static_cast<unsigned>(unitSize), bit(lines.sclByte, lines.sclMask),
                              bit(lines.sdaByte, lines.sdaMask));
        scanner.Resume(last);
        const std::size_t before = out.size();
        scanner.Scan(units.data(), units.size() / unitSize, firstSample, out);
        last = out.size() != before ? out.back() : last;
        return;
    }
    const std::uint8_t* unit = units.data();
    const std::size_t count = units.size() / unitSize;
    for (std::size_t i = 0; i < count; ++i, unit += unitSize) {
        const bool scl = (unit[lines.sclByte] & lines.sclMask) != 0;
        const bool sda = (unit[lines.sdaByte] & lines.sdaMask) != 0;
        if (scl != last.scl || sda != last.sda) [[unlikely]] {
            last = {firstSample + i, scl, sda};
            out.push_back(last);
        }
    }
}

std::unique_ptr<CaptureReader> OpenBinaryCapture(const std::string& path,
                                                 const BinaryLayout& layout,
                                                 std::function<bool()> stopRequested) {
    if (layout.sampleRate == 0)
        Fail(path, "raw samples need a sample rate");
    if (layout.unitSize == 0 || layout.unitSize > kMaxBinaryUnitSize)
        Fail(path, "a unit of " + std::to_string(layout.unitSize) +
                       " bytes is out of range (1 to " + std::to_string(kMaxBinaryUnitSize) + ")");
    return std::make_unique<BinaryReader>(path, layout, std::move(stopRequested));
}

} // namespace Wirelog
