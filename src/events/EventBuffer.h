// SPDX-License-Identifier: MIT
#pragma once
// The event buffer of one capture: a fixed array filled from index 0, never wrapped.
//
// One producer (the reader thread) appends and publishes myevtHead with release ordering;
// one consumer (the window thread) reads myevtHead with acquire ordering, so every record
// below the head it has read is complete. myevtTail belongs to the consumer.
#include <atomic>
#include <cstdint>

namespace Wirelog {

struct TWIevent {
    std::uint8_t cmd;   // event code, 0 to 17
    std::uint8_t data;  // value byte (0 for codes 0 to 6)
    std::int64_t timer; // counter ticks since the capture's reader started
};

inline constexpr std::uint32_t kEventSlots = 1'000'000;
// One slot fewer than the array: the last slot is never written.
inline constexpr std::uint32_t kEventCapacity = 999'999;

extern TWIevent MyEvents[kEventSlots];
extern std::atomic<std::uint32_t> myevtHead;
extern std::uint32_t myevtTail;

// Both indices to 0; records stay as they are. Must not overlap a drain.
void ResetEventBuffer();

// Stores one record unless the capture is full; the full buffer drops silently.
inline void AppendEvent(std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    const std::uint32_t head = myevtHead.load(std::memory_order_relaxed);
    if (head >= kEventCapacity)
        return;
    MyEvents[head] = TWIevent{cmd, data, timer};
    myevtHead.store(head + 1, std::memory_order_release);
}

} // namespace Wirelog
