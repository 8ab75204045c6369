// SPDX-License-Identifier: MIT
#pragma once
// The capture module's event codes and their properties, in one place: the framing of the
// module's stream, the decoder, the log's separators, the simulator and the bus monitor all
// take them from here.
#include <cstdint>

namespace Wirelog {

enum EventCode : std::uint8_t {
    TWI_MONITOR_ON = 0,
    TWI_START = 1,
    TWI_STOP = 2,
    TWI_MISSING_START = 3,
    TWI_DATA_AFTER_NAK = 4,
    TWI_BUS_IDLE = 5,
    TWI_RESTART = 6,
    TWI_ADDR_ACK = 7,
    TWI_ADDR_NAK = 8,
    TWI_DATA_ACK = 9,
    TWI_DATA_NAK = 10,
    TWI_BAD_STOP = 11,
    TWI_ADDR_STOP = 12,
    TWI_BAD_START = 13,
    TWI_ADDR_RESTART = 14,
    TWI_DATA_RESTART = 15,
    TWI_DATA_STOP = 16,
    TWI_BUFFER_ERROR = 17,
};

// The highest code the module itself sends; a larger byte where a code is due is a stream
// fault, stored as TWI_BUFFER_ERROR with that byte as its value.
inline constexpr std::uint8_t kLastModuleCode = TWI_DATA_STOP;

// Codes 7 to 16 are followed by one value byte in the module's stream.
constexpr bool TakesValueByte(std::uint8_t code) {
    return code >= TWI_ADDR_ACK && code <= TWI_DATA_STOP;
}

// Events after which the bus is idle; the decoder measures the next START's gap from them.
constexpr bool IsStopType(std::uint8_t code) {
    return code == TWI_STOP || code == TWI_BUS_IDLE || code == TWI_BAD_STOP ||
           code == TWI_ADDR_STOP || code == TWI_DATA_STOP;
}

// Events that begin a transaction get an empty line before their own in the log.
constexpr bool IsSeparatorCode(std::uint8_t code) {
    return code == TWI_START || code == TWI_MISSING_START || code == TWI_RESTART ||
           code == TWI_BAD_START || code == TWI_ADDR_RESTART || code == TWI_DATA_RESTART;
}

// The value byte of a bad START or bad STOP: the bits already sent, in bits 3 to 1.
constexpr std::uint8_t BitCountValue(unsigned bits) {
    return static_cast<std::uint8_t>((bits & 7u) << 1);
}

} // namespace Wirelog
