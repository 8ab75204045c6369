// SPDX-License-Identifier: MIT
// sigrok session files: a zip archive with a `metadata` ini file and the logic samples, packed
// little endian in `unitsize` bytes per sample, bit N holding channel `probe<N+1>`. Old files
// keep all samples in one entry named by `capturefile` (e.g. "logic-1"), newer ones split
// them into "logic-1-1", "logic-1-2", ... The samples are inflated block by block, ahead on a
// thread of their own for a long session, and scanned for changes of the two chosen bits only.
#include "busmonitor/BlockPipeline.h"
#include "busmonitor/CaptureFormats.h"
#include "busmonitor/ChangeScan.h"
#include "busmonitor/SessionEntry.h"
#include "busmonitor/SessionInflate.h"

#ifdef WIRELOG_HAVE_LIBZIP
#include <zip.h>
#endif

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>

namespace Wirelog {
namespace CaptureFormats {

bool LooksLikeSr(std::string_view head) {
    return head.starts_with("PK\x03\x04") || head.starts_with("PK\x05\x06");
}

#ifndef WIRELOG_HAVE_LIBZIP

std::unique_ptr<CaptureReader> OpenSr(InputFile&& file) {
    file.Fail("sigrok session files are not supported in this build (built without libzip)");
}

} // namespace CaptureFormats

bool InflatesWithIsal() {
    return false;
}

std::uint64_t InflateSessionSamples(const std::string& path, Inflater, const TakeBytes&) {
    CaptureFormats::Fail(path, "sigrok session files are not supported in this build");
}

#else

namespace {

constexpr std::size_t kMaxMetadataBytes = 64 * 1024;
constexpr unsigned kMaxUnitSize = 8;
// Inflated bytes per block; the change list of one block stays a few MB even when every
// sample is a change. A session longer than a few blocks is inflated ahead into a few more.
constexpr std::size_t kBlockBytes = 256 * 1024;
constexpr std::size_t kBlocksAhead = 8;
constexpr std::uint64_t kThreadFrom = 4 * kBlockBytes;

struct ZipCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct ZipEntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipCloser>;
using ZipEntry = std::unique_ptr<zip_file_t, ZipEntryCloser>;

std::string ZipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// The key/value pairs of the first `[device N]` section that names a capture file.
using Section = std::vector<std::pair<std::string, std::string>>;

const std::string* Find(const Section& section, std::string_view key) {
    for (const auto& [k, v] : section) {
        if (k == key) {
            return &v;
        }
    }
    return nullptr;
}

Section DeviceSection(std::string_view text) {
    Section current;
    bool inDevice = false;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = Trim(text.substr(0, newline));
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.starts_with('[')) {
            if (inDevice && Find(current, "capturefile") != nullptr) {
                return current;
            }
            current.clear();
            inDevice = line.starts_with("[device ");
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inDevice && equals != std::string_view::npos) {
            current.emplace_back(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
        }
    }
    return inDevice ? current : Section{};
}

std::optional<std::uint64_t> ParseCount(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// The archive with its metadata read and its sample entries found; inflates them in order.
class SessionArchive {
public:
    SessionArchive(const std::string& path, Inflater inflater) : path_(path), inflater_(inflater) {
        int code = 0;
        archive_.reset(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code));
        if (!archive_) {
            Fail("is not a readable sigrok session: " + ZipErrorText(code));
        }
        ReadMetadata();
        FindSampleEntries();
    }

    const CaptureInfo& Info() const { return info_; }
    unsigned UnitSize() const { return unitSize_; }
    // The inflated size the archive claims for the samples.
    std::uint64_t SampleBytes() const { return totalBytes_; }

    // Fills `out` with the next inflated sample bytes, across entries; fewer only at the end.
    std::size_t Inflate(unsigned char* out, std::size_t size) {
        std::size_t filled = 0;
        while (filled < size) {
            if (!entry_ && !OpenNextEntry()) {
                break;
            }
            const std::size_t got = entry_->Read(out + filled, size - filled);
            if (got == 0) {
                entry_.reset();
            }
            filled += got;
        }
        return filled;
    }

    [[noreturn]] void Fail(std::string_view problem) const { CaptureFormats::Fail(path_, problem); }

private:
    std::string ReadEntry(zip_uint64_t index, std::size_t limit) {
        const ZipEntry entry(zip_fopen_index(archive_.get(), index, 0));
        if (!entry) {
            Fail(std::string("metadata cannot be read: ") + zip_strerror(archive_.get()));
        }
        std::string text;
        char chunk[4096];
        for (zip_int64_t got = 1; got > 0 && text.size() <= limit;) {
            got = zip_fread(entry.get(), chunk, sizeof chunk);
            if (got < 0) {
                Fail(std::string("metadata cannot be read: ") + zip_file_strerror(entry.get()));
            }
            text.append(chunk, static_cast<std::size_t>(got));
        }
        if (text.size() > limit) {
            Fail("metadata is larger than " + std::to_string(limit) + " bytes");
        }
        return text;
    }

    void ReadMetadata() {
        const zip_int64_t index = zip_name_locate(archive_.get(), "metadata", 0);
        if (index < 0) {
            Fail("is a zip archive without the 'metadata' of a sigrok session");
        }
        const Section device =
            DeviceSection(ReadEntry(static_cast<zip_uint64_t>(index), kMaxMetadataBytes));
        const std::string* captureFile = Find(device, "capturefile");
        if (captureFile == nullptr) {
            Fail("metadata names no capturefile: the session holds no logic samples");
        }
        captureFile_ = *captureFile;
        ReadUnitSize(device);
        ReadSampleRate(device);
        ReadChannels(device);
        info_.format = "sr";
    }

    void ReadUnitSize(const Section& device) {
        const std::string* text = Find(device, "unitsize");
        if (text == nullptr) {
            Fail("metadata gives no unitsize");
        }
        const auto size = ParseCount(*text);
        if (!size || *size == 0 || *size > kMaxUnitSize) {
            Fail("metadata's unitsize " + Quote(*text) + " is not 1 to 8 bytes per sample");
        }
        unitSize_ = static_cast<unsigned>(*size);
    }

    void ReadSampleRate(const Section& device) {
        const std::string* text = Find(device, "samplerate");
        if (text == nullptr) {
            Fail("metadata gives no samplerate");
        }
        const auto rate = ParseSampleRate(*text);
        if (!rate) {
            Fail("metadata's samplerate " + Quote(*text) + " is not a sample rate above 0");
        }
        info_.sampleRate = *rate;
    }

    // Channels are named "0", "1", ... by their bit, as sigrok does, unless a probe<N> entry
    // names bit N-1; there are as many as `total probes` says, at most as the samples hold.
    void ReadChannels(const Section& device) {
        std::uint64_t count = unitSize_ * 8U;
        if (const std::string* total = Find(device, "total probes")) {
            const auto probes = ParseCount(*total);
            if (!probes || *probes == 0) {
                Fail("metadata's total probes " + Quote(*total) + " is not a channel count");
            }
            count = std::min(count, *probes);
        }
        info_.channels.resize(count);
        for (std::size_t bit = 0; bit < count; ++bit) {
            info_.channels[bit] = std::to_string(bit);
        }
        for (const auto& [key, value] : device) {
            if (!key.starts_with("probe")) {
                continue;
            }
            const auto number = ParseCount(key.substr(5));
            if (number && *number >= 1 && *number <= count) {
                info_.channels[*number - 1] = value;
            }
        }
    }

    void FindSampleEntries() {
        const zip_int64_t whole = zip_name_locate(archive_.get(), captureFile_.c_str(), 0);
        if (whole >= 0) {
            AddEntry(static_cast<zip_uint64_t>(whole));
        }
        std::uint64_t part = 1;
        for (; whole < 0; ++part) {
            const std::string name = captureFile_ + "-" + std::to_string(part);
            const zip_int64_t index = zip_name_locate(archive_.get(), name.c_str(), 0);
            if (index < 0) {
                break;
            }
            AddEntry(static_cast<zip_uint64_t>(index));
        }
        if (entries_.empty()) {
            Fail("holds no sample data (" + Quote(captureFile_) + " or " +
                 Quote(captureFile_ + "-1") + ")");
        }
        if (whole < 0) {
            RefuseGap(part);
        }
    }

    // A chunk numbered past a missing one: the session lost samples in the middle, and reading
    // on either side of the hole would give a bus that never was.
    void RefuseGap(std::uint64_t missing) const {
        const std::string prefix = captureFile_ + "-";
        const zip_int64_t count = zip_get_num_entries(archive_.get(), 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* name = zip_get_name(archive_.get(), static_cast<zip_uint64_t>(i), 0);
            const std::string_view entry = name == nullptr ? "" : name;
            if (!entry.starts_with(prefix)) {
                continue;
            }
            const auto part = ParseCount(std::string(entry.substr(prefix.size())));
            if (part && *part > missing) {
                Fail("sample data " + Quote(entry) + " follows a missing " +
                     Quote(prefix + std::to_string(missing)) + ": the session is damaged");
            }
        }
    }

    void AddEntry(zip_uint64_t index) {
        entries_.push_back(index);
        zip_stat_t stat;
        if (zip_stat_index(archive_.get(), index, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE)) {
            const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - totalBytes_;
            totalBytes_ += std::min<std::uint64_t>(stat.size, room);
        }
    }

    bool OpenNextEntry() {
        if (nextEntry_ == entries_.size()) {
            return false;
        }
        const zip_uint64_t index = entries_[nextEntry_++];
        entry_ = OpenSessionEntry(archive_.get(), index, path_, inflater_);
        return true;
    }

    std::string path_;
    Inflater inflater_;
    ZipArchive archive_;
    CaptureInfo info_;
    std::string captureFile_;
    unsigned unitSize_ = 1;
    std::vector<zip_uint64_t> entries_;
    std::size_t nextEntry_ = 0;
    std::unique_ptr<SessionEntry> entry_;
    std::uint64_t totalBytes_ = 0;
};

class SrReader final : public CaptureReader {
public:
    explicit SrReader(const std::string& path) : archive_(path, Inflater::Fastest) {}

    const CaptureInfo& Info() const override { return archive_.Info(); }

    void SelectChannels(std::size_t scl, std::size_t sda) override {
        const std::size_t count = Info().channels.size();
        if (scl >= count || sda >= count) {
            archive_.Fail("has no channel " + std::to_string(std::max(scl, sda)) + " (" +
                          std::to_string(count) + " channels)");
        }
        scanner_.emplace(archive_.UnitSize(), static_cast<unsigned>(scl),
                         static_cast<unsigned>(sda));
    }

    bool Read(std::vector<BusLevels>& out) override {
        out.clear();
        if (!scanner_) {
            SelectChannels(0, Info().channels.size() > 1 ? 1 : 0);
        }
        if (!blocks_) {
            StartInflating();
        }
        const unsigned unit = archive_.UnitSize();
        while (out.empty() && !done_) {
            const std::span<const unsigned char> block = blocks_->Take();
            const std::size_t whole = block.size() / unit;
            scanner_->Scan(block.data(), whole, samples_, out);
            samples_ += whole;
            if (block.size() % unit != 0 || block.size() < blockBytes_) {
                Finish(block.size() % unit);
            }
        }
        return !out.empty();
    }

    std::uint64_t EndSample() const override { return samples_; }

    // The inflating thread's position is its own; the reader counts what it has scanned.
    double Progress() const override {
        const std::uint64_t total = archive_.SampleBytes();
        return total == 0 ? 0.0
                          : std::min(1.0, static_cast<double>(samples_ * archive_.UnitSize()) /
                                              static_cast<double>(total));
    }

private:
    // Whole samples in every block but the last; a short capture gets a buffer of its size
    // (at least a word) and no thread.
    void StartInflating() {
        const unsigned unit = archive_.UnitSize();
        const std::uint64_t total = archive_.SampleBytes();
        const auto wanted =
            static_cast<std::size_t>(std::clamp<std::uint64_t>(total, 64, kBlockBytes));
        blockBytes_ = std::max<std::size_t>(wanted - wanted % unit, unit);
        blocks_.emplace(
            blockBytes_, kBlocksAhead, total >= kThreadFrom,
            [this](unsigned char* out, std::size_t size) { return archive_.Inflate(out, size); });
    }

    void Finish(std::size_t leftover) {
        done_ = true;
        if (leftover != 0) {
            archive_.Fail("sample data ends inside a sample (" + std::to_string(leftover) + " of " +
                          std::to_string(archive_.UnitSize()) + " bytes)");
        }
        if (samples_ == 0) {
            archive_.Fail("holds no samples");
        }
    }

    SessionArchive archive_;
    std::optional<ChangeScanner> scanner_;
    std::size_t blockBytes_ = 0;
    std::optional<BlockPipeline> blocks_; // after archive_: its thread stops first
    std::uint64_t samples_ = 0;
    bool done_ = false;
};

} // namespace

std::unique_ptr<CaptureReader> OpenSr(InputFile&& file) {
    if (file.IsStandardInput()) {
        file.Fail("a sigrok session cannot be read from standard input");
    }
    return std::make_unique<SrReader>(file.Path());
}

} // namespace CaptureFormats

bool InflatesWithIsal() {
#ifdef WIRELOG_HAVE_ISAL
    return true;
#else
    return false;
#endif
}

std::uint64_t InflateSessionSamples(const std::string& path, Inflater inflater,
                                    const TakeBytes& take) {
    CaptureFormats::SessionArchive archive(path, inflater);
    std::vector<unsigned char> buffer(CaptureFormats::kBlockBytes);
    std::uint64_t total = 0;
    while (const std::size_t got = archive.Inflate(buffer.data(), buffer.size())) {
        if (take) {
            take(buffer.data(), got);
        }
        total += got;
    }
    return total;
}

#endif

} // namespace Wirelog
