// SPDX-License-Identifier: MIT
// From the event buffer to the saved log: draining events into log lines, the separators, and
// the log file's bytes.
#include "decode/LogDrain.h"
#include "decode/LogFile.h"
#include "decode/LogLines.h"
#include "decode/LogTextWriter.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace Wirelog {
namespace {

// Per code: an empty line before each code that begins a transaction (back to back too), and a
// new time for a START's gap to count from after the stop-type codes only.
TEST(Stream, EachCodeIsSeparatedAndMovesTheStopTimeByItsKind) {
    const std::set<int> separated = {1, 3, 6, 13, 14, 15}, stopTypes = {2, 5, 11, 12, 16};
    div = 1000.0;
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        ResetEventBuffer(); // each round's STOP sets the stop time afresh
        for (const auto& [cmd, timer] :
             {std::pair{2, 1'000}, {code, 5'000}, {code, 5'000}, {1, 9'000}})
            AppendEvent(static_cast<std::uint8_t>(cmd), 0x20, timer);
        LogLines lines;
        ASSERT_EQ(DrainEvents(lines), 4u);
        std::string shape; // x a line, - an empty one
        for (std::size_t i = 0; i < lines.size(); ++i)
            shape += lines[i].empty() ? '-' : 'x';
        EXPECT_EQ(shape, separated.count(code) ? "x-x-x-x" : "xxx-x");
        const std::string gap = stopTypes.count(code) ? "4" : "8";
        EXPECT_EQ(lines[lines.size() - 1], "START (valid) [Gap from last Stop = " + gap + "mS]");
    }
    ResetDecoder(); // a new capture: its stamps restart from zero
    EXPECT_EQ(ViewTWI(1, 0, 1'000), "START (valid)");
}

TEST(LogStore, KeepsLinesAtEveryArenaPositionWritesEachWithCrLfAndReusesItsBlocks) {
    LogLines lines;
    std::string expected, bytes;
    const auto add = [&](const std::string& line) {
        lines.append(line);
        expected += line + "\r\n";
    };
    const auto write = [&](std::string_view chunk) {
        bytes.append(chunk);
        return true;
    };
    std::size_t reserved = 0;
    for (const char fill : {'0', 'A'}) {
        add(""); // before any text block exists, then into the blocks a clear kept
        // Fill the first block to its last byte, so the next separator falls exactly at its end.
        for (int i = 0; i < 64; ++i)
            add(std::string(LogLines::kBlockBytes / 64, static_cast<char>(fill + i % 26)));
        for (int i = 0; i < 50'000; ++i) // many of the writer's chunks
            add(i % 7 == 0 ? "" : "START (valid) " + std::to_string(i));
        EXPECT_TRUE(WriteLogFile(lines, write));
        EXPECT_TRUE(bytes == expected);
        int calls = 0;
        EXPECT_FALSE(WriteLogFile(lines, [&](std::string_view) { return ++calls < 2; }));
        EXPECT_EQ(calls, 2) << "no chunk after the refused one";
        if (reserved != 0) {
            EXPECT_EQ(lines.BytesReserved(), reserved) << "no new blocks after a clear";
        }
        reserved = lines.BytesReserved();
        lines.clear();
        expected.clear();
        bytes.clear();
    }
}

// The stream writer's line stamps (its lines are the saved log's: the command-line tests).
TEST(LogTextWriter, StampsSecondsOrUtcInFrontOfEachLine) {
    const struct {
        LineStamps stamps;
        CaptureClock clock;
        std::int64_t ticks;
        const char* prefix;
    } rows[] = {
        {LineStamps::Seconds, {1'000'000, 0}, 1'500'001, "1.500001000 "},
        {LineStamps::Seconds, {~0ull, 0}, 9'000'000'000'000'000'000, "0.487890977 "},
        // A leap day's last microsecond, and the next.
        {LineStamps::Utc, {1'000'000, 1'709'251'199'999'999}, 0, "2024-02-29T23:59:59.999999Z "},
        {LineStamps::Utc, {1'000'000, 1'709'251'199'999'999}, 1, "2024-03-01T00:00:00.000000Z "},
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
