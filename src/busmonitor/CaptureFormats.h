// SPDX-License-Identifier: MIT
#pragma once
// What the capture readers share: the opened input with its first bytes for probing, the
// rules that keep every reader's output alike, and one entry point per format.
#include "busmonitor/CaptureReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog::CaptureFormats {

// Limits that keep a hostile file from taking unbounded memory.
constexpr std::size_t kMaxChannels = 65'536;
constexpr std::size_t kMaxLineBytes = 1 << 20;
constexpr std::size_t kMaxTokenBytes = 4096;
// The last sample a reader hands out: the decoder counts time in signed 64-bit ticks.
constexpr std::uint64_t kMaxSample = 0x7FFF'FFFF'FFFF'FFFF;

[[noreturn]] void Fail(const std::string& path, std::string_view problem);

// "8000000", "1 MHz", "500 kHz", "1.5 MHz", "12MHz": a whole number of samples per second.
// Empty when the text is no such rate (0 included).
std::optional<std::uint64_t> ParseSampleRate(std::string_view text);

std::string_view Trim(std::string_view text);

// Text from a file for a message: at most 40 bytes of it, control and non-ASCII bytes shown
// as '?' so a message cannot play tricks on a terminal; Quote adds quotes.
std::string Printable(std::string_view text);
std::string Quote(std::string_view text);

// A file read front to back through one buffer; "-" is standard input.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&&) = delete;
    ~InputFile();

    const std::string& Path() const { return path_; }
    bool IsStandardInput() const { return stdin_; }

    // The first bytes (up to the buffer's size), left unread for the reader.
    std::string_view Head();

    // The next line without its LF (and CR), false at the end of the file. A line longer than
    // `maxBytes` is an error.
    bool ReadLine(std::string& line, std::size_t maxBytes = kMaxLineBytes);

    // The next run of non-blank bytes, false at the end of the file. A longer run than
    // kMaxTokenBytes is an error unless `allowLong`, which keeps only its start.
    bool ReadToken(std::string& token, bool allowLong = false);

    // Lines begun so far (LFs passed), for messages.
    std::uint64_t Line() const { return lines_ + 1; }
    double Progress() const;

    [[noreturn]] void Fail(std::string_view problem) const { CaptureFormats::Fail(path_, problem); }

private:
    void Open();
    bool Fill();

    std::string path_;
    std::FILE* file_ = nullptr;
    bool stdin_ = false;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::uint64_t consumed_ = 0; // bytes before buffer_[0]
    std::uint64_t size_ = 0;     // 0 when unknown (a pipe)
    std::uint64_t lines_ = 0;
};

// Turns level observations (in non-decreasing sample order, several may share a sample) into
// the change list the readers promise: first entry at sample 0, samples strictly increasing,
// each entry's levels differing from the one before. An observation is held back until a
// later sample shows it final.
class ChangeCollector {
public:
    void Observe(std::uint64_t sample, bool scl, bool sda, std::vector<BusLevels>& out);
    // Hands out the held observation: the end of the capture.
    void Flush(std::vector<BusLevels>& out);
    // The sample past the last observation; 0 before any.
    std::uint64_t EndSample() const { return end_; }

private:
    // Before any observation both lines are taken as high, the idle bus.
    bool havePending_ = true;
    bool emitted_ = false;
    BusLevels pending_{0, true, true};
    BusLevels last_{0, true, true};
    std::uint64_t end_ = 0;
};

bool LooksLikeSr(std::string_view head);
bool LooksLikeVcd(std::string_view head);
bool LooksLikeCsv(std::string_view head);

std::unique_ptr<CaptureReader> OpenSr(InputFile&& file);
std::unique_ptr<CaptureReader> OpenVcd(InputFile&& file);
std::unique_ptr<CaptureReader> OpenCsv(InputFile&& file);

} // namespace Wirelog::CaptureFormats
