// SPDX-License-Identifier: MIT
#include "cli/LogPipeline.h"

#include "decode/LogDrain.h"
#include "decode/LogFile.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <charconv>
#include <cstdio>

namespace Wirelog::cli {
namespace {

// Lines held before they are handed on: enough to write in large chunks, small next to a
// full capture's log.
constexpr std::size_t kFlushLines = 1 << 16;

// "seconds.nanoseconds " for a time stamp; the fraction is truncated to whole nanoseconds.
constexpr std::size_t kMaxStampLength = 32;
std::size_t FormatSeconds(char* out, std::int64_t ticks, std::uint64_t ticksPerSecond) {
    const std::uint64_t magnitude =
        ticks < 0 ? 0 - static_cast<std::uint64_t>(ticks) : static_cast<std::uint64_t>(ticks);
    const std::uint64_t rest = magnitude % ticksPerSecond;
    // rest * 1e9 stays within 64 bits for any rate up to 18 GHz; beyond, long double does.
    constexpr std::uint64_t kNanoseconds = 1'000'000'000;
    const std::uint64_t fraction =
        rest <= ~0ull / kNanoseconds
            ? rest * kNanoseconds / ticksPerSecond
            : static_cast<std::uint64_t>(static_cast<long double>(rest) * kNanoseconds /
                                         static_cast<long double>(ticksPerSecond));
    char* at = out;
    if (ticks < 0)
        *at++ = '-';
    at = std::to_chars(at, out + kMaxStampLength, magnitude / ticksPerSecond).ptr;
    at += std::snprintf(at, 12, ".%09llu ", static_cast<unsigned long long>(fraction));
    return static_cast<std::size_t>(at - out);
}

} // namespace

LogPipeline::LogPipeline(double ticksPerMillisecond, Sink sink) : sink_(std::move(sink)) {
    Wirelog::div = ticksPerMillisecond;
    ResetEventBuffer();
    ResetDecoder();
}

bool LogPipeline::addRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count) {
    if (sinkFailed_)
        return false;
    frameRead(timer, bytes, count);
    return drain();
}

void LogPipeline::frameRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count) {
    droppedBytes_ += FrameBatch(bytes, count, timer, pending_);
}

bool LogPipeline::drain() {
    if (sinkFailed_)
        return false;
    if (stampTicksPerSecond_ != 0)
        drainStamped();
    else
        DrainEvents(lines_);
    return lines_.size() < kFlushLines || flush();
}

bool LogPipeline::finish() {
    return !sinkFailed_ && flush();
}

std::uint64_t LogPipeline::eventsStored() const {
    return myevtHead.load(std::memory_order_acquire);
}

// DrainEvents with each line's time in front; the separator lines stay empty.
void LogPipeline::drainStamped() {
    while (myevtTail < myevtHead.load(std::memory_order_acquire)) {
        const TWIevent& event = MyEvents[myevtTail++];
        if (IsSeparatorCode(event.cmd))
            lines_.append({});
        lines_.AppendWritten(kMaxStampLength + kMaxViewTWILength, [&](char* out) {
            const std::size_t stamp = FormatSeconds(out, event.timer, stampTicksPerSecond_);
            return stamp + FormatViewTWI(out + stamp, event.cmd, event.data, event.timer);
        });
    }
}

bool LogPipeline::flush() {
    sinkFailed_ = !WriteLogFile(lines_, sink_);
    lines_.clear();
    return !sinkFailed_;
}

} // namespace Wirelog::cli
