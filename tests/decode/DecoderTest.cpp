// SPDX-License-Identifier: MIT
#include "decode/TimeBase.h"
#include "decode/ViewTWI.h"
#include "events/Counter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// Formats into exactly the buffer's size on the heap, so a line that outgrows it (code 11 with
// seven bits is the longest) is a sanitizer report. Every gap checked here follows a STOP of its
// own, so no test depends on the stop time another one left.
std::string Line(int cmd, int data, std::int64_t timer = 0) {
    std::vector<char> out(kMaxViewTWILength);
    return {out.data(), FormatViewTWI(out.data(), static_cast<std::uint8_t>(cmd),
                                      static_cast<std::uint8_t>(data), timer)};
}

// The codes a real bus gives every day (0, 1, 2, 5, 6, 7) are held by the reviewed capture log the
// command line decodes; these are the rest.
TEST(Decoder, EveryCodeGivesItsExactLine) {
    const struct {
        int cmd, data;
        const char* line;
    } rows[] = {
        {3, 0,
         "Error: Missing START (SCL activity without a prior START); awaiting a valid START..."},
        {4, 0, "Error: Data seen after a NAK (should have seen RESTART or STOP)"},
        {8, 0x91, "Address + Read  + NAK, addr = 0x48"},
        {8, 0x90, "Address + Write + NAK, addr = 0x48"},
        {9, 0xA5, "Data + ACK,            data = 0xA5"},
        {10, 0x9F, "Data + NAK,            data = 0x9F"},
        {11, 0x0E,
         "Error: STOP detected at IDLE or within a data-byte transfer. (7 data bits "
         "were sent prior to the bad STOP.)"},
        {11, 0xF1,
         "Error: STOP detected at IDLE or within a data-byte transfer. (0 data bits "
         "were sent prior to the bad STOP.)"},
        {12, 0xA1, "Error: Address + Read  + STOP (missing ACK/NAK), addr = 0x50"},
        {12, 0xA0, "Error: Address + Write + STOP (missing ACK/NAK), addr = 0x50"},
        {13, 0x06,
         "Error: START detected within a data-byte transfer. (3 data bits were sent "
         "prior to the bad START.)"},
        {14, 0x3D, "Error: Address + Read  + RESTART (missing ACK/NAK), addr = 0x1E"},
        {14, 0x3C, "Error: Address + Write + RESTART (missing ACK/NAK), addr = 0x1E"},
        {15, 0x0B, "Error: Data + RESTART (missing ACK/NAK), data = 0x0B"},
        {16, 0xC0,
         "Error: Data + STOP (missing ACK/NAK), data = 0xC0 (data may be partially "
         "invalid)"},
        {17, 0x11, "*** Buffer Error *** , data = 0x11 (some prior info may be invalid)"},
        {18, 0x00, "UNKNOWN BUS COMMAND SENT, VALUE=18"},
        {255, 0xAB, "UNKNOWN BUS COMMAND SENT, VALUE=255"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "cmd " << row.cmd << " data " << row.data);
        EXPECT_EQ(Line(row.cmd, row.data), row.line);
    }
}

TEST(Decoder, GapIsTruncatedTowardZeroAndClampedToThe32BitRange) {
    const struct {
        double ticksPerMs;
        std::int64_t stop, start;
        const char* gap;
    } rows[] = {
        {10'000, 20'000, 119'999, "9"},
        {10'000, 20'000, 3'000, "-1"}, // a start stamped before its stop
        {1, 1, 1 + 2'147'483'648LL, "2147483647"},
        {1, 1, 1 - 2'147'483'649LL, "-2147483648"},
        {1, kMax, kMin, "-2147483648"}, // differences beyond 64 bits saturate, never wrap
        {1, kMin, kMax, "2147483647"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.stop << " to " << row.start);
        div = row.ticksPerMs;
        Line(2, 0, row.stop);
        EXPECT_EQ(Line(1, 0, row.start),
                  "START (valid) [Gap from last Stop = " + std::string(row.gap) + "mS]");
    }
}

// The gap between reads stamped with the counter (QueryPerformanceCounter on Windows) is the
// time that passed between them.
TEST(Decoder, GapsFromCounterStampsAreTheTimeThatPassed) {
    InitTimeBase();
    using Clock = std::chrono::steady_clock;
    const auto beforeStop = Clock::now();
    const std::int64_t stop = QueryCounter();
    const auto afterStop = Clock::now();
    while (Clock::now() - afterStop < std::chrono::milliseconds(40)) {
    }
    const std::int64_t start = QueryCounter();
    const auto most =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - beforeStop);
    Line(2, 0, stop);
    const std::string line = Line(1, 0, start);
    int gap = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "START (valid) [Gap from last Stop = %dmS]", &gap), 1)
        << line;
    EXPECT_GE(gap, 39);
    EXPECT_LE(gap, most.count() + 1);
}

} // namespace
} // namespace Wirelog
