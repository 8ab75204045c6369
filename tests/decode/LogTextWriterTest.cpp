// SPDX-License-Identifier: MIT
// The log as a stream writer: the window's bytes for every code, the line stamps, and where a
// file may be cut.
#include "decode/LogTextWriter.h"
#include "decode/LogDrain.h"
#include "decode/LogFile.h"
#include "decode/LogLines.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace Wirelog {
namespace {

// Every code after every code, stop times included: the writer's bytes are the saved log's.
TEST(LogTextWriter, WritesTheSavedLogsBytesAndIsAtABoundaryOnlyBetweenTransactions) {
    div = 1000.0;
    ResetDecoder();
    ResetEventBuffer();
    for (int first = 0; first < 18; ++first)
        for (int second = 0; second < 18; ++second)
            for (const int code : {first, second})
                AppendEvent(static_cast<std::uint8_t>(code), 0x5A, 1000 * (first * 18 + second));
    LogLines lines;
    DrainEvents(lines);
    std::string saved;
    WriteLogFile(lines, [&](std::string_view bytes) { return saved.append(bytes), true; });

    ResetDecoder();
    LogTextWriter writer;
    std::string written;
    EXPECT_TRUE(writer.atBoundary()) << "before any event";
    for (std::uint32_t i = 0; i < myevtHead.load(); ++i) {
        writer.write(MyEvents[i], written);
        const int code = MyEvents[i].cmd;
        const bool ends = code == 2 || code == 5 || code == 11 || code == 12 || code == 16;
        const bool begins =
            code == 1 || code == 3 || code == 6 || code == 13 || code == 14 || code == 15;
        if (ends || begins) {
            EXPECT_EQ(writer.atBoundary(), ends) << code;
        }
    }
    EXPECT_TRUE(written == saved);
}

TEST(LogTextWriter, StampsSecondsOrUtcInFrontOfEachLine) {
    const struct {
        LineStamps stamps;
        CaptureClock clock;
        std::int64_t ticks;
        const char* prefix;
    } rows[] = {
        {LineStamps::Seconds, {1'000'000, 0}, 1'500'001, "1.500001000 "},
        {LineStamps::Seconds, {3, 0}, -4, "-1.333333333 "},
        {LineStamps::Seconds, {~0ull, 0}, 9'000'000'000'000'000'000, "0.487890977 "},
        {LineStamps::Utc, {1'000'000, 0}, 0, "1970-01-01T00:00:00.000000Z "},
        // 2024-02-29 23:59:59.999999 UTC, then one microsecond on.
        {LineStamps::Utc, {1'000'000, 1'709'251'199'999'999}, 0, "2024-02-29T23:59:59.999999Z "},
        {LineStamps::Utc, {1'000'000, 1'709'251'199'999'999}, 1, "2024-03-01T00:00:00.000000Z "},
        {LineStamps::Utc, {1'000, 951'782'400'000'000}, -1'500, "2000-02-28T23:59:58.500000Z "},
        {LineStamps::Utc, {10, 0}, -1, "1969-12-31T23:59:59.900000Z "},
    };
    for (const auto& row : rows) {
        LogTextWriter writer(row.stamps, row.clock);
        std::string out;
        writer.write(TWIevent{2, 0, row.ticks}, out);
        EXPECT_EQ(out, std::string(row.prefix) + "STOP (*** BUS IS IDLE ***)\r\n");
    }
}

} // namespace
} // namespace Wirelog
