// The byte schedules that pace the simulated module's streams, linked directly.
#include "ByteSchedule.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace Wirelog::d2xx {
namespace {

struct Timed {
    std::uint8_t byte;
    std::int64_t dueNs;
};

std::vector<Timed> Take(ByteSchedule& schedule, std::size_t count) {
    std::vector<Timed> out;
    for (Timed next{}; out.size() < count && schedule.Next(next.byte, next.dueNs);)
        out.push_back(next);
    return out;
}

TEST(ByteSchedule, DemoShowsEveryCodeAtBusPaceAndPacingSpacesItEvenly) {
    DemoTraffic demo;
    const auto bytes = Take(demo, 100000);
    ASSERT_EQ(bytes.size(), 100000u);
    std::set<int> codes;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        ASSERT_GE(bytes[i + 1].dueNs, bytes[i].dueNs) << "due times went back at byte " << i;
        const int code = bytes[i].byte;
        ASSERT_LE(code, 16) << "a byte beyond the codes where a code was due, at " << i;
        codes.insert(code);
        i += code >= 7 && code <= 16; // the value byte
    }
    for (int code = 1; code <= 16; ++code)
        EXPECT_TRUE(codes.count(code)) << "code " << code << " never appears";
    EXPECT_GT(bytes.back().dueNs, std::int64_t{10} * 1'000'000'000) << "not at bus pace";

    PacedSchedule paced(std::make_unique<DemoTraffic>(), 3);
    const auto evenly = Take(paced, 30001);
    ASSERT_EQ(evenly.size(), 30001u);
    for (std::size_t i = 0; i < 9; ++i)
        EXPECT_EQ(evenly[i].dueNs, static_cast<std::int64_t>(i) * 1'000'000'000 / 3) << i;
    EXPECT_EQ(evenly.back().dueNs, std::int64_t{10000} * 1'000'000'000) << "drifted";
    EXPECT_EQ(evenly[3].byte, bytes[3].byte) << "pacing changed the content";
}

} // namespace
} // namespace Wirelog::d2xx
