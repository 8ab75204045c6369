// SPDX-License-Identifier: MIT
#include "export/EventNames.h"

#include "decode/ByteToS.h"

#include <array>
#include <charconv>

namespace Wirelog {

std::string_view EventCodeName(std::uint8_t code) {
    static constexpr std::array<std::string_view, 18> kNames = {
        "TWI_MONITOR_ON",     "TWI_START",       "TWI_STOP",         "TWI_MISSING_START",
        "TWI_DATA_AFTER_NAK", "TWI_BUS_IDLE",    "TWI_RESTART",      "TWI_ADDR_ACK",
        "TWI_ADDR_NAK",       "TWI_DATA_ACK",    "TWI_DATA_NAK",     "TWI_BAD_STOP",
        "TWI_ADDR_STOP",      "TWI_BAD_START",   "TWI_ADDR_RESTART", "TWI_DATA_RESTART",
        "TWI_DATA_STOP",      "TWI_BUFFER_ERROR"};
    return code < kNames.size() ? kNames[code] : "UNKNOWN";
}

SecondsAndNanos SplitTicks(std::uint64_t ticks, std::uint64_t ticksPerSecond) {
    if (ticksPerSecond == 0)
        ticksPerSecond = 1;
    const std::uint64_t rest = ticks % ticksPerSecond;
    // rest * 1e9 stays within 64 bits for any rate up to 18 GHz; beyond, long double does.
    constexpr std::uint64_t kNanoseconds = 1'000'000'000;
    const std::uint64_t nanos =
        rest <= ~0ull / kNanoseconds
            ? rest * kNanoseconds / ticksPerSecond
            : static_cast<std::uint64_t>(static_cast<long double>(rest) * kNanoseconds /
                                         static_cast<long double>(ticksPerSecond));
    return {ticks / ticksPerSecond, static_cast<std::uint32_t>(nanos)};
}

void AppendSeconds(std::string& out, std::int64_t ticks, std::uint64_t ticksPerSecond) {
    const std::uint64_t magnitude =
        ticks < 0 ? 0 - static_cast<std::uint64_t>(ticks) : static_cast<std::uint64_t>(ticks);
    const auto [seconds, nanos] = SplitTicks(magnitude, ticksPerSecond);
    char text[40];
    char* at = text;
    if (ticks < 0)
        *at++ = '-';
    at = std::to_chars(at, text + sizeof text, seconds).ptr;
    *at++ = '.';
    char digits[9];
    std::uint32_t rest = nanos;
    for (int i = 8; i >= 0; --i, rest /= 10)
        digits[i] = static_cast<char>('0' + rest % 10);
    out.append(text, at);
    out.append(digits, sizeof digits);
}

void AppendHexByte(std::string& out, std::uint8_t byte) {
    char text[4];
    ByteToS(byte, text);
    out.append(text, sizeof text);
}

} // namespace Wirelog
