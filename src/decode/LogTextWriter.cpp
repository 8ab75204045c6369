// SPDX-License-Identifier: MIT
#include "decode/LogTextWriter.h"

#include "decode/ViewTWI.h"
#include "events/EventCodes.h"

#include <charconv>
#include <cstdio>

namespace Wirelog {
namespace {

constexpr std::uint64_t kNanoseconds = 1'000'000'000;
constexpr std::int64_t kMicroseconds = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;

std::uint64_t Magnitude(std::int64_t value) {
    return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Whole `unit`s in `rest` ticks of a clock running at `ticksPerSecond`; rest * unit stays within
// 64 bits for any rate up to 18 GHz, and long double takes the rest.
std::uint64_t ScaleFraction(std::uint64_t rest, std::uint64_t unit, std::uint64_t ticksPerSecond) {
    if (rest <= ~0ull / unit)
        return rest * unit / ticksPerSecond;
    return static_cast<std::uint64_t>(static_cast<long double>(rest) * unit /
                                      static_cast<long double>(ticksPerSecond));
}

// Days since 1970-01-01 to the proleptic Gregorian date (Howard Hinnant's civil_from_days).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

} // namespace

std::size_t FormatSecondsStamp(char* out, std::int64_t ticks, std::uint64_t ticksPerSecond) {
    const std::uint64_t magnitude = Magnitude(ticks);
    const std::uint64_t fraction =
        ScaleFraction(magnitude % ticksPerSecond, kNanoseconds, ticksPerSecond);
    char* at = out;
    if (ticks < 0)
        *at++ = '-';
    at = std::to_chars(at, out + kMaxStampLength, magnitude / ticksPerSecond).ptr;
    at += std::snprintf(at, 12, ".%09llu ", static_cast<unsigned long long>(fraction));
    return static_cast<std::size_t>(at - out);
}

std::size_t FormatUtcStamp(char* out, std::int64_t ticks, const CaptureClock& clock) {
    const std::uint64_t magnitude = Magnitude(ticks);
    const auto offset = static_cast<std::int64_t>(
        magnitude / clock.ticksPerSecond * kMicroseconds +
        ScaleFraction(magnitude % clock.ticksPerSecond, kMicroseconds, clock.ticksPerSecond));
    const std::int64_t micros = clock.startUnixMicros + (ticks < 0 ? -offset : offset);
    // Floor division, so instants before 1970 still count their day from its midnight.
    std::int64_t seconds = micros / kMicroseconds;
    std::int64_t fraction = micros % kMicroseconds;
    if (fraction < 0) {
        fraction += kMicroseconds;
        --seconds;
    }
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    std::int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    const int length = std::snprintf(
        out, kMaxStampLength + 1, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%06lldZ ",
        static_cast<long long>(year), month, day, static_cast<long long>(secondOfDay / 3600),
        static_cast<long long>(secondOfDay / 60 % 60), static_cast<long long>(secondOfDay % 60),
        static_cast<long long>(fraction));
    return static_cast<std::size_t>(length);
}

LogTextWriter::LogTextWriter(LineStamps stamps, CaptureClock clock)
    : stamps_(stamps), clock_(clock) {
    if (clock_.ticksPerSecond == 0)
        clock_.ticksPerSecond = 1;
}

void LogTextWriter::write(const TWIevent& event, std::string& out) {
    char line[1 + 2 + kMaxStampLength + kMaxViewTWILength + 2];
    char* at = line;
    if (IsSeparatorCode(event.cmd)) {
        *at++ = '\r';
        *at++ = '\n';
        inTransaction_ = true;
    } else if (IsStopType(event.cmd)) {
        inTransaction_ = false;
    }
    if (stamps_ == LineStamps::Seconds)
        at += FormatSecondsStamp(at, event.timer, clock_.ticksPerSecond);
    else if (stamps_ == LineStamps::Utc)
        at += FormatUtcStamp(at, event.timer, clock_);
    at += FormatViewTWI(at, event.cmd, event.data, event.timer);
    *at++ = '\r';
    *at++ = '\n';
    out.append(line, static_cast<std::size_t>(at - line));
}

} // namespace Wirelog
