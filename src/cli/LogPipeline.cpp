// SPDX-License-Identifier: MIT
#include "cli/LogPipeline.h"

#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <algorithm>

namespace Wirelog::cli {
namespace {

// Bytes held before they are handed on: large writes, small next to any log.
constexpr std::size_t kHandOverBytes = 1 << 16;
// Events framed before the buffer is written out and started over: the same few pages of it
// serve a capture of any length, and stay in the cache.
constexpr std::uint32_t kDrainEvents = 1 << 16;

} // namespace

LogPipeline::LogPipeline(double ticksPerMillisecond, std::unique_ptr<EventWriter> writer, Sink sink)
    : writer_(std::move(writer)), sink_(std::move(sink)) {
    Wirelog::div = ticksPerMillisecond;
    ResetEventBuffer();
    ResetDecoder();
    out_.reserve(2 * kHandOverBytes);
    writer_->begin(out_);
    partBytes_ = out_.size();
}

void LogPipeline::CutEvery(std::uint64_t bytes, Cut cut) {
    cutBytes_ = bytes;
    cut_ = std::move(cut);
}

void LogPipeline::RequestCut(bool now) {
    cutRequested_ = true;
    cutNow_ = cutNow_ || now;
}

bool LogPipeline::addRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count) {
    frameRead(timer, bytes, count);
    return drain();
}

void LogPipeline::frameRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0 && !sinkFailed_ && !reached()) {
        // A read frames into at most one event per byte; one that might take the buffer past
        // kDrainEvents waits for it to be written out and emptied, and one larger than the
        // buffer goes in parts, which frame as the whole read does.
        const std::uint32_t head = myevtHead.load(std::memory_order_relaxed);
        if (head > 0 && (head + std::min<std::size_t>(count, kDrainEvents) > kDrainEvents))
            drain();
        const std::size_t part = std::min<std::size_t>(
            count, kEventCapacity - myevtHead.load(std::memory_order_relaxed));
        FrameBatch(bytes, part, timer, pending_);
        bytes += part;
        count -= part;
    }
}

bool LogPipeline::CutDue() const {
    return cutRequested_ || (cutBytes_ != 0 && partBytes_ + out_.size() >= cutBytes_);
}

bool LogPipeline::CutNow() const {
    return cut_ && CutDue() &&
           (writer_->atBoundary() || cutNow_ ||
            (cutBytes_ != 0 && partBytes_ + out_.size() >= 2 * cutBytes_));
}

bool LogPipeline::drain() {
    while (!sinkFailed_ && myevtTail < myevtHead.load(std::memory_order_acquire) && !reached()) {
        if (CutNow() && !DoCut())
            break;
        writer_->write(MyEvents[myevtTail++], out_);
        ++eventsWritten_;
        if (out_.size() >= kHandOverBytes)
            HandOver();
    }
    // Everything framed is written (or beyond the bound): the buffer starts over.
    if (myevtTail == myevtHead.load(std::memory_order_acquire) || reached())
        ResetEventBuffer();
    return !sinkFailed_;
}

bool LogPipeline::flush() {
    // A part due to end ends now when the bus is between transactions, not with the next event,
    // which may be long in coming.
    return drain() && HandOver() && (!CutNow() || DoCut());
}

bool LogPipeline::finish() {
    if (!drain())
        return false;
    writer_->finish(out_);
    return HandOver();
}

bool LogPipeline::HandOver() {
    if (sinkFailed_)
        return false;
    if (!out_.empty()) {
        partBytes_ += out_.size();
        sinkFailed_ = !sink_(out_);
        out_.clear();
    }
    return !sinkFailed_;
}

bool LogPipeline::DoCut() {
    if (!HandOver())
        return false;
    cutRequested_ = cutNow_ = false;
    partBytes_ = 0;
    sinkFailed_ = !cut_();
    // Every part is a whole file of its format, with its own opening bytes.
    writer_->begin(out_);
    return !sinkFailed_;
}

} // namespace Wirelog::cli
