#include "Framing.h"
#include "EventBuffer.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace Wirelog {
namespace {

using Record = std::tuple<int, int, std::int64_t>; // cmd, data, timer

std::vector<Record> Stored() {
    std::vector<Record> records;
    for (std::uint32_t i = 0; i < myevtHead.load(); ++i)
        records.emplace_back(MyEvents[i].cmd, MyEvents[i].data, MyEvents[i].timer);
    return records;
}

class Framing : public testing::Test {
protected:
    void SetUp() override { ResetEventBuffer(); }

    std::size_t Frame(std::vector<std::uint8_t> bytes, std::int64_t timer) {
        return FrameBatch(bytes.data(), bytes.size(), timer, pending);
    }

    PendingCode pending;
};

TEST_F(Framing, OneReadGivesRecordsWithOneStamp) {
    EXPECT_EQ(Frame({0x01, 0x07, 0xA0, 0x02, 0x30}, 77), 0u);
    EXPECT_EQ(Stored(),
              (std::vector<Record>{{1, 0, 77}, {7, 0xA0, 77}, {2, 0, 77}, {17, 0x30, 77}}));
    EXPECT_FALSE(pending.extra);
}

TEST_F(Framing, ValueBytesAreNeverTakenForCodes) {
    Frame({0x07, 0x05, 0x07, 0xFF, 0x09, 0x07, 0x10, 0x10, 0x0B, 0x00, 0x0A, 0x01}, 1);
    EXPECT_EQ(Stored(), (std::vector<Record>{{7, 0x05, 1},
                                             {7, 0xFF, 1},
                                             {9, 0x07, 1},
                                             {16, 0x10, 1},
                                             {11, 0x00, 1},
                                             {10, 0x01, 1}}));
}

TEST_F(Framing, EveryByteWhereACodeIsDueIsClassified) {
    for (int byte = 0; byte < 256; ++byte) {
        ResetEventBuffer();
        pending = {};
        Frame({static_cast<std::uint8_t>(byte), 0x44}, 3);
        const std::vector<Record> records = Stored();
        if (byte <= 6) {
            EXPECT_EQ(records, (std::vector<Record>{{byte, 0, 3}, {17, 0x44, 3}})) << byte;
        } else if (byte <= 16) {
            EXPECT_EQ(records, (std::vector<Record>{{byte, 0x44, 3}})) << byte;
        } else {
            EXPECT_EQ(records, (std::vector<Record>{{17, byte, 3}, {17, 0x44, 3}})) << byte;
        }
    }
}

TEST_F(Framing, CodeEndingAReadWaitsForTheNextReadAndTakesItsStamp) {
    Frame({0x01, 0x09}, 100);
    Frame({}, 150); // a read that returned nothing leaves it waiting
    EXPECT_EQ(Stored(), (std::vector<Record>{{1, 0, 100}}));
    EXPECT_TRUE(pending.extra);
    Frame({0x55, 0x0E}, 200); // its value, then another code left waiting
    Frame({0x01}, 300);       // whose value looks like a code
    EXPECT_EQ(Stored(), (std::vector<Record>{{1, 0, 100}, {9, 0x55, 200}, {14, 0x01, 300}}));
    EXPECT_FALSE(pending.extra);
}

// Fills the buffer to `head` records without framing a million bytes each time.
void FillTo(std::uint32_t head) {
    ResetEventBuffer();
    for (std::uint32_t i = 0; i < head; ++i)
        AppendEvent(5, 0, i);
}

TEST_F(Framing, CaptureStoresTheFirst999999EventsAndDropsTheRest) {
    MyEvents[kEventCapacity] = TWIevent{0xEE, 0xEE, -1};
    // 1,000,000 events in reads of the reader's largest size; the 999,999th event is split
    // over the last read boundary, so the pending code completes the buffer.
    std::vector<std::uint8_t> stream(1'000'002, 0x02);
    stream[999'998] = 0x09;
    stream[999'999] = 0x31;
    stream[1'000'000] = 0x09;
    stream[1'000'001] = 0x32;
    const std::size_t split = 999'999;
    std::size_t dropped = 0;
    for (std::size_t at = 0; at < split; at += 32'764) {
        const std::size_t count = std::min<std::size_t>(32'764, split - at);
        dropped += FrameBatch(stream.data() + at, count, static_cast<std::int64_t>(at), pending);
    }
    EXPECT_TRUE(pending.extra);
    dropped += FrameBatch(stream.data() + split, stream.size() - split, 2'000'000, pending);
    EXPECT_EQ(myevtHead.load(), kEventCapacity);
    EXPECT_EQ(MyEvents[999'997].cmd, 2);
    EXPECT_EQ(MyEvents[999'998].cmd, 9);
    EXPECT_EQ(MyEvents[999'998].data, 0x31);
    EXPECT_EQ(MyEvents[999'998].timer, 2'000'000);
    EXPECT_EQ(dropped, 2u) << "the 1,000,000th event's two bytes";
    EXPECT_EQ(MyEvents[kEventCapacity].cmd, 0xEE) << "the last slot is never written";

    // A full buffer swallows everything, pending code bytes included, without a record.
    EXPECT_EQ(Frame({0x01, 0x07, 0xA0, 0x09}, 999), 4u);
    EXPECT_FALSE(pending.extra);
    EXPECT_EQ(myevtHead.load(), kEventCapacity);

    ResetEventBuffer();
    Frame({0x06}, 5);
    EXPECT_EQ(myevtHead.load(), 1u);
    EXPECT_EQ(MyEvents[0].cmd, 6);
    EXPECT_EQ(MyEvents[0].timer, 5);
}

TEST_F(Framing, BufferFillingMidReadSkipsTheRestAndAWaitingCodeFillsTheLastSlot) {
    FillTo(kEventCapacity - 1);
    EXPECT_EQ(Frame({0x07, 0xA0, 0x01, 0x09}, 9), 2u);
    EXPECT_EQ(MyEvents[kEventCapacity - 1].cmd, 7);
    EXPECT_FALSE(pending.extra) << "a code byte skipped by the full buffer never waits";

    FillTo(kEventCapacity - 1);
    Frame({0x0A}, 1);
    EXPECT_EQ(Frame({0x77, 0x02}, 2), 1u);
    EXPECT_EQ(myevtHead.load(), kEventCapacity);
    EXPECT_EQ(MyEvents[kEventCapacity - 1].data, 0x77);
}

} // namespace
} // namespace Wirelog
