#include "Framing.h"

#include "EventBuffer.h"

namespace Wirelog {

void FrameBatch(const std::uint8_t* bytes, std::size_t count, std::int64_t timer,
                PendingCode& pending) {
    std::size_t pos = 0;
    while (pos < count) {
        if (myevtHead.load(std::memory_order_relaxed) >= kEventCapacity) {
            // A full buffer still consumes the stream so the adapter's queue keeps draining.
            ++pos;
            continue;
        }
        std::uint8_t code;
        if (pending.extra) {
            code = pending.c;
            pending.extra = false;
        } else {
            code = bytes[pos++];
        }
        if (code > 16) {
            AppendEvent(17, code, timer);
        } else if (code <= 6) {
            AppendEvent(code, 0, timer);
        } else if (pos == count) {
            pending.c = code;
            pending.extra = true;
        } else {
            AppendEvent(code, bytes[pos++], timer);
        }
    }
}

} // namespace Wirelog
