// From the module's byte stream to the saved log: framing into the event buffer, draining it
// into log lines, and the log file's bytes.
#include "EventBuffer.h"
#include "Framing.h"
#include "LogDrain.h"
#include "LogFile.h"
#include "LogLines.h"
#include "ViewTWI.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace Wirelog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Record = std::tuple<int, int, std::int64_t>; // cmd, data, timer

std::vector<Record> Stored() {
    std::vector<Record> records;
    for (std::uint32_t i = 0; i < myevtHead.load(); ++i)
        records.emplace_back(MyEvents[i].cmd, MyEvents[i].data, MyEvents[i].timer);
    return records;
}

std::vector<std::string> Contents(const LogLines& lines) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i)
        out.emplace_back(lines[i]);
    return out;
}

class Stream : public testing::Test {
protected:
    void SetUp() override {
        ResetEventBuffer();
        ResetDecoder();
        div = 1000.0;
        pending = {};
    }
    std::size_t Frame(const Bytes& bytes, std::int64_t timer) {
        return FrameBatch(bytes.data(), bytes.size(), timer, pending);
    }
    // One capture, drained after every read as the window does.
    std::vector<std::string> Decode(const std::vector<Bytes>& reads) {
        SetUp();
        LogLines lines;
        for (const auto& read : reads) {
            Frame(read, 4000);
            DrainEvents(lines);
        }
        return Contents(lines);
    }

    PendingCode pending;
};

TEST_F(Stream, EveryByteWhereACodeIsDueIsClassifiedAndValuesAreNeverTakenForCodes) {
    for (int byte = 0; byte < 256; ++byte) {
        SCOPED_TRACE(byte);
        SetUp();
        Frame({static_cast<std::uint8_t>(byte), 0x05, 0x02}, byte);
        std::vector<Record> expected;
        if (byte <= 6)
            expected = {{byte, 0, byte}, {5, 0, byte}};
        else if (byte <= 16)
            expected = {{byte, 0x05, byte}};
        else
            expected = {{17, byte, byte}, {5, 0, byte}};
        expected.emplace_back(2, 0, byte);
        EXPECT_EQ(Stored(), expected);
        EXPECT_FALSE(pending.extra);
    }
}

TEST_F(Stream, CodeEndingAReadWaitsForTheNextReadAndTakesItsStamp) {
    Frame({0x01, 0x09}, 100);
    Frame({}, 150); // a read that returned nothing leaves it waiting
    EXPECT_EQ(Stored(), (std::vector<Record>{{1, 0, 100}}));
    EXPECT_TRUE(pending.extra);
    Frame({0x55, 0x0E}, 200); // its value, then another code left waiting
    Frame({0x01}, 300);       // whose value looks like a code
    EXPECT_EQ(Stored(), (std::vector<Record>{{1, 0, 100}, {9, 0x55, 200}, {14, 0x01, 300}}));
    EXPECT_FALSE(pending.extra);
}

TEST_F(Stream, SplittingTheStreamAnywhereGivesTheSameLog) {
    // Every separator code, every value-carrying code, value bytes that look like codes, and
    // out-of-range bytes where a code is due.
    const Bytes stream = {0x00, 0x05, 0x01, 0x07, 0xA0, 0x09, 0x07, 0x06, 0x07, 0xA1,
                          0x0A, 0x02, 0x02, 0x03, 0x08, 0x01, 0x04, 0x0B, 0x0E, 0x0C,
                          0xA1, 0x01, 0x0D, 0x06, 0x0E, 0x3C, 0x0F, 0x0F, 0x10, 0xFF,
                          0x11, 0x80, 0x01, 0x07, 0x10, 0x09, 0x00, 0x02};
    const auto part = [&](std::size_t from, std::size_t to) {
        return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(from),
                     stream.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const auto reference = Decode({stream});
    ASSERT_EQ(reference.size(), 33u); // 25 events, 8 of them separated
    for (std::size_t i = 0; i <= stream.size(); ++i)
        for (std::size_t j = i; j <= stream.size(); ++j)
            ASSERT_EQ(Decode({part(0, i), {}, part(i, j), part(j, stream.size())}), reference)
                << "split at " << i << " and " << j;
}

TEST_F(Stream, SeparatorPrecedesExactlyTheTransactionStartCodes) {
    const std::set<int> separated = {1, 3, 6, 13, 14, 15};
    for (int code = 0; code < 256; ++code) {
        // Twice each, so back-to-back separator codes are covered too.
        AppendEvent(static_cast<std::uint8_t>(code), 0x20, 0);
        AppendEvent(static_cast<std::uint8_t>(code), 0x20, 0);
    }
    LogLines lines;
    EXPECT_EQ(DrainEvents(lines), 512u);
    std::size_t at = 0;
    for (int code = 0; code < 256; ++code) {
        for (int twice = 0; twice < 2; ++twice) {
            ASSERT_LT(at, lines.size());
            if (separated.count(code)) {
                EXPECT_EQ(lines[at++], "") << "code " << code;
            }
            EXPECT_EQ(lines[at++], ViewTWI(static_cast<std::uint8_t>(code), 0x20, 0));
        }
    }
    EXPECT_EQ(at, lines.size());
}

TEST_F(Stream, CaptureKeepsTheFirst999999EventsThenStartsOverAfterAReset) {
    MyEvents[kEventCapacity] = TWIevent{0xEE, 0xEE, -1};
    // 999,998 events in reads of the reader's largest size, then a data code whose value comes
    // with the next read: the 999,999th event.
    Bytes stream(999'998, 0x02);
    stream.push_back(0x09);
    for (std::size_t at = 0; at < stream.size(); at += 32'764) {
        const std::size_t count = std::min<std::size_t>(32'764, stream.size() - at);
        EXPECT_EQ(FrameBatch(stream.data() + at, count, 1, pending), 0u);
    }
    ASSERT_TRUE(pending.extra);
    EXPECT_EQ(Frame({0x31, 0x09, 0x32}, 7), 2u) << "the 1,000,000th event's two bytes";
    ASSERT_EQ(myevtHead.load(), kEventCapacity);
    const TWIevent& last = MyEvents[kEventCapacity - 1];
    EXPECT_EQ(Record(last.cmd, last.data, last.timer), Record(9, 0x31, 7));
    EXPECT_EQ(MyEvents[kEventCapacity].cmd, 0xEE) << "the last slot is never written";

    // A full buffer swallows everything, without a record and without a waiting code.
    EXPECT_EQ(Frame({0x01, 0x07, 0xA0, 0x09}, 8), 4u);
    EXPECT_FALSE(pending.extra);
    EXPECT_EQ(myevtHead.load(), kEventCapacity);

    ResetEventBuffer();
    Frame({0x06}, 5);
    EXPECT_EQ(Stored(), (std::vector<Record>{{6, 0, 5}}));
}

TEST(LogStore, KeepsLinesAtEveryArenaPositionAndWritesEachWithCrLf) {
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
    EXPECT_TRUE(WriteLogFile(lines, write));
    EXPECT_EQ(bytes, "") << "an empty log is no bytes";
    add(""); // before any text block exists
    // Fill the first block to its last byte, so the next separator falls exactly at its end.
    for (int i = 0; i < 32; ++i)
        add(std::string(LogLines::kBlockBytes / 32, static_cast<char>('A' + i)));
    for (int i = 0; i < 50'000; ++i) // many of the writer's chunks
        add(i % 7 == 0 ? "" : "START (valid) " + std::to_string(i));
    EXPECT_TRUE(WriteLogFile(lines, write));
    EXPECT_TRUE(bytes == expected);
    int calls = 0;
    EXPECT_FALSE(WriteLogFile(lines, [&](std::string_view) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2) << "no chunk after the refused one";
}

} // namespace
} // namespace Wirelog
