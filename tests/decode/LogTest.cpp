#include "EventBuffer.h"
#include "Framing.h"
#include "LogDrain.h"
#include "LogFile.h"
#include "LogLines.h"
#include "ViewTWI.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

std::vector<std::string> Contents(const LogLines& lines) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out.emplace_back(lines[i]);
    return out;
}

std::string FileBytes(const LogLines& lines) {
    std::string bytes;
    EXPECT_TRUE(WriteLogFile(lines, [&](std::string_view chunk) {
        bytes.append(chunk);
        return true;
    }));
    return bytes;
}

class Log : public testing::Test {
protected:
    void SetUp() override {
        ResetEventBuffer();
        ResetDecoder();
        div = 1000.0;
    }

    // One capture, drained after every read as the window does; all reads share one stamp.
    std::vector<std::string> Decode(const std::vector<std::vector<std::uint8_t>>& reads) {
        SetUp();
        PendingCode pending;
        LogLines lines;
        for (const auto& read : reads) {
            FrameBatch(read.data(), read.size(), 4000, pending);
            DrainEvents(lines);
        }
        return Contents(lines);
    }
};

TEST_F(Log, FirstCaptureGivesFiveItemsWithOneSeparator) {
    EXPECT_EQ(Decode({{0x00, 0x01, 0x07, 0xA0, 0x02}}),
              (std::vector<std::string>{"*** I2C Monitoring activated, waiting for idle bus... ***",
                                        "", "START (valid)", "Address + Write + ACK, addr = 0x50",
                                        "STOP (*** BUS IS IDLE ***)"}));
}

TEST_F(Log, SeparatorPrecedesExactlyTheTransactionStartCodes) {
    const std::set<int> separated = {1, 3, 6, 13, 14, 15};
    LogLines lines;
    for (int code = 0; code < 256; ++code) {
        // Twice each, so back-to-back separator codes are covered too.
        AppendEvent(static_cast<std::uint8_t>(code), 0x20, 0);
        AppendEvent(static_cast<std::uint8_t>(code), 0x20, 0);
    }
    EXPECT_EQ(DrainEvents(lines), 512u);
    std::size_t at = 0;
    for (int code = 0; code < 256; ++code) {
        for (int twice = 0; twice < 2; ++twice) {
            const bool expectSeparator = separated.count(code) != 0;
            ASSERT_LT(at, lines.size());
            EXPECT_EQ(IsSeparatorCode(static_cast<std::uint8_t>(code)), expectSeparator);
            if (expectSeparator) {
                EXPECT_EQ(lines[at], "") << "code " << code;
                ++at;
            }
            EXPECT_FALSE(lines[at].empty()) << "code " << code;
            ++at;
        }
    }
    EXPECT_EQ(at, lines.size());
}

TEST_F(Log, DrainTakesOnlyWhatIsNewAndAdvancesTheTail) {
    LogLines lines;
    EXPECT_EQ(DrainEvents(lines), 0u);
    EXPECT_TRUE(lines.empty());
    AppendEvent(5, 0, 0);
    AppendEvent(1, 0, 0);
    EXPECT_EQ(DrainEvents(lines), 2u);
    EXPECT_EQ(myevtTail, 2u);
    lines.clear(); // the C key: later events continue from the tail
    AppendEvent(2, 0, 0);
    EXPECT_EQ(DrainEvents(lines), 1u);
    EXPECT_EQ(Contents(lines), std::vector<std::string>{"STOP (*** BUS IS IDLE ***)"});
}

TEST_F(Log, SplittingTheStreamAnywhereGivesTheSameLog) {
    // Every separator code, every value-carrying code, value bytes that look like codes, and
    // out-of-range bytes where a code is due.
    const std::vector<std::uint8_t> stream = {
        0x00, 0x05, 0x01, 0x07, 0xA0, 0x09, 0x07, 0x06, 0x07, 0xA1, 0x0A, 0x02, 0x02,
        0x03, 0x08, 0x01, 0x04, 0x0B, 0x0E, 0x0C, 0xA1, 0x01, 0x0D, 0x06, 0x0E, 0x3C,
        0x0F, 0x0F, 0x10, 0xFF, 0x11, 0x80, 0x01, 0x07, 0x10, 0x09, 0x00, 0x02};
    const auto part = [&](std::size_t from, std::size_t to) {
        return std::vector<std::uint8_t>(stream.begin() + static_cast<std::ptrdiff_t>(from),
                                         stream.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const auto reference = Decode({stream});
    ASSERT_EQ(reference.size(), 33u); // 25 events, 8 of them separated
    for (std::size_t i = 0; i <= stream.size(); ++i) {
        for (std::size_t j = i; j <= stream.size(); ++j) {
            ASSERT_EQ(Decode({part(0, i), {}, part(i, j), part(j, stream.size())}), reference)
                << "split at " << i << " and " << j;
        }
    }
}

TEST_F(Log, LogLinesHoldsSeparatorsAtEveryArenaPosition) {
    LogLines lines;
    lines.append(""); // before any text block exists
    // Fill the first block to the last byte, so the next separator falls exactly at its end.
    const std::string chunk(LogLines::kBlockBytes / 32, 'x');
    for (int i = 0; i < 32; ++i)
        lines.append(chunk);
    lines.append("");
    lines.append("after");
    lines.append(std::string(LogLines::kMaxLineBytes + 10, 'y'));
    ASSERT_EQ(lines.size(), 36u);
    EXPECT_EQ(lines[0], "");
    for (std::size_t i = 1; i <= 32; ++i)
        EXPECT_TRUE(lines[i] == chunk) << "line " << i; // not printed: 32 KiB each
    EXPECT_EQ(lines[33], "");
    EXPECT_EQ(lines[34], "after");
    EXPECT_EQ(lines[35].size(), LogLines::kMaxLineBytes);
    EXPECT_EQ(lines[35].find_first_not_of('y'), std::string_view::npos);
    lines.clear();
    EXPECT_TRUE(lines.empty());
    lines.append("");
    lines.append("again");
    EXPECT_EQ(Contents(lines), (std::vector<std::string>{"", "again"}));
}

TEST(LogLinesStore, RewindReusesMemoryAndKeepsLinesIntact) {
    LogLines lines;
    for (int i = 0; i < 3000; ++i) // three blocks' worth
        lines.append(std::string(1000, 'a'));
    const std::size_t reserved = lines.bytesReserved();
    lines.rewind();
    lines.append("");
    for (int i = 0; i < 3000; ++i)
        lines.append(std::to_string(i) + std::string(900, 'b'));
    ASSERT_EQ(lines.size(), 3001u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1].substr(0, 2), "0b");
    EXPECT_EQ(lines[3000].substr(0, 5), "2999b");
    EXPECT_EQ(lines.bytesReserved(), reserved) << "the text fits the blocks it had";
}

TEST(LogFile, EveryLineEndsWithCrLfAndNothingElseIsWritten) {
    LogLines lines;
    EXPECT_EQ(FileBytes(lines), "");
    lines.append("");
    lines.append("START (valid)");
    lines.append("STOP (*** BUS IS IDLE ***)");
    const std::string bytes = FileBytes(lines);
    EXPECT_EQ(bytes.size(), 45u);
    EXPECT_EQ(bytes, "\r\nSTART (valid)\r\nSTOP (*** BUS IS IDLE ***)\r\n");
}

TEST(LogFile, LargeLogArrivesInOrderAndARefusedChunkStopsTheWrite) {
    LogLines lines;
    std::string expected;
    for (int i = 0; i < 50'000; ++i) {
        lines.append(i % 7 == 0 ? "" : std::to_string(i));
        expected += (i % 7 == 0 ? "" : std::to_string(i)) + "\r\n";
    }
    EXPECT_TRUE(FileBytes(lines) == expected);
    int calls = 0;
    EXPECT_FALSE(WriteLogFile(lines, [&](std::string_view) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2) << "no chunk after the refused one";
}

} // namespace
} // namespace Wirelog
