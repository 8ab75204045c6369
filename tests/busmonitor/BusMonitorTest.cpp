// SPDX-License-Identifier: MIT
// The monitor's rules on hand-built level sequences, one group per rule.
#include "busmonitor/BusMonitor.h"
#include "events/EventCodes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Wirelog {
namespace {

using namespace std::string_literals;

// Builds SCL/SDA level changes from a script, at 1 MHz (1 sample = 1 us); each step of a word
// moves `step` samples on. The capture starts with both lines high at sample 0.
//   I, w<n>  no change for 100 (the default idle time) or n samples
//   S, P     START, STOP (SCL pulled low first where the condition needs SDA to move)
//   XX       a byte, eight clocks MSB first, ending with SCL low; a, n: the ninth clock
//   b<bits>  those bits, one clock each
//   c<0|1>, d<0|1>   SCL, SDA alone; =<scl><sda> both in one sample
//   ~<word>  the word's first step comes 1 sample after the previous one
struct Bus {
    explicit Bus(std::string_view script, std::uint64_t step = 1) : step(step) {
        std::istringstream words{std::string(script)};
        for (std::string word; words >> word; marks.push_back(changes.back().sample))
            Word(word);
    }

    std::vector<BusLevels> changes{{0, true, true}};
    std::vector<std::uint64_t> marks; // the last change of each word
    std::uint64_t now = 0, step, next = step;

    void Set(bool scl, bool sda) {
        now += std::exchange(next, step);
        if (scl != changes.back().scl || sda != changes.back().sda)
            changes.push_back({now, scl, sda});
    }
    void Clock(bool bit) {
        if (changes.back().scl)
            Set(false, changes.back().sda);
        Set(false, bit);
        Set(true, bit);
        Set(false, bit);
    }
    void Condition(bool sdaBefore) {
        const BusLevels at = changes.back();
        if (at.scl && at.sda != sdaBefore)
            Set(false, at.sda);
        Set(changes.back().scl, sdaBefore);
        Set(true, sdaBefore);
        Set(true, !sdaBefore);
    }
    void Word(std::string w) {
        if (w[0] == '~') {
            next = 1;
            w.erase(0, 1);
        }
        const char* rest = w.c_str() + 1;
        if (w == "I" || w[0] == 'w')
            now += w == "I" ? 100 : std::stoul(rest);
        else if (w == "S" || w == "P")
            Condition(w == "S");
        else if (w == "a" || w == "n")
            Clock(w == "n");
        else if (w[0] == 'b')
            for (const char* bit = rest; *bit != '\0'; ++bit)
                Clock(*bit == '1');
        else if (w[0] == 'c' || w[0] == 'd')
            Set(w[0] == 'c' ? *rest == '1' : changes.back().scl,
                w[0] == 'd' ? *rest == '1' : changes.back().sda);
        else if (w[0] == '=')
            Set(w[1] == '1', w[2] == '1');
        else
            for (int i = 7; i >= 0; --i)
                Clock((std::stoul(w, nullptr, 16) >> i) & 1);
    }
};

struct Result {
    std::string events; // "0 5 1 7:A0 ...": codes, with value bytes where a code takes one
    std::vector<std::uint64_t> stamps;
    bool operator==(const Result&) const = default;
};

Result Collect(const std::vector<MonitorEvent>& events) {
    Result result;
    for (const MonitorEvent& e : events) {
        char text[16];
        std::snprintf(text, sizeof text, TakesValueByte(e.code) ? " %u:%02X" : " %u", e.code,
                      e.value);
        result.events += text;
        result.stamps.push_back(e.sample);
    }
    result.events.erase(0, 1);
    return result;
}

// Classifies the bus in one block, again one change at a time, and once more letting time
// alone decide at every sample in between, as a live stream does; none of it may matter.
Result Monitor(const Bus& bus, BusMonitorOptions options = {}) {
    constexpr std::uint64_t kRate = 1'000'000;
    const std::uint64_t end = bus.now + 1;
    std::vector<MonitorEvent> whole;
    BusMonitor once(kRate, options);
    once.Feed(bus.changes, whole);
    once.Finish(end, whole);

    std::vector<MonitorEvent> pieces;
    BusMonitor stepwise(kRate, options);
    for (const BusLevels& change : bus.changes)
        stepwise.Feed(std::span(&change, 1), pieces);
    stepwise.Finish(end, pieces);

    std::vector<MonitorEvent> live;
    BusMonitor advancing(kRate, options);
    for (std::size_t i = 0; i < bus.changes.size(); ++i) {
        advancing.Feed(std::span(&bus.changes[i], 1), live);
        const std::uint64_t next = i + 1 < bus.changes.size() ? bus.changes[i + 1].sample : end;
        for (std::uint64_t sample = bus.changes[i].sample + 1; sample <= next; ++sample)
            advancing.Advance(sample, live);
    }
    advancing.Finish(end, live);

    const Result result = Collect(whole);
    EXPECT_EQ(result, Collect(pieces)) << "block boundaries changed the result";
    EXPECT_EQ(result, Collect(live)) << "advancing the time changed the result";
    return result;
}

// Each case is a script and the events it must give.
void ExpectEvents(const std::vector<std::pair<std::string, std::string>>& cases,
                  BusMonitorOptions options = {}) {
    for (const auto& [script, events] : cases)
        EXPECT_EQ(Monitor(Bus(script), options).events, events) << "script: " << script;
}

// Nothing counts before the bus has been idle (both lines high) for the idle time; then only a
// START or STOP does, and a clock pulse before it is reported once. (A busy bus at the start
// waiting for its STOP: SigrokAgreement's idle-start differences.)
TEST(BusMonitor, WaitsForAnIdleBusThenForAStartOrStopThenCountsBits) {
    ExpectEvents({
        {"w98", "0"}, // 99 samples high: not yet idle
        {"w99", "0 5"},
        {"c0 I c1 w50 S A0 a P", "0 5"}, // SCL low is no idle time
        {"d0 I d1 I S A0 a P", "0 5 1 7:A0 2"},
        {"d0 c0 =11 S A0 a P", "0 5 1 7:A0 2"}, // a STOP with SCL's rise in its sample
        {"I c0", "0 5 3"},
        {"I c0 c1 c0 d0 c1 c0 b1011 A0 a", "0 5 3"}, // ignored until START or STOP
        {"I c0 c1 S A0 a P", "0 5 3 1 7:A0 2"},
        {"I c0 d0 c1 d1 S 40 n P", "0 5 3 5 1 8:40 2"},
        // A bit counts at the fall after its rise: a ninth rise alone decides nothing.
        {"I S A0 c1", "0 5 1"},
        // Data after an address NAK (after a data NAK, same-sample edges and plain bytes:
        // SigrokAgreement).
        {"I S A0 n 12 a 34 n P", "0 5 1 8:A0 4 4 2"},
    });
    ExpectEvents({{"I", "0"}, {"I I", "0 5"}}, {.idleMicroseconds = 200});
}

// A STOP or START after none, one, seven or all eight bits of the address byte and of a data
// byte (bits of 0xB5). A START is followed by an address byte whatever came before it.
TEST(BusMonitor, StopAndStartInsideAByteByBitCount) {
    const struct {
        int bits;
        const char *addrStop, *dataStop, *addrStart, *dataStart;
    } rows[] = {
        {0, "2", "2", "6", "6"},
        {1, "11:02", "11:02", "13:02", "13:02"},
        {7, "11:0E", "11:0E", "13:0E", "13:0E"},
        {8, "12:B5", "16:B5", "14:B5", "15:B5"},
    };
    for (const auto& row : rows) {
        const std::string bits = " b" + std::string("10110101").substr(0, row.bits);
        ExpectEvents({
            {"I S" + bits + " P", "0 5 1 "s + row.addrStop},
            {"I S A0 a" + bits + " P", "0 5 1 7:A0 "s + row.dataStop},
            {"I S" + bits + " S 40 a P", "0 5 1 "s + row.addrStart + " 7:40 2"},
            {"I S A0 a" + bits + " S 40 a P", "0 5 1 7:A0 "s + row.dataStart + " 7:40 2"},
        });
    }
}

TEST(BusMonitor, EventsAreStampedWithTheirDecidingEdge) {
    const Bus bus("I S A0 a 10 n b11 S c0 P");
    const Result result = Monitor(bus);
    ASSERT_EQ(result.events, "0 5 1 7:A0 10:10 13:04 2");
    // marks: I S A0 a 10 n b11 S c0 P; the idle stamp is 100 samples after sample 0.
    const std::vector<std::uint64_t> expected = {
        0, 100, bus.marks[1], bus.marks[3], bus.marks[5], bus.marks[7], bus.marks[9]};
    EXPECT_EQ(result.stamps, expected);
    // Idle is stamped where the idle time was reached, counted from the last change.
    const Bus late("c0 w10 c1 I I");
    EXPECT_EQ(Monitor(late).stamps, (std::vector<std::uint64_t>{0, late.marks[2] + 100}));
}

TEST(BusMonitor, GlitchFilterDropsShortLevels) {
    // Levels last 4 samples; '~' makes a 1-sample glitch. The filter wants 2 samples at 1 MHz.
    const BusMonitorOptions filter{.glitchNanoseconds = 2000};
    const struct {
        const char *script, *unfiltered, *filtered;
    } rows[] = {
        {"I S A0 a c1 ~c0 P", "0 5 1 7:A0 11:02", "0 5 1 7:A0 2"},
        {"I S A0 a c1 d1 ~d0 c0 P", "0 5 1 7:A0 2 1 2", "0 5 1 7:A0 11:02"},
        {"I S A0 a c1 w1 ~c0 P", "0 5 1 7:A0 11:02", "0 5 1 7:A0 11:02"}, // 2 samples count
        {"I S A0 a =11 ~=00 P", "0 5 1 7:A0 2 3 5", "0 5 1 7:A0 2"},
    };
    for (const auto& row : rows) {
        const Bus bus(row.script, 4);
        EXPECT_EQ(Monitor(bus).events, row.unfiltered) << row.script;
        EXPECT_EQ(Monitor(bus, filter).events, row.filtered) << row.script;
    }
    // A clean bus keeps its events and their exact stamps; a level standing at the end counts.
    const Bus clean("I S A0 a 10 n b101 P", 4);
    EXPECT_EQ(Monitor(clean, filter), Monitor(clean));
    // Live, the filtered STOP comes once it has held long enough, not at the next change.
    BusMonitor live(1'000'000, filter);
    std::vector<MonitorEvent> events;
    live.Feed(clean.changes, events);
    const std::size_t all = Monitor(clean).stamps.size();
    live.Advance(clean.now + 1, events);
    EXPECT_EQ(events.size(), all - 1);
    live.Advance(clean.now + 2, events);
    EXPECT_EQ(Collect(events), Monitor(clean));
}

TEST(BusMonitor, SamplesCoveringRoundsUpWithoutOverflow) {
    EXPECT_EQ(SamplesCovering(50, 1'000'000'000, 8'000'000), 1u);
    EXPECT_EQ(SamplesCovering(3'000'000'000, 1'000'000, 10'000'000'000), 30'000'000'000'000u);
    EXPECT_EQ(SamplesCovering(~0ull, 1'000'000, 10'000'000), ~0ull);
}

} // namespace
} // namespace Wirelog
