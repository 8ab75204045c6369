// SPDX-License-Identifier: MIT
// The module's byte stream into the event buffer: codes and value bytes, a code left waiting
// across reads, and the capture's fixed size.
#include "events/Framing.h"
#include "events/EventBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
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

std::size_t Frame(const Bytes& bytes, std::int64_t timer, PendingCode& pending) {
    return FrameBatch(bytes.data(), bytes.size(), timer, pending);
}

// Every byte where a code is due, alone in a read, then an empty read, then 0x05 and 0x02 each
// alone: a code that takes a value waits across both reads for it, takes the stamp of the read
// that brings it (a one-byte read: the value alone), and never takes a code for its value.
TEST(Framing, EveryByteWhereACodeIsDueIsClassifiedAndAWaitingCodeTakesTheNextReadsByte) {
    for (int byte = 0; byte < 256; ++byte) {
        SCOPED_TRACE(byte);
        ResetEventBuffer();
        PendingCode pending;
        Frame({static_cast<std::uint8_t>(byte)}, 1, pending);
        Frame({}, 2, pending);
        Frame({0x05}, 3, pending);
        Frame({0x02}, 3, pending);
        std::vector<Record> expected;
        if (byte <= 6)
            expected = {{byte, 0, 1}, {5, 0, 3}};
        else if (byte <= 16)
            expected = {{byte, 0x05, 3}};
        else
            expected = {{17, byte, 1}, {5, 0, 3}};
        expected.emplace_back(2, 0, 3);
        EXPECT_EQ(Stored(), expected);
        EXPECT_FALSE(pending.extra);
    }
}

TEST(Framing, CaptureKeepsTheFirst999999EventsAndSwallowsTheRest) {
    ResetEventBuffer();
    PendingCode pending;
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
    EXPECT_EQ(Frame({0x31, 0x09, 0x32}, 7, pending), 2u) << "the 1,000,000th event's two bytes";
    ASSERT_EQ(myevtHead.load(), kEventCapacity);
    const TWIevent& last = MyEvents[kEventCapacity - 1];
    EXPECT_EQ(Record(last.cmd, last.data, last.timer), Record(9, 0x31, 7));

    // A full buffer swallows everything, without a record.
    EXPECT_EQ(Frame({0x01, 0x07, 0xA0, 0x09}, 8, pending), 4u);
    EXPECT_EQ(MyEvents[kEventCapacity].cmd, 0xEE) << "the last slot is never written";
}

} // namespace
} // namespace Wirelog
