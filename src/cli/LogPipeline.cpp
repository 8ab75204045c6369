// SPDX-License-Identifier: MIT
#include "cli/LogPipeline.h"

#include "decode/LogDrain.h"
#include "decode/LogFile.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

namespace Wirelog::cli {
namespace {

// Lines held before they are handed on: enough to write in large chunks, small next to a
// full capture's log.
constexpr std::size_t kFlushLines = 1 << 16;

} // namespace

LogPipeline::LogPipeline(double ticksPerMillisecond, Sink sink) : sink_(std::move(sink)) {
    Wirelog::div = ticksPerMillisecond;
    ResetEventBuffer();
    ResetDecoder();
}

bool LogPipeline::addRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count) {
    if (sinkFailed_)
        return false;
    droppedBytes_ += FrameBatch(bytes, count, timer, pending_);
    DrainEvents(lines_);
    return lines_.size() < kFlushLines || flush();
}

bool LogPipeline::finish() {
    return !sinkFailed_ && flush();
}

std::uint64_t LogPipeline::eventsStored() const {
    return myevtHead.load(std::memory_order_acquire);
}

bool LogPipeline::flush() {
    sinkFailed_ = !WriteLogFile(lines_, sink_);
    lines_.clear();
    return !sinkFailed_;
}

} // namespace Wirelog::cli
