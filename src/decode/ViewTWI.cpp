// SPDX-License-Identifier: MIT
#include "decode/ViewTWI.h"

#include "decode/ByteToS.h"
#include "events/EventCodes.h"

#include <charconv>
#include <cmath>
#include <cstring>
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

// Writes a line into a buffer of kMaxViewTWILength characters; the literals' lengths are
// known at compile time, so each piece becomes a few plain moves.
class LineWriter {
public:
    explicit LineWriter(char* out) : begin_(out), at_(out) {}

    void put(std::string_view text) {
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
    }
    void put(char ch) { *at_++ = ch; }
    void hex(std::uint8_t b) {
        ByteToS(b, at_);
        at_ += 4;
    }
    template <typename Integer> void decimal(Integer value) {
        at_ = std::to_chars(at_, at_ + 12, value).ptr;
    }
    std::size_t length() const { return static_cast<std::size_t>(at_ - begin_); }

private:
    char* begin_;
    char* at_;
};

void PutAddress(LineWriter& out, std::string_view read, std::string_view write, std::uint8_t data) {
    out.put((data & 1) ? read : write);
    out.hex(static_cast<std::uint8_t>(data >> 1));
}

void PutBitCount(LineWriter& out, std::uint8_t data) {
    out.put(static_cast<char>('0' + ((data & 0x0F) >> 1)));
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

void PutLine(LineWriter& out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    switch (cmd) {
    case TWI_MONITOR_ON:
    case TWI_STOP:
    case TWI_MISSING_START:
    case TWI_DATA_AFTER_NAK:
    case TWI_BUS_IDLE:
    case TWI_RESTART:
        out.put(kFixed[cmd]);
        break;
    case TWI_START:
        out.put(kFixed[TWI_START]);
        if (StopTime != 0) {
            out.put(" [Gap from last Stop = "sv);
            out.decimal(GapMilliseconds(timer));
            out.put("mS]"sv);
        }
        break;
    case TWI_ADDR_ACK:
        PutAddress(out, kAddrAckRead, kAddrAckWrite, data);
        break;
    case TWI_ADDR_NAK:
        PutAddress(out, kAddrNakRead, kAddrNakWrite, data);
        break;
    case TWI_DATA_ACK:
        out.put(kDataAck);
        out.hex(data);
        break;
    case TWI_DATA_NAK:
        out.put(kDataNak);
        out.hex(data);
        break;
    case TWI_BAD_STOP:
        out.put("Error: STOP detected at IDLE or within a data-byte transfer. ("sv);
        PutBitCount(out, data);
        out.put(" data bits were sent prior to the bad STOP.)"sv);
        break;
    case TWI_ADDR_STOP:
        PutAddress(out, "Error: Address + Read  + STOP (missing ACK/NAK), addr = "sv,
                   "Error: Address + Write + STOP (missing ACK/NAK), addr = "sv, data);
        break;
    case TWI_BAD_START:
        out.put("Error: START detected within a data-byte transfer. ("sv);
        PutBitCount(out, data);
        out.put(" data bits were sent prior to the bad START.)"sv);
        break;
    case TWI_ADDR_RESTART:
        PutAddress(out, "Error: Address + Read  + RESTART (missing ACK/NAK), addr = "sv,
                   "Error: Address + Write + RESTART (missing ACK/NAK), addr = "sv, data);
        break;
    case TWI_DATA_RESTART:
        out.put("Error: Data + RESTART (missing ACK/NAK), data = "sv);
        out.hex(data);
        break;
    case TWI_DATA_STOP:
        out.put("Error: Data + STOP (missing ACK/NAK), data = "sv);
        out.hex(data);
        out.put(" (data may be partially invalid)"sv);
        break;
    case TWI_BUFFER_ERROR:
        out.put("*** Buffer Error *** , data = "sv);
        out.hex(data);
        out.put(" (some prior info may be invalid)"sv);
        break;
    default:
        out.put("UNKNOWN BUS COMMAND SENT, VALUE="sv);
        out.decimal(cmd);
        break;
    }
}

} // namespace

std::size_t FormatViewTWI(char* out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    if (firsttime) {
        firsttime = false;
        StopTime = 0;
    }
    LineWriter writer(out);
    PutLine(writer, cmd, data, timer);
    if (IsStopType(cmd))
        StopTime = timer;
    return writer.length();
}

void AppendViewTWI(std::string& out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    char line[kMaxViewTWILength];
    out.append(line, FormatViewTWI(line, cmd, data, timer));
}

std::string ViewTWI(std::uint8_t cmd, std::uint8_t data, std::int64_t timer) {
    char line[kMaxViewTWILength];
    return std::string(line, FormatViewTWI(line, cmd, data, timer));
}

void ResetDecoder() {
    StopTime = 0;
}

} // namespace Wirelog
