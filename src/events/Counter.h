// SPDX-License-Identifier: MIT
#pragma once
// The high-resolution monotonic counter that stamps reads, and its frequency.
// Windows: QueryPerformanceCounter/Frequency. Elsewhere: CLOCK_MONOTONIC in nanoseconds.
#include <cstdint>

namespace Wirelog {

std::int64_t QueryCounter();
std::int64_t CounterFrequency(); // ticks per second

} // namespace Wirelog
