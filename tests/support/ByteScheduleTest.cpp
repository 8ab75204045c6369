#include "ByteSchedule.h"

#include <gtest/gtest.h>

#include <set>

using namespace Wirelog::d2xx;

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

TEST(DemoTraffic, ShowsEveryCodeAndEveryDeviceOfTheBoard) {
    DemoTraffic demo;
    const auto bytes = Take(demo, 20000);
    std::set<int> codes;
    std::set<int> addressReports; // code << 8 | 7-bit address
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        const int code = bytes[i].byte;
        ASSERT_LE(code, 16) << "a byte beyond the codes where a code was due, at " << i;
        codes.insert(code);
        if (code >= 7 && code <= 16) {
            addressReports.insert(code << 8 | bytes[i + 1].byte >> 1);
            ++i;
        }
    }
    for (int code = 1; code <= 16; ++code) {
        EXPECT_TRUE(codes.count(code)) << "code " << code << " never appears";
    }
    EXPECT_TRUE(addressReports.count(7 << 8 | 0x50)) << "no EEPROM";
    EXPECT_TRUE(addressReports.count(7 << 8 | 0x48)) << "no sensor";
    EXPECT_TRUE(addressReports.count(8 << 8 | 0x3C)) << "no NAKing device";
}

TEST(PacedSchedule, SpacesBytesEvenlyAtTheRate) {
    PacedSchedule paced(std::make_unique<DemoTraffic>(), 3);
    const auto bytes = Take(paced, 30001);
    ASSERT_EQ(bytes.size(), 30001u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(bytes[i].dueNs, static_cast<std::int64_t>(i) * 1'000'000'000 / 3) << i;
    }
    EXPECT_EQ(bytes.back().dueNs, std::int64_t{10000} * 1'000'000'000) << "drifted";
    DemoTraffic plain;
    EXPECT_EQ(bytes[3].byte, Take(plain, 4)[3].byte) << "pacing changed the content";
}

} // namespace
