// SPDX-License-Identifier: MIT
#pragma once
// The log's own text as a stream writer: each event's line as the window shows it, CR LF after
// it, an empty line before each event that begins a transaction, and on request the event's time
// in front of the line.
#include "decode/EventWriter.h"

#include <cstddef>
#include <cstdint>

namespace Wirelog {

enum class LineStamps {
    None,
    Seconds, // seconds since the capture began, 9 decimals
    Utc,     // ISO 8601 UTC with microseconds, from the clock's start time
};

class LogTextWriter final : public EventWriter {
public:
    explicit LogTextWriter(LineStamps stamps = LineStamps::None, CaptureClock clock = {});

    void write(const TWIevent& event, std::string& out) override;
    // Between transactions: after a stop-type event, or before any event at all, so that a file
    // cut there holds whole transactions.
    bool atBoundary() const override { return !inTransaction_; }

private:
    LineStamps stamps_;
    CaptureClock clock_;
    bool inTransaction_ = false;
};

// "seconds.nanoseconds " for a time stamp; the fraction is truncated to whole nanoseconds.
// Writes at most kMaxStampLength characters and returns how many.
inline constexpr std::size_t kMaxStampLength = 40;
std::size_t FormatSecondsStamp(char* out, std::int64_t ticks, std::uint64_t ticksPerSecond);
// "YYYY-MM-DDTHH:MM:SS.uuuuuuZ " for the instant `ticks` after the clock's start.
std::size_t FormatUtcStamp(char* out, std::int64_t ticks, const CaptureClock& clock);

} // namespace Wirelog
