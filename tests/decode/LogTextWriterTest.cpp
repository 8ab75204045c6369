// SPDX-License-Identifier: MIT
// The line stamps of the log's stream writer (its lines are the saved log's, checked through
// the command line against the reviewed logs).
#include "decode/LogTextWriter.h"

#include <gtest/gtest.h>

#include <string>

namespace Wirelog {
namespace {

TEST(LogTextWriter, StampsSecondsOrUtcInFrontOfEachLine) {
    const struct {
        LineStamps stamps;
        CaptureClock clock;
        std::int64_t ticks;
        const char* prefix;
    } rows[] = {
        {LineStamps::None, {1, 0}, 5, ""},
        {LineStamps::Seconds, {1'000'000, 0}, 1'500'001, "1.500001000 "},
        {LineStamps::Seconds, {3, 0}, -4, "-1.333333333 "},
        {LineStamps::Seconds, {~0ull, 0}, 9'000'000'000'000'000'000, "0.487890977 "},
        {LineStamps::Utc, {1'000'000, 0}, 0, "1970-01-01T00:00:00.000000Z "},
        // A leap day's last microsecond, and the next.
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
