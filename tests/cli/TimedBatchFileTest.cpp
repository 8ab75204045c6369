// SPDX-License-Identifier: MIT
#include "batchfile/TimedBatchFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace Wirelog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Batches = std::vector<std::pair<std::uint64_t, Bytes>>;

struct Parsed {
    Batches batches;
    bool ok = false;
    BatchParseError error;
};

// Parses in memory, or through the block-wise stream reader.
Parsed Parse(const std::string& text, bool streamed = false) {
    Parsed parsed;
    const auto keep = [&](const TimedBatch& batch) {
        parsed.batches.emplace_back(batch.timeStamp, batch.bytes);
        return true;
    };
    std::istringstream in(text);
    parsed.ok = streamed ? ReadTimedBatches(in, keep, parsed.error)
                         : ParseTimedBatches(text, keep, parsed.error);
    return parsed;
}

TEST(TimedBatchFile, AcceptsTheFormatsLooserSpellings) {
    const Parsed parsed = Parse("# recorded on the bench\n\n0 00\n  \t \n\t15\t01 07\ta0  \r\n"
                                "   # indented comment\n15\n2000 ff Fe 0A\r\n"
                                "0009223372036854775807"); // the last line needs no LF
    ASSERT_TRUE(parsed.ok) << parsed.error.describe();
    // A stamp alone is a read that returned nothing.
    EXPECT_EQ(parsed.batches, (Batches{{0, {0x00}},
                                       {15, {0x01, 0x07, 0xA0}},
                                       {15, {}},
                                       {2000, {0xFF, 0xFE, 0x0A}},
                                       {9223372036854775807u, {}}}));
}

TEST(TimedBatchFile, ErrorsNameTheLineAndEchoTheInputPrintableAndShort) {
    const struct {
        std::string text;
        std::size_t line;
        const char* detailPart;
    } rows[] = {
        {"0 01\n5 7\n", 2, "bad hex byte '7'"},
        {"5 A0B\n", 1, "bad hex byte 'A0B'"},
        {"5 01 # note\n", 1, "bad hex byte '#'"},
        {"1 \x01\x7F" + std::string(100, 'Z'), 1, "bad hex byte '\\x01\\x7FZZ"},
        {"# c\n\nA0 07\n", 3, "missing time stamp"},
        {"-5 07\n", 1, "missing time stamp: '-5'"},
        {"9223372036854775808 01\n", 1, "too large (at most 9223372036854775807"},
        {"99999999999999999999999\n", 1, "is too large"},
        {"10 01\n10\n9 02\n", 3, "9 is below the previous 10"},
    };
    // The stream reader feeds the same parser in blocks; a line across blocks is below.
    for (const auto& row : rows) {
        SCOPED_TRACE(row.detailPart);
        const Parsed parsed = Parse(row.text);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.error.line, row.line);
        const std::string& detail = parsed.error.detail;
        EXPECT_NE(detail.find(row.detailPart), std::string::npos) << detail;
        EXPECT_LT(detail.size(), 80u);
        EXPECT_TRUE(std::all_of(detail.begin(), detail.end(),
                                [](char ch) { return ch >= 0x20 && ch < 0x7F; }));
    }
}

// A line of any length comes in bounded parts with its one stamp, across the reader's blocks too.
// Endless bad input stopping at once is the decode's /dev/zero case (DecodeCli).
TEST(TimedBatchFile, LongLinesComeInBoundedPartsWithTheirStamp) {
    constexpr std::size_t kBytes = 150'000;
    std::string text = "7";
    for (std::size_t i = 0; i < kBytes; ++i)
        text += " 5a";
    const Parsed parsed = Parse(text + "\n8 01", true);
    ASSERT_TRUE(parsed.ok) << parsed.error.describe();
    ASSERT_GT(parsed.batches.size(), 2u);
    EXPECT_EQ(parsed.batches.back(), (std::pair<std::uint64_t, Bytes>{8, {0x01}}));
    std::size_t total = 0;
    for (std::size_t i = 0; i + 1 < parsed.batches.size(); ++i) {
        const auto& [stamp, bytes] = parsed.batches[i];
        EXPECT_EQ(stamp, 7u);
        EXPECT_LE(bytes.size(), TimedBatchStream::kMaxBatchBytes);
        total += std::count(bytes.begin(), bytes.end(), 0x5A);
    }
    EXPECT_EQ(total, kBytes);
}

} // namespace
} // namespace Wirelog
