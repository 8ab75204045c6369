// SPDX-License-Identifier: MIT
#pragma once
// Logic-analyzer capture files, read as a stream of SCL/SDA level changes.
//
// One reader per file format (sigrok session, VCD, digital CSV), all behind this interface and
// chosen by probing the file's content. A reader never holds the whole capture in memory: it
// hands out level changes block by block.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog {

// What a capture file could not give; the message names the file and the problem.
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The levels of the two bus lines from `sample` on, until the next change.
struct BusLevels {
    std::uint64_t sample; // counted from the capture's first sample
    bool scl;
    bool sda;

    friend bool operator==(const BusLevels&, const BusLevels&) = default;
};

struct CaptureInfo {
    std::string format;                // "sr", "vcd" or "csv"
    std::uint64_t sampleRate = 0;      // samples per second, never 0 for an opened capture
    std::vector<std::string> channels; // channel names in the file's order
};

class CaptureReader {
public:
    virtual ~CaptureReader() = default;

    virtual const CaptureInfo& Info() const = 0;

    // Picks the two lines by their 0-based positions in Info().channels. Once, before Read.
    virtual void SelectChannels(std::size_t scl, std::size_t sda) = 0;

    // Replaces `out` with the next level changes, in increasing sample order. The first entry
    // of the first block gives the levels at sample 0; every later entry differs from the one
    // before it in SCL or SDA. Returns false once the capture is exhausted (and `out` is then
    // empty); while it returns true, `out` holds at least one change, but for a stream read as it
    // arrives, where a block of samples that changed nothing leaves it empty. Throws CaptureError
    // for a truncated or corrupt file, leaving in `out` the changes read before the fault (the
    // file taken as ending there). Without SelectChannels, channels 0 and 1 are read.
    virtual bool Read(std::vector<BusLevels>& out) = 0;

    // The sample just past the last one read so far: the capture's length once Read returned
    // false.
    virtual std::uint64_t EndSample() const = 0;

    // Every level before this sample has been handed out, so the monitor may let time alone
    // decide events up to it. 0 from readers that hold a change back until a later one shows
    // it final; a stream read as it arrives says how far it has got.
    virtual std::uint64_t SettledSample() const { return 0; }

    // How far the reader has got, 0 to 1, for a progress display.
    virtual double Progress() const = 0;
};

// Opens `path` as a capture. `format` "" probes the content; "sr", "vcd" or "csv" forces one.
// Throws CaptureError when the file cannot be opened or is of no known format.
std::unique_ptr<CaptureReader> OpenCapture(const std::string& path, std::string_view format = {});

// The 0-based position of the channel called `name`: an exact match first, then one that
// differs only in the case of its letters.
std::optional<std::size_t> FindChannelNamed(const std::vector<std::string>& channels,
                                            std::string_view name);

// The 0-based position of a channel given by name (as FindChannelNamed) or else by a 0-based
// index. Throws CaptureError naming `path` when there is none.
std::size_t ResolveChannel(const CaptureInfo& info, std::string_view nameOrIndex,
                           const std::string& path);

} // namespace Wirelog
