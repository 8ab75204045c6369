#include "TimedBatchFile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Parsed {
    std::vector<TimedBatch> batches;
    bool ok = false;
    BatchParseError error;
};

Parsed ParseAll(std::string_view text) {
    Parsed parsed;
    parsed.ok = ParseTimedBatches(
        text,
        [&](const TimedBatch& batch) {
            parsed.batches.push_back(batch);
            return true;
        },
        parsed.error);
    return parsed;
}

Parsed ReadAll(const std::string& text) {
    Parsed parsed;
    std::istringstream in(text);
    parsed.ok = ReadTimedBatches(
        in,
        [&](const TimedBatch& batch) {
            parsed.batches.push_back(batch);
            return true;
        },
        parsed.error);
    return parsed;
}

TEST(TimedBatchFile, AcceptsTheFormatsLooserSpellings) {
    const Parsed parsed = ParseAll("# recorded on the bench\n"
                                   "\n"
                                   "0 00\n"
                                   "  \t \n"
                                   "\t15\t01 07\ta0  \r\n"
                                   "   # indented comment\n"
                                   "15\n"
                                   "2000 ff Fe 0A\r\n"
                                   "2000 09");
    ASSERT_TRUE(parsed.ok) << parsed.error.describe();
    ASSERT_EQ(parsed.batches.size(), 5u);
    EXPECT_EQ(parsed.batches[0].timeStamp, 0u);
    EXPECT_EQ(parsed.batches[0].bytes, Bytes{0x00});
    EXPECT_EQ(parsed.batches[1].timeStamp, 15u);
    EXPECT_EQ(parsed.batches[1].bytes, (Bytes{0x01, 0x07, 0xA0}));
    EXPECT_EQ(parsed.batches[2].timeStamp, 15u);
    EXPECT_TRUE(parsed.batches[2].bytes.empty()) << "a stamp alone is a read that returned nothing";
    EXPECT_EQ(parsed.batches[3].bytes, (Bytes{0xFF, 0xFE, 0x0A}));
    EXPECT_EQ(parsed.batches[4].timeStamp, 2000u);
    EXPECT_EQ(parsed.batches[4].bytes, Bytes{0x09}) << "the last line needs no LF";
}

TEST(TimedBatchFile, LargestStampIsTheSignedCounterMaximum) {
    const Parsed parsed = ParseAll("0009223372036854775807 01\n");
    ASSERT_TRUE(parsed.ok) << parsed.error.describe();
    EXPECT_EQ(parsed.batches.at(0).timeStamp, 9223372036854775807u);
}

struct BadInput {
    const char* text;
    std::size_t line;
    BatchErrorKind kind;
    const char* detailPart;
};

// Keeps the test names readable; the input itself holds line breaks.
void PrintTo(const BadInput& bad, std::ostream* os) {
    *os << "expects " << bad.detailPart;
}

class TimedBatchFileErrors : public testing::TestWithParam<BadInput> {};

TEST_P(TimedBatchFileErrors, NamesTheLineAndWhatIsWrong) {
    const BadInput& bad = GetParam();
    for (const bool streamed : {false, true}) {
        const Parsed parsed = streamed ? ReadAll(bad.text) : ParseAll(bad.text);
        EXPECT_FALSE(parsed.ok);
        EXPECT_EQ(parsed.error.line, bad.line);
        EXPECT_EQ(parsed.error.kind, bad.kind);
        EXPECT_NE(parsed.error.detail.find(bad.detailPart), std::string::npos)
            << parsed.error.detail;
        EXPECT_EQ(parsed.error.describe().rfind("line " + std::to_string(bad.line) + ": ", 0), 0u)
            << parsed.error.describe();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TimedBatchFileErrors,
    testing::Values(
        BadInput{"0 01\n5 7\n", 2, BatchErrorKind::BadHex, "bad hex byte '7'"},
        BadInput{"5 0x1\n", 1, BatchErrorKind::BadHex, "'0x1'"},
        BadInput{"5 A0B\n", 1, BatchErrorKind::BadHex, "'A0B'"},
        BadInput{"5 G1\n", 1, BatchErrorKind::BadHex, "'G1'"},
        BadInput{"5 01 # note\n", 1, BatchErrorKind::BadHex, "'#'"},
        BadInput{"5 01\r07\n", 1, BatchErrorKind::BadHex, "'01\\x0D07'"},
        BadInput{"# c\n\nA0 07\n", 3, BatchErrorKind::MissingTimeStamp, "missing time stamp"},
        BadInput{"-5 07\n", 1, BatchErrorKind::MissingTimeStamp, "'-5'"},
        BadInput{"+5 07\n", 1, BatchErrorKind::MissingTimeStamp, "'+5'"},
        BadInput{"9223372036854775808 01\n", 1, BatchErrorKind::TimeStampTooLarge,
                 "at most 9223372036854775807"},
        BadInput{"99999999999999999999999\n", 1, BatchErrorKind::TimeStampTooLarge, "too large"},
        BadInput{"10 01\n10\n9 02\n", 3, BatchErrorKind::DecreasingTimeStamp,
                 "9 is below the previous 10"}));

TEST(TimedBatchFile, EchoedInputIsPrintableAndShort) {
    const std::string longField(100, 'Z');
    const Parsed parsed = ParseAll("1 \x01\x7F" + longField + "\n");
    ASSERT_FALSE(parsed.ok);
    const std::string& detail = parsed.error.detail;
    EXPECT_NE(detail.find("'\\x01\\x7FZZ"), std::string::npos) << detail;
    EXPECT_NE(detail.find("...'"), std::string::npos) << detail;
    EXPECT_LT(detail.size(), 80u);
    for (const char ch : detail)
        EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << int(ch);
}

TEST(TimedBatchFile, RejectedLineDoesNotMoveTheLastStamp) {
    TimedBatchParser parser;
    EXPECT_EQ(parser.parseLine("10 01"), TimedBatchParser::Result::Batch);
    EXPECT_EQ(parser.parseLine("50 XX"), TimedBatchParser::Result::Error);
    EXPECT_EQ(parser.parseLine("20 02"), TimedBatchParser::Result::Batch);
    EXPECT_EQ(parser.lineNumber(), 3u);
}

TEST(TimedBatchFile, StreamedReadMatchesInMemoryParseAcrossBlockBoundaries) {
    // Lines longer than the reader's block, and lines that straddle block boundaries at every
    // alignment, must come out exactly as the in-memory parse gives them.
    std::string text = "# header\r\n";
    std::uint64_t stamp = 0;
    for (int i = 0; i < 3000; ++i) {
        Bytes bytes(static_cast<std::size_t>(i % 37), static_cast<std::uint8_t>(i));
        AppendTimedBatchLine(text, stamp, bytes);
        stamp += static_cast<std::uint64_t>(i % 3);
    }
    AppendTimedBatchLine(text, stamp, Bytes(40000, 0x5A)); // about 120 KB on one line
    text += "\n";
    AppendTimedBatchLine(text, stamp + 1, Bytes{0x02});
    text.pop_back(); // no final LF

    const Parsed inMemory = ParseAll(text);
    const Parsed streamed = ReadAll(text);
    ASSERT_TRUE(inMemory.ok) << inMemory.error.describe();
    ASSERT_TRUE(streamed.ok) << streamed.error.describe();
    ASSERT_EQ(inMemory.batches.size(), 3002u);
    ASSERT_EQ(streamed.batches.size(), inMemory.batches.size());
    for (std::size_t i = 0; i < streamed.batches.size(); ++i) {
        EXPECT_EQ(streamed.batches[i].timeStamp, inMemory.batches[i].timeStamp) << i;
        EXPECT_EQ(streamed.batches[i].bytes, inMemory.batches[i].bytes) << i;
    }
    EXPECT_EQ(streamed.batches[3000].bytes.size(), 40000u);
    EXPECT_EQ(streamed.batches.back().bytes, Bytes{0x02});
}

TEST(TimedBatchFile, ErrorLineNumberCountsAcrossBlocks) {
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "7 01 02 03\n";
    text += "8 0Q\n";
    const Parsed parsed = ReadAll(text);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.error.line, 20001u);
    EXPECT_EQ(parsed.batches.size(), 20000u);
}

TEST(TimedBatchFile, HandlerCanStopTheReadEarly) {
    int seen = 0;
    BatchParseError error;
    std::istringstream in("1 01\n2 02\n3 ZZ\n");
    EXPECT_TRUE(ReadTimedBatches(
        in, [&](const TimedBatch&) { return ++seen < 2; }, error));
    EXPECT_EQ(seen, 2);
}

TEST(TimedBatchFile, WrittenLinesAreUpperCaseAndLfTerminated) {
    std::string text;
    AppendTimedBatchLine(text, 1500, Bytes{0x07, 0xa0, 0x0f});
    AppendTimedBatchLine(text, 1500, {});
    EXPECT_EQ(text, "1500 07 A0 0F\n1500\n");
}

} // namespace
} // namespace Wirelog
