// SPDX-License-Identifier: MIT
#include "events/Framing.h"

#include "events/EventBuffer.h"
#include "events/EventCodes.h"

namespace Wirelog {
namespace {

// Only the producer moves the head during a capture, so it is kept in a register; each record
// is published with release as soon as it is complete.
struct Appender {
    std::uint32_t head;
    std::int64_t timer;

    void operator()(std::uint8_t cmd, std::uint8_t data) {
        MyEvents[head] = TWIevent{cmd, data, timer};
        myevtHead.store(++head, std::memory_order_release);
    }
};

} // namespace

std::size_t FrameBatch(const std::uint8_t* bytes, std::size_t count, std::int64_t timer,
                       PendingCode& pending) {
    Appender append{myevtHead.load(std::memory_order_relaxed), timer};
    std::size_t pos = 0;
    if (pending.extra && count > 0) {
        // A full buffer skips the value byte too and leaves the code waiting, as it skips
        // every byte.
        if (append.head >= kEventCapacity)
            return count;
        pending.extra = false;
        append(pending.c, bytes[pos++]);
    }
    while (pos < count) {
        if (append.head >= kEventCapacity) {
            // A full buffer still consumes the stream, so the adapter's queue keeps draining.
            return count - pos;
        }
        const std::uint8_t code = bytes[pos++];
        if (!TakesValueByte(code)) {
            const bool outOfRange = code > kLastModuleCode;
            append(outOfRange ? std::uint8_t{TWI_BUFFER_ERROR} : code,
                   outOfRange ? code : std::uint8_t{0});
        } else if (pos == count) {
            pending.c = code;
            pending.extra = true;
        } else {
            append(code, bytes[pos++]);
        }
    }
    return 0;
}

} // namespace Wirelog
