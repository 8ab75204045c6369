// SPDX-License-Identifier: MIT
#pragma once
// Recorded reads to log bytes, through the very framing, event buffer, decoder and separator
// rule the window uses. The log leaves in chunks as it grows, so a full capture is never held
// twice.
#include "decode/LogLines.h"
#include "events/Framing.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace Wirelog::cli {

class LogPipeline {
public:
    // Receives the log file's bytes in order; returning false stops the pipeline.
    using Sink = std::function<bool(std::string_view)>;

    // Starts a capture: empties the event buffer, clears the decoder's stop time and sets the
    // time base to `ticksPerMillisecond`. Only one pipeline may run at a time (the buffer and
    // the decoder are the program's single ones).
    LogPipeline(double ticksPerMillisecond, Sink sink);

    // From now on every non-empty line starts with its event's time in seconds since the
    // capture began (`ticksPerSecond` of the event's time stamp), 9 decimals, and one blank.
    void stampLines(std::uint64_t ticksPerSecond) { stampTicksPerSecond_ = ticksPerSecond; }

    // One read of the module: frames it into the buffer, stamped `timer`, then drains the buffer
    // into lines, as the window's log refresh does after every read. False once the sink failed.
    bool addRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count);

    // addRead in two halves, for a caller with many small reads at once: frameRead frames one
    // into the buffer, drain turns everything framed into lines (false once the sink failed).
    void frameRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count);
    bool drain();

    // Hands over the lines still held. False if the sink failed.
    bool finish();

    // Bytes the full buffer made the framing skip; nonzero means events were lost to the cap.
    std::uint64_t droppedBytes() const { return droppedBytes_; }
    std::uint64_t eventsStored() const;
    // The stream ended on a code byte still waiting for its value byte (never shown, as in the
    // window, where the next capture drops it).
    bool endsInsideEvent() const { return pending_.extra; }
    std::uint8_t waitingCode() const { return pending_.c; }

private:
    bool flush();
    void drainStamped();

    Sink sink_;
    LogLines lines_;
    PendingCode pending_;
    std::uint64_t droppedBytes_ = 0;
    std::uint64_t stampTicksPerSecond_ = 0; // 0: no time stamps
    bool sinkFailed_ = false;
};

} // namespace Wirelog::cli
