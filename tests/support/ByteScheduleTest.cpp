#include "ByteSchedule.h"

#include <gtest/gtest.h>

#include <set>

using namespace Wirelog::Adapter;

namespace {

struct Timed {
    std::uint8_t byte;
    std::int64_t dueNs;
};

std::vector<Timed> Take(ByteSchedule& schedule, std::size_t count) {
    std::vector<Timed> out;
    Timed next{};
    while (out.size() < count && schedule.Next(next.byte, next.dueNs)) {
        out.push_back(next);
    }
    return out;
}

TEST(DemoTraffic, PacesLikeABusWithIdleGapsBetweenTransactions) {
    DemoTraffic demo;
    const auto bytes = Take(demo, 100000);
    ASSERT_EQ(bytes.size(), 100000u);
    std::int64_t previous = 0;
    std::int64_t lastStop = -1;
    std::int64_t longestGap = 0;
    std::int64_t shortestGap = INT64_MAX;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ASSERT_GE(bytes[i].dueNs, previous) << "due times went back at byte " << i;
        previous = bytes[i].dueNs;
        const std::uint8_t code = bytes[i].byte;
        if (code == 1 && lastStop >= 0) {
            longestGap = std::max(longestGap, bytes[i].dueNs - lastStop);
            shortestGap = std::min(shortestGap, bytes[i].dueNs - lastStop);
        }
        if (code == 2 || code == 5 || code == 11 || code == 12 || code == 16) {
            lastStop = bytes[i].dueNs; // every report that leaves the bus idle
        }
        if (code >= 7 && code <= 16) {
            ++i; // the value byte
        }
    }
    // 100,000 bytes of a 100 kHz board with millisecond gaps take minutes, not a blink.
    EXPECT_GT(previous, std::int64_t{10} * 1'000'000'000);
    EXPECT_GE(shortestGap, 2'000'000);
    EXPECT_LE(longestGap, 8'000'000);
}

TEST(DemoTraffic, EepromReadsBackWhatWasWritten) {
    DemoTraffic demo;
    const auto timed = Take(demo, 400);
    std::vector<std::uint8_t> bytes;
    for (const Timed& t : timed) {
        bytes.push_back(t.byte);
    }
    // Write: 01 07 A0 09 hi 09 lo then four 09 dd; read back: ... 07 A1 then 09/0A dd.
    const std::vector<std::uint8_t> writeHead = {0x01, 0x07, 0xA0, 0x09};
    const std::vector<std::uint8_t> readAddress = {0x07, 0xA1};
    auto write = std::search(bytes.begin(), bytes.end(), writeHead.begin(), writeHead.end());
    ASSERT_NE(write, bytes.end());
    auto read = std::search(write, bytes.end(), readAddress.begin(), readAddress.end());
    ASSERT_NE(read, bytes.end());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(read[3 + 2 * i], write[8 + 2 * i]) << "data byte " << i;
    }
    EXPECT_EQ(read[8], 0x0A) << "the last byte read is NAKed";
}

TEST(PacedSchedule, SpacesBytesEvenlyAtTheRate) {
    PacedSchedule paced(std::make_unique<DemoTraffic>(), 4);
    const auto bytes = Take(paced, 9);
    ASSERT_EQ(bytes.size(), 9u);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i].dueNs, static_cast<std::int64_t>(i) * 250'000'000) << i;
    }
    DemoTraffic plain;
    EXPECT_EQ(bytes[3].byte, Take(plain, 4)[3].byte) << "pacing changed the content";
}

TEST(PacedSchedule, StaysExactFarIntoALongRun) {
    PacedSchedule paced(std::make_unique<DemoTraffic>(), 3);
    std::uint8_t byte = 0;
    std::int64_t due = 0;
    for (int i = 0; i <= 30000; ++i) {
        paced.Next(byte, due);
    }
    EXPECT_EQ(due, std::int64_t{10000} * 1'000'000'000);
}

TEST(ReplaySchedule, PlaysBatchesInOrderAtTheirStampsAndEnds) {
    auto batches = std::make_shared<std::vector<Wirelog::TimedBatch>>();
    batches->push_back({0, {0x00}});
    batches->push_back({5, {}});
    batches->push_back({1500, {0x07, 0xA0}});
    ReplaySchedule replay(batches);
    const auto bytes = Take(replay, 10);
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_EQ(bytes[0].byte, 0x00);
    EXPECT_EQ(bytes[0].dueNs, 0);
    EXPECT_EQ(bytes[1].byte, 0x07);
    EXPECT_EQ(bytes[1].dueNs, 1'500'000);
    EXPECT_EQ(bytes[2].byte, 0xA0);
    std::uint8_t byte = 0;
    std::int64_t due = 0;
    EXPECT_FALSE(replay.Next(byte, due));
}

} // namespace
