#include "ViewTWI.h"

#include "ByteToS.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace Wirelog {

double div = 1.0;

namespace {

std::int64_t StopTime = 0;
bool firsttime = true;

using namespace std::string_view_literals;

// The prefixes of codes 7 to 10 are all 30 characters so values line up in a fixed-pitch list.
constexpr std::string_view kAddrAckRead = "Address + Read  + ACK, addr = "sv;
constexpr std::string_view kAddrAckWrite = "Address + Write + ACK, addr = "sv;
constexpr std::string_view kAddrNakRead = "Address + Read  + NAK, addr = "sv;
constexpr std::string_view kAddrNakWrite = "Address + Write + NAK, addr = "sv;
constexpr std::string_view kDataAck = "Data + ACK,            data = "sv;
constexpr std::string_view kDataNak = "Data + NAK,            data = "sv;
static_assert(kAddrAckRead.size() == 30 && kAddrAckWrite.size() == 30 &&
              kAddrNakRead.size() == 30 && kAddrNakWrite.size() == 30 && kDataAck.size() == 30 &&
              kDataNak.size() == 30);

constexpr std::string_view kFixed[] = {
    "*** I2C Monitoring activated, waiting for idle bus... ***"sv,
    "START (valid)"sv,
    "STOP (*** BUS IS IDLE ***)"sv,
    "Error: Missing START (SCL activity without a prior START); awaiting a valid START..."sv,
    "Error: Data seen after a NAK (should have seen RESTART or STOP)"sv,
    "*** Bus is now idle ***"sv,
    "Repeated START (the Master did not relinquish control of the bus)"sv,
};

void AppendHex(std::string& out, std::uint8_t b) {
    char hex[4];
    ByteToS(b, hex);
    out.append(hex, 4);
}

void AppendAddress(std::string& out, std::string_view read, std::string_view write,
                   std::uint8_t data) {
    out += (data & 1) ? read : write;
    AppendHex(out, static_cast<std::uint8_t>(data >> 1));
}

void AppendBitCount(std::string& out, std::uint8_t data) {
    out += static_cast<char>('0' + ((data & 0x0F) >> 1));
}

// The gap in whole milliseconds, truncated toward zero; a gap beyond the signed 32-bit range
// (about 24.9 days) is held at the range's end rather than wrapping into nonsense.
std::int32_t GapMilliseconds(std::int64_t timer) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    // The 64-bit difference saturates instead of overflowing; either end clamps below anyway.
    std::int64_t ticks;
    if (StopTime < 0 && timer > kMax + StopTime)
        ticks = kMax;
    else if (StopTime > 0 && timer < kMin + StopTime)
        ticks = kMin;
    else
        ticks = timer - StopTime;
    const double ms = std::trunc(static_cast<double>(ticks) / div);
    if (std::isnan(ms))
        return 0;
    if (ms >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (ms <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(ms);
}

void AppendGap(std::string& out, std::int64_t timer) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, GapMilliseconds(timer)).ptr;
    out += " [Gap from last Stop = "sv;
    out.append(digits, end);
    out += "mS]"sv;
}

void AppendUnknown(std::string& out, std::uint8_t cmd) {
    char digits[4];
    const auto end = std::to_chars(digits, digits + sizeof digits, cmd).ptr;
    out += "UNKNOWN BUS COMMAND SENT, VALUE="sv;
    out.append(digits, end);
}

bool IsStopType(std::uint8_t cmd) {
    return cmd == 2 || cmd == 5 || cmd == 11 || cmd == 12 || cmd == 16;
}

void AppendLine(std::string& out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    switch (cmd) {
    case 0:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        out += kFixed[cmd];
        break;
    case 1:
        out += kFixed[1];
        if (StopTime != 0)
            AppendGap(out, timer);
        break;
    case 7:
        AppendAddress(out, kAddrAckRead, kAddrAckWrite, data);
        break;
    case 8:
        AppendAddress(out, kAddrNakRead, kAddrNakWrite, data);
        break;
    case 9:
        out += kDataAck;
        AppendHex(out, data);
        break;
    case 10:
        out += kDataNak;
        AppendHex(out, data);
        break;
    case 11:
        out += "Error: STOP detected at IDLE or within a data-byte transfer. ("sv;
        AppendBitCount(out, data);
        out += " data bits were sent prior to the bad STOP.)"sv;
        break;
    case 12:
        AppendAddress(out, "Error: Address + Read  + STOP (missing ACK/NAK), addr = "sv,
                      "Error: Address + Write + STOP (missing ACK/NAK), addr = "sv, data);
        break;
    case 13:
        out += "Error: START detected within a data-byte transfer. ("sv;
        AppendBitCount(out, data);
        out += " data bits were sent prior to the bad START.)"sv;
        break;
    case 14:
        AppendAddress(out, "Error: Address + Read  + RESTART (missing ACK/NAK), addr = "sv,
                      "Error: Address + Write + RESTART (missing ACK/NAK), addr = "sv, data);
        break;
    case 15:
        out += "Error: Data + RESTART (missing ACK/NAK), data = "sv;
        AppendHex(out, data);
        break;
    case 16:
        out += "Error: Data + STOP (missing ACK/NAK), data = "sv;
        AppendHex(out, data);
        out += " (data may be partially invalid)"sv;
        break;
    case 17:
        out += "*** Buffer Error *** , data = "sv;
        AppendHex(out, data);
        out += " (some prior info may be invalid)"sv;
        break;
    default:
        AppendUnknown(out, cmd);
        break;
    }
}

} // namespace

void AppendViewTWI(std::string& out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    if (firsttime) {
        firsttime = false;
        StopTime = 0;
    }
    AppendLine(out, cmd, data, timer);
    if (IsStopType(cmd))
        StopTime = timer;
}

std::string ViewTWI(std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    std::string line;
    AppendViewTWI(line, cmd, data, timer);
    return line;
}

void ResetDecoder() {
    StopTime = 0;
}

} // namespace Wirelog
