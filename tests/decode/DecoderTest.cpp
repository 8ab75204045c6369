#include "ByteToS.h"
#include "ViewTWI.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <set>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

class Decoder : public testing::Test {
protected:
    void SetUp() override {
        div = 1000.0;
        ResetDecoder();
    }
};

struct Row {
    int cmd;
    int data;
    const char* line;
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << "cmd " << row.cmd << " data " << row.data;
}

class DecoderRows : public Decoder, public testing::WithParamInterface<Row> {};

TEST_P(DecoderRows, GivesTheExactLine) {
    const Row& row = GetParam();
    EXPECT_EQ(ViewTWI(static_cast<std::uint8_t>(row.cmd), static_cast<std::uint8_t>(row.data), 0),
              row.line);
}

INSTANTIATE_TEST_SUITE_P(
    EveryCode, DecoderRows,
    testing::Values(
        Row{0, 0, "*** I2C Monitoring activated, waiting for idle bus... ***"},
        Row{0, 0xFF, "*** I2C Monitoring activated, waiting for idle bus... ***"},
        Row{1, 0x33, "START (valid)"}, Row{2, 0, "STOP (*** BUS IS IDLE ***)"},
        Row{3, 0,
            "Error: Missing START (SCL activity without a prior START); awaiting a valid "
            "START..."},
        Row{4, 0, "Error: Data seen after a NAK (should have seen RESTART or STOP)"},
        Row{5, 0, "*** Bus is now idle ***"},
        Row{6, 0, "Repeated START (the Master did not relinquish control of the bus)"},
        Row{7, 0xA1, "Address + Read  + ACK, addr = 0x50"},
        Row{7, 0xA0, "Address + Write + ACK, addr = 0x50"},
        Row{7, 0xFF, "Address + Read  + ACK, addr = 0x7F"},
        Row{7, 0x00, "Address + Write + ACK, addr = 0x00"},
        Row{8, 0x91, "Address + Read  + NAK, addr = 0x48"},
        Row{8, 0x90, "Address + Write + NAK, addr = 0x48"},
        Row{9, 0x00, "Data + ACK,            data = 0x00"},
        Row{9, 0xA5, "Data + ACK,            data = 0xA5"},
        Row{10, 0xFF, "Data + NAK,            data = 0xFF"},
        Row{11, 0x0E,
            "Error: STOP detected at IDLE or within a data-byte transfer. (7 data bits were sent "
            "prior to the bad STOP.)"},
        Row{11, 0xF1,
            "Error: STOP detected at IDLE or within a data-byte transfer. (0 data bits were sent "
            "prior to the bad STOP.)"},
        Row{12, 0xA1, "Error: Address + Read  + STOP (missing ACK/NAK), addr = 0x50"},
        Row{12, 0xA0, "Error: Address + Write + STOP (missing ACK/NAK), addr = 0x50"},
        Row{13, 0x0F,
            "Error: START detected within a data-byte transfer. (7 data bits were sent prior to "
            "the bad START.)"},
        Row{13, 0x06,
            "Error: START detected within a data-byte transfer. (3 data bits were sent prior to "
            "the bad START.)"},
        Row{13, 0x10,
            "Error: START detected within a data-byte transfer. (0 data bits were sent prior to "
            "the bad START.)"},
        Row{14, 0x3D, "Error: Address + Read  + RESTART (missing ACK/NAK), addr = 0x1E"},
        Row{14, 0x3C, "Error: Address + Write + RESTART (missing ACK/NAK), addr = 0x1E"},
        Row{15, 0x0B, "Error: Data + RESTART (missing ACK/NAK), data = 0x0B"},
        Row{16, 0xC0,
            "Error: Data + STOP (missing ACK/NAK), data = 0xC0 (data may be partially invalid)"},
        Row{17, 0x11, "*** Buffer Error *** , data = 0x11 (some prior info may be invalid)"},
        Row{18, 0x00, "UNKNOWN BUS COMMAND SENT, VALUE=18"},
        Row{100, 0x07, "UNKNOWN BUS COMMAND SENT, VALUE=100"},
        Row{255, 0xAB, "UNKNOWN BUS COMMAND SENT, VALUE=255"}));

TEST(ByteToS, MatchesPrintfForEveryByteAndCopies) {
    for (int b = 0; b < 256; ++b) {
        char expected[8];
        std::snprintf(expected, sizeof expected, "0x%02X", b);
        EXPECT_EQ(ByteToS(static_cast<std::uint8_t>(b)), expected);
    }
    const std::string first = ByteToS(0xAB);
    const std::string second = ByteToS(0x01);
    EXPECT_EQ(first, "0xAB");
    EXPECT_EQ(second, "0x01");
}

TEST_F(Decoder, NoLineOutgrowsTheFormattingBuffer) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    std::size_t longest = 0;
    for (int cmd = 0; cmd < 256; ++cmd) {
        for (const int data : {0x00, 0x0E, 0xA1, 0xFF}) {
            ViewTWI(2, 0, kMax); // the widest gap a START can show
            // Exactly the buffer's size on the heap, so an overrun is a sanitizer report.
            std::vector<char> out(kMaxViewTWILength);
            longest = std::max(longest, FormatViewTWI(out.data(), static_cast<std::uint8_t>(cmd),
                                                      static_cast<std::uint8_t>(data), -kMax));
        }
    }
    EXPECT_EQ(longest, 107u) << "code 11 with seven bits";
}

std::string Start(std::int64_t timer) {
    return ViewTWI(1, 0, timer);
}

TEST_F(Decoder, GapIsTruncatedTowardZero) {
    div = 10'000.0; // a 10 MHz counter
    ViewTWI(2, 0, 20'000);
    EXPECT_EQ(Start(119'999), "START (valid) [Gap from last Stop = 9mS]");
    EXPECT_EQ(Start(29'900), "START (valid) [Gap from last Stop = 0mS]");
    EXPECT_EQ(Start(20'000), "START (valid) [Gap from last Stop = 0mS]");
    // A start stamped before its stop (possible only across captures) is truncated up to -1.
    EXPECT_EQ(Start(3'000), "START (valid) [Gap from last Stop = -1mS]");
}

TEST_F(Decoder, OnlyStopTypeCodesMoveTheStopTime) {
    const std::set<int> stopTypes = {2, 5, 11, 12, 16};
    for (int code = 0; code < 256; ++code) {
        ResetDecoder();
        ViewTWI(2, 0, 1'000);
        ViewTWI(static_cast<std::uint8_t>(code), 0x5A, 5'000);
        const std::string gap = stopTypes.count(code) ? "4" : "8";
        EXPECT_EQ(Start(9'000), "START (valid) [Gap from last Stop = " + gap + "mS]")
            << "code " << code;
    }
}

TEST_F(Decoder, StartsUpToTheNextStopMeasureFromTheSameStopUntilReset) {
    ViewTWI(2, 0, 10'000);
    EXPECT_EQ(Start(15'000), "START (valid) [Gap from last Stop = 5mS]");
    ViewTWI(7, 0xA0, 16'000);
    EXPECT_EQ(Start(40'000), "START (valid) [Gap from last Stop = 30mS]");
    ResetDecoder(); // a new capture: its stamps restart from zero
    EXPECT_EQ(Start(1'000), "START (valid)");
    ViewTWI(2, 0, 0);
    EXPECT_EQ(Start(50'000), "START (valid)") << "a stop time of 0 means none was seen";
}

TEST_F(Decoder, GapOutsideTheSigned32BitRangeIsClamped) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    div = 1.0;
    ViewTWI(2, 0, 1);
    EXPECT_EQ(Start(std::int64_t{1} + 2'147'483'647),
              "START (valid) [Gap from last Stop = 2147483647mS]");
    EXPECT_EQ(Start(std::int64_t{1} + 2'147'483'648),
              "START (valid) [Gap from last Stop = 2147483647mS]");
    EXPECT_EQ(Start(std::int64_t{1} - 2'147'483'648),
              "START (valid) [Gap from last Stop = -2147483648mS]");
    EXPECT_EQ(Start(std::int64_t{1} - 2'147'483'649),
              "START (valid) [Gap from last Stop = -2147483648mS]");
    EXPECT_EQ(Start(kMax), "START (valid) [Gap from last Stop = 2147483647mS]");
    // Differences that overflow 64 bits saturate before the clamp instead of wrapping.
    ViewTWI(2, 0, kMax);
    EXPECT_EQ(Start(kMin), "START (valid) [Gap from last Stop = -2147483648mS]");
    ViewTWI(2, 0, kMin);
    EXPECT_EQ(Start(kMax), "START (valid) [Gap from last Stop = 2147483647mS]");
}

} // namespace
} // namespace Wirelog
