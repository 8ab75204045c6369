// SPDX-License-Identifier: MIT
#pragma once
// Splits one read batch of the module's byte stream into events.
//
// Codes 0-6 stand alone, codes 7-16 take the next byte as their value, and any byte above 16
// where a code is due becomes code 17 with that byte as value. A code 7-16 that ends a batch
// waits in the pending state for the first byte of the next successful read.
#include <cstddef>
#include <cstdint>

namespace Wirelog {

struct PendingCode {
    std::uint8_t c = 0; // the code waiting for its value byte
    bool extra = false; // true while c is waiting
};

// Appends the batch's events to the event buffer, all stamped with `timer`. Producer thread
// only. Once the buffer is full the rest of the batch is skipped unread; returns how many bytes
// were skipped that way (0 while the buffer has room), which callers may ignore.
std::size_t FrameBatch(const std::uint8_t* bytes, std::size_t count, std::int64_t timer,
                       PendingCode& pending);

} // namespace Wirelog
