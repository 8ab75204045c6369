// SPDX-License-Identifier: MIT
#pragma once
// One way of writing a stream of bus events out: the log's lines, or one of the export formats.
// The command line drains events in capture order into one writer, which appends the bytes
// they give to a string the caller hands on and empties; a writer holds no more than one
// transaction of its own, so any length of capture streams in constant memory.
#include "events/EventBuffer.h"

#include <cstdint>
#include <string>

namespace Wirelog {

// What a writer needs to know of the capture before its first event.
struct CaptureClock {
    // Time stamp ticks per second: the counter's rate for module captures, the sample rate
    // for logic captures.
    std::uint64_t ticksPerSecond = 1;
    // When tick 0 happened, in microseconds since 1970-01-01 UTC; 0 where it is not known.
    std::int64_t startUnixMicros = 0;
};

class EventWriter {
public:
    virtual ~EventWriter() = default;

    // Bytes that open the output (a header row, a file header); empty for most formats.
    virtual void begin(std::string& out) { (void)out; }
    // One event, in capture order.
    virtual void write(const TWIevent& event, std::string& out) = 0;
    // The capture ended: hands over what is still held (an unfinished transaction).
    virtual void finish(std::string& out) { (void)out; }
    // True when the next event may start a new output file without breaking what the format
    // groups (a file rotation waits for it).
    virtual bool atBoundary() const { return true; }
};

} // namespace Wirelog
