// SPDX-License-Identifier: MIT
#pragma once
// The pieces of text every export format shares: the event codes' names and times in seconds.
#include <cstdint>
#include <string>
#include <string_view>

namespace Wirelog {

// "TWI_START" and so on; "UNKNOWN" for a code above TWI_BUFFER_ERROR.
std::string_view EventCodeName(std::uint8_t code);

// Appends `ticks` at `ticksPerSecond` as seconds with 9 decimals ("0.000125000"), the fraction
// truncated to whole nanoseconds; a leading "-" when negative.
void AppendSeconds(std::string& out, std::int64_t ticks, std::uint64_t ticksPerSecond);

// The same time split into whole seconds and nanoseconds (both from the magnitude).
struct SecondsAndNanos {
    std::uint64_t seconds;
    std::uint32_t nanos;
};
SecondsAndNanos SplitTicks(std::uint64_t ticks, std::uint64_t ticksPerSecond);

// "0x" and two upper-case hex digits.
void AppendHexByte(std::string& out, std::uint8_t byte);

} // namespace Wirelog
