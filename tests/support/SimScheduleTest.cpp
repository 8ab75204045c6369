// SPDX-License-Identifier: MIT
// The simulated module's timing and replay at their edges: stamps too late for the clock and a
// capture that turns bad part-way.
#include "CaptureSchedule.h"
#include "SimDevice.h"
#include "TestPlatform.h"
#include "events/EventCodes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

namespace Wirelog::d2xx {
namespace {

namespace fs = std::filesystem;
using Clock = SimDevice::Clock;

TEST(SimDueTime, AStampBeyondTheClocksRangeIsNeverDue) {
    constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(SimDevice::DueTime(start, kLatest), Clock::time_point::max());
    EXPECT_EQ(SimDevice::DueTime(start, kLatest - 1), Clock::time_point::max());
    EXPECT_EQ(SimDevice::DueTime(start, 1'500), start + std::chrono::nanoseconds(1'500));
}

std::vector<std::uint8_t> Replay(const std::string& vcd) {
    const fs::path path =
        fs::temp_directory_path() / ("wirelog-sim-" + WirelogTest::ProcessId() + ".vcd");
    std::ofstream(path, std::ios::binary) << vcd;
    CaptureSource source;
    source.path = path.string();
    CaptureSchedule schedule(source);
    std::vector<std::uint8_t> bytes;
    std::uint8_t byte = 0;
    for (std::int64_t due = 0; schedule.Next(byte, due);)
        bytes.push_back(byte);
    fs::remove(path);
    return bytes;
}

// Idle, START, STOP: every event is decided by the STOP's edge at #300.
const std::string kTransaction = "$timescale 1 us $end $var wire 1 ! SCL $end "
                                 "$var wire 1 \" SDA $end $enddefinitions $end\n"
                                 "#0 1! 1\" #200 0\" #300 1\"\n";

TEST(SimReplay, EventsDecidedBeforeABadLineAreAllSent) {
    const std::vector<std::uint8_t> good = Replay(kTransaction);
    ASSERT_FALSE(good.empty());
    EXPECT_EQ(good.back(), TWI_STOP);
    for (const std::string bad : {"#100 0!\n", "#400 oops\n", "#5x\n"})
        EXPECT_EQ(Replay(kTransaction + bad), good) << bad;
}

} // namespace
} // namespace Wirelog::d2xx
