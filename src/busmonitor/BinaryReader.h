// SPDX-License-Identifier: MIT
#pragma once
// Raw logic samples as `sigrok-cli -O binary` writes them: no header, one unit of `unitSize`
// bytes per sample, channel k in bit k of the unit (byte k / 8, bit k % 8: sigrok's units are
// little-endian). Nothing in the stream says its sample rate or unit size, so the user does.
//
// The stream is read as it arrives, one read of the input at a time, so a pipe from a logic
// analyzer running live is classified while it runs, in bounded memory.
#include "busmonitor/CaptureReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog {

struct BinaryLayout {
    std::uint64_t sampleRate = 0;
    std::size_t unitSize = 1;
};

// The largest unit taken: 65,536 channels.
constexpr std::size_t kMaxBinaryUnitSize = 8192;

// A sample rate as sigrok writes it: "4000000", "4m", "500k", "1.5M", "2 MHz" (k, m and g in
// either case). Empty for anything else, 0 included.
std::optional<std::uint64_t> ParseSigrokRate(std::string_view text);

// Where the two lines sit in a unit.
struct UnitBits {
    std::size_t sclByte, sdaByte;
    std::uint8_t sclMask, sdaMask;
};
UnitBits LocateLines(std::size_t scl, std::size_t sda);

// Appends to `out` the levels of every unit in `units` (whole units of `unitSize` bytes, the
// first at `firstSample`) that differ from `last`, and leaves `last` at the final unit's. The
// one place samples become changes, so a faster scan can replace the plain loop.
void AppendLevelChanges(std::span<const std::uint8_t> units, std::size_t unitSize,
                        const UnitBits& lines, std::uint64_t firstSample, BusLevels& last,
                        std::vector<BusLevels>& out);

// Opens `path` ("-": standard input) as a raw sample stream. `stopRequested` is asked when a
// read is interrupted by a signal: true ends the stream there, as if the input had ended.
// Throws CaptureError for a rate of 0, a unit size out of range or an input that cannot be read.
std::unique_ptr<CaptureReader> OpenBinaryCapture(const std::string& path,
                                                 const BinaryLayout& layout,
                                                 std::function<bool()> stopRequested = {});

} // namespace Wirelog
