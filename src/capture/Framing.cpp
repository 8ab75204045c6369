#include "Framing.h"

#include "EventBuffer.h"

namespace Wirelog {

std::size_t FrameBatch(const std::uint8_t* bytes, std::size_t count, std::int64_t timer,
                       PendingCode& pending) {
    // Only this thread moves the head during a capture, so a local copy stays exact; each
    // record is published with release as soon as it is complete.
    std::uint32_t head = myevtHead.load(std::memory_order_relaxed);
    const auto append = [&head](std::uint8_t cmd, std::uint8_t data, std::int64_t stamp) {
        MyEvents[head] = TWIevent{cmd, data, stamp};
        myevtHead.store(++head, std::memory_order_release);
    };
    std::size_t pos = 0;
    while (pos < count) {
        if (head >= kEventCapacity) {
            // A full buffer still consumes the stream, so the adapter's queue keeps draining.
            return count - pos;
        }
        std::uint8_t code;
        if (pending.extra) {
            code = pending.c;
            pending.extra = false;
        } else {
            code = bytes[pos++];
        }
        if (code > 16) {
            append(17, code, timer);
        } else if (code <= 6) {
            append(code, 0, timer);
        } else if (pos == count) {
            pending.c = code;
            pending.extra = true;
        } else {
            append(code, bytes[pos++], timer);
        }
    }
    return 0;
}

} // namespace Wirelog
