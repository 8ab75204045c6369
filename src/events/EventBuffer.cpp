// SPDX-License-Identifier: MIT
#include "events/EventBuffer.h"

namespace Wirelog {

TWIevent MyEvents[kEventSlots] = {};
std::atomic<std::uint32_t> myevtHead{0};
std::uint32_t myevtTail = 0;

void ResetEventBuffer() {
    myevtTail = 0;
    myevtHead.store(0, std::memory_order_release);
}

} // namespace Wirelog
