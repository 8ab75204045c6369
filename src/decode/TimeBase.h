// SPDX-License-Identifier: MIT
#pragma once
// The decoder's time base, taken from the same counter the reader stamps its reads with.

namespace Wirelog {

// Sets div (counter ticks per millisecond) from the counter's frequency.
void InitTimeBase();

} // namespace Wirelog
