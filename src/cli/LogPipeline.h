// SPDX-License-Identifier: MIT
#pragma once
// Recorded or live reads to output bytes, through the very framing, event buffer and decoder
// the window uses, and one writer for the output's format. The buffer is drained into the writer
// and emptied again whenever the next read could fill it, so the command line has no event
// limit and holds no more than one buffer's worth of events whatever the length; the bytes leave
// for the sink in chunks as they grow.
#include "decode/EventWriter.h"
#include "events/Framing.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace Wirelog::cli {

class LogPipeline {
public:
    // Receives the output's bytes in order; returning false stops the pipeline.
    using Sink = std::function<bool(std::string_view)>;
    // Ends the current output part and begins the next (a file rotation); everything before it
    // has reached the sink. False stops the pipeline.
    using Cut = std::function<bool()>;

    // Starts a capture: empties the event buffer, clears the decoder's stop time, sets the time
    // base to `ticksPerMillisecond` and writes the writer's opening bytes. Only one pipeline may
    // run at a time (the buffer and the decoder are the program's single ones), on one thread.
    LogPipeline(double ticksPerMillisecond, std::unique_ptr<EventWriter> writer, Sink sink);

    // Stop taking events after `count` of them (0: no bound); reached() tells when.
    void LimitEvents(std::uint64_t count) { maxEvents_ = count; }
    bool reached() const { return maxEvents_ != 0 && eventsWritten_ >= maxEvents_; }

    // Parts of at least `bytes` each (0: never by size), cut through `cut` at the writer's next
    // boundary; a part that reaches twice the size is cut where it stands.
    void CutEvery(std::uint64_t bytes, Cut cut);
    // Cuts at the writer's next boundary (`now`: before the next event, boundary or not).
    void RequestCut(bool now = false);
    bool CutPending() const { return cutRequested_; }

    // One read: frames it into the buffer, stamped `timer`, then drains the buffer into the
    // writer. False once the sink failed.
    bool addRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count);

    // addRead in two halves, for a caller with many small reads at once: frameRead frames one
    // into the buffer (draining it first when the read might not fit), drain writes everything
    // framed (false once the sink failed). Bytes that come once the bound is reached are
    // ignored.
    void frameRead(std::int64_t timer, const std::uint8_t* bytes, std::size_t count);
    bool drain();
    // drain, then hands over every byte held so far and ends a part that is due to end while
    // the writer is at a boundary (a live capture's round).
    bool flush();

    // Drains, lets the writer finish and hands over every byte. False if the sink failed.
    bool finish();

    std::uint64_t eventsWritten() const { return eventsWritten_; }
    // The stream ended on a code byte still waiting for its value byte (never shown, as in the
    // window, where the next capture drops it).
    bool endsInsideEvent() const { return pending_.extra; }
    std::uint8_t waitingCode() const { return pending_.c; }

private:
    bool CutDue() const;
    bool CutNow() const;
    bool HandOver();
    bool DoCut();

    std::unique_ptr<EventWriter> writer_;
    Sink sink_;
    Cut cut_;
    std::string out_;
    PendingCode pending_;
    std::uint64_t eventsWritten_ = 0;
    std::uint64_t maxEvents_ = 0;
    std::uint64_t partBytes_ = 0; // bytes of the current part, handed over or held
    std::uint64_t cutBytes_ = 0;
    bool cutRequested_ = false;
    bool cutNow_ = false;
    bool sinkFailed_ = false;
};

} // namespace Wirelog::cli
