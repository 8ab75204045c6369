// SPDX-License-Identifier: MIT
// Capture cycles through the real adapter library and its simulated modules: reads, framing
// and refresh requests, reader messages, stop and abort, and the commands the module gets.
#include "capture/CaptureControl.h"
#include "CaptureHarness.h"
#include "SimControl.h"
#include "adapter/AdapterLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace Wirelog {
namespace {

using test::AdapterCall;
using Fn = AdapterFunction;
using Event = std::tuple<int, int>; // cmd, data

class CaptureControlTest : public ::testing::Test {
protected:
    void Make(const std::string& config = "hw:off;dev:stream=idle") {
        sim.Configure(config);
        // Every reading of the clock is one tick later: each read has a stamp of its own.
        capture = std::make_unique<CaptureControl>(adapter, owner.Callbacks(),
                                                   [this] { return ++ticks; });
        modules = capture->Load().entries;
        ASSERT_EQ(modules.size(), 1u);
    }
    // Starts on the module and drains its code 0.
    void Start() {
        ASSERT_TRUE(capture->StartCapture(modules[0], [this] { owner.drained.clear(); }));
        ASSERT_TRUE(owner.DrainUntil([&] { return !owner.drained.empty(); }));
        ASSERT_EQ(Events(0), (std::vector<Event>{{0, 0}}));
    }
    // The module sends bytes; waits until the reader has read and framed them all.
    bool Send(const std::vector<std::uint8_t>& bytes) {
        const std::uint64_t target = adapter.BytesRead() + bytes.size();
        return sim.Inject(0, bytes) && owner.DrainUntil([&] {
            return adapter.BytesRead() >= target && adapter.LastCallAskedTheQueue();
        });
    }
    std::vector<Event> Events(std::size_t from) const {
        std::vector<Event> events;
        for (std::size_t i = from; i < owner.drained.size(); ++i)
            events.emplace_back(owner.drained[i].cmd, owner.drained[i].data);
        return events;
    }
    void WaitForReadersToEnd() {
        ASSERT_TRUE(owner.DrainUntil([&] {
            capture->StopThread(); // joins the readers that have ended
            return capture->LiveReaderThreads() == 0;
        }));
    }
    template <class Match>
    static const AdapterCall* Find(const std::vector<AdapterCall>& calls, Match match) {
        const auto found = std::find_if(calls.begin(), calls.end(), match);
        return found == calls.end() ? nullptr : &*found;
    }

    test::SimControl sim;
    AdapterLibrary library{test::kAdapterLibraryPath};
    test::RecordingAdapter adapter{library};
    test::Owner owner;
    std::atomic<std::int64_t> ticks{0};
    std::vector<std::string> modules;
    std::unique_ptr<CaptureControl> capture; // last: ends before what it uses
};

TEST_F(CaptureControlTest, ACaptureStoresExactEventsStampedPerReadBetweenItsCommands) {
    Make();
    Start();
    // 0x05 and 0xFF after code 7 are values, not codes; 0x30 where a code is due is code 17;
    // the code 10 ending the read takes its value from the next successful read.
    ASSERT_TRUE(Send({0x01, 0x07, 0xA0, 0x02, 0x30, 0x07, 0x05, 0x07, 0xFF, 0x0A}));
    sim.SetFaults(0, "read=zero");
    const std::uint64_t refreshes = owner.Refreshes();
    ASSERT_TRUE(sim.Inject(0, {0x44, 0x02}));
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.Refreshes() >= refreshes + 3; }))
        << "each zero-byte read still requests a refresh";
    sim.SetFaults(0, "");
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() == 9; }));
    EXPECT_EQ(Events(1),
              (std::vector<Event>{
                  {1, 0}, {7, 0xA0}, {2, 0}, {17, 0x30}, {7, 5}, {7, 0xFF}, {10, 0x44}, {2, 0}}));
    const auto& events = owner.drained;
    EXPECT_LT(events[0].timer, events[1].timer);
    EXPECT_LT(events[6].timer, events[7].timer);
    for (std::size_t i : {2, 3, 4, 5, 6})
        EXPECT_EQ(events[i].timer, events[1].timer) << "one read, one time stamp";
    EXPECT_EQ(events[8].timer, events[7].timer) << "the waiting code takes its value's stamp";

    capture->StopCapture();
    EXPECT_FALSE(capture->IsPortOpen());
    EXPECT_EQ(capture->LiveReaderThreads(), 0u);
    const WirelogSimStats stats = sim.Stats(0);
    EXPECT_EQ(stats.start_commands, 1u);
    EXPECT_EQ(stats.stop_commands, 1u);
    EXPECT_EQ(stats.bytes_written, 4u);
    EXPECT_EQ(stats.closes, 1u);
}

// Open, latency 2 ms, arrivals signalled on the reader's event, then the two command bytes; a
// failed open is followed by nothing.
TEST_F(CaptureControlTest, TheStartSequenceSetsLatencyAndNotificationBeforeTheCommand) {
    Make("hw:off;dev:stream=idle,open=fail");
    EXPECT_FALSE(capture->StartCapture(modules[0], [] {}));
    ASSERT_EQ(adapter.CallCount(), 1u);
    EXPECT_EQ(adapter.Calls()[0].function, Fn::Open);
    sim.SetFaults(0, "");
    Start();
    std::vector<std::tuple<Fn, DWORD, const void*>> sequence;
    for (const AdapterCall& call : adapter.Calls(1))
        if (call.function != Fn::GetQueueStatus && call.function != Fn::Read)
            sequence.emplace_back(call.function, call.argument, call.object);
    EXPECT_EQ(sequence, (std::vector<std::tuple<Fn, DWORD, const void*>>{
                            {Fn::Open, 0, nullptr},
                            {Fn::SetLatencyTimer, 2, nullptr},
                            {Fn::SetEventNotification, FT_EVENT_RXCHAR, hEvent->Param()},
                            {Fn::Write, 2, nullptr}}));
}

// A failing queue status, at the loop's top or right after a read, is nothing queued: no read
// is made on its count, and the bytes come once it answers again. Short reads lose nothing.
TEST_F(CaptureControlTest, FailedQueueStatusAndShortReadsLoseNoByte) {
    Make();
    Start();
    adapter.statusFault = test::RecordingAdapter::kStatusFails;
    const std::size_t from = adapter.CallCount();
    ASSERT_TRUE(sim.Inject(0, {0x01, 0x02}));
    ASSERT_TRUE(owner.DrainUntil([&] {
        const auto calls = adapter.Calls(from);
        return std::count_if(calls.begin(), calls.end(), [](const AdapterCall& c) {
                   return c.function == Fn::GetQueueStatus && c.status != FT_OK;
               }) >= 3;
    }));
    EXPECT_EQ(
        Find(adapter.Calls(from), [](const AdapterCall& c) { return c.function == Fn::Read; }),
        nullptr);
    sim.SetFaults(0, "read=half");
    adapter.statusFault = test::RecordingAdapter::kStatusFailsAfterRead;
    ASSERT_TRUE(sim.Inject(0, {0x07, 0xA0, 0x09, 0x10, 0x02}));
    const auto shortRead = [](const AdapterCall& c) {
        return c.function == Fn::Read && c.result == c.argument / 2 && c.result > 0;
    };
    // Half of one byte is none: the last byte comes once reads are whole again.
    ASSERT_TRUE(owner.DrainUntil([&] { return Find(adapter.Calls(from), shortRead) != nullptr; }));
    sim.SetFaults(0, "");
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() >= 6; }));
    EXPECT_EQ(Events(1), (std::vector<Event>{{1, 0}, {2, 0}, {7, 0xA0}, {9, 0x10}, {2, 0}}));
    EXPECT_EQ(Find(adapter.Calls(from),
                   [](const AdapterCall& c) {
                       return c.function == Fn::Read &&
                              c.argument == test::RecordingAdapter::kBogusCount;
                   }),
              nullptr);
}

TEST_F(CaptureControlTest, LargeQueuesAreReadInRequestsOfAtMost32764WithoutPausing) {
    Make();
    Start();
    const std::pair<DWORD, std::vector<DWORD>> cases[] = {
        {40'000, {32'764, 7'236}}, {32'767, {32'767}}, {32'768, {32'764, 4}}};
    for (const auto& [queued, requests] : cases) {
        const std::size_t first = adapter.CallCount();
        ASSERT_TRUE(Send(std::vector<std::uint8_t>(queued, 0x03)));
        // Read, ask the queue, read again: no idle poll in between.
        const auto calls = adapter.Calls(first);
        const AdapterCall* read =
            Find(calls, [](const AdapterCall& c) { return c.function == Fn::Read; });
        ASSERT_TRUE(read && read + 2 * requests.size() <= &calls.back() + 1);
        for (DWORD request : requests) {
            EXPECT_EQ(read->function, Fn::Read);
            EXPECT_EQ(read->argument, request) << queued;
            EXPECT_EQ(read->result, request) << queued;
            EXPECT_EQ((++read)->function, Fn::GetQueueStatus);
            ++read;
        }
    }
    EXPECT_EQ(owner.drained.size(), 1u + 40'000 + 32'767 + 32'768);
}

TEST_F(CaptureControlTest, AFailedReadIsShownAgainAfterEveryCloseThenRetriedWithTheSameCount) {
    Make();
    Start();
    for (const std::string expected : {"RError!", "Exception during Read"}) {
        const bool throws = expected != "RError!";
        sim.SetFaults(0, throws ? "" : "read=fail");
        adapter.throwOnRead = throws;
        const std::uint64_t refreshes = owner.Refreshes();
        const std::size_t events = owner.drained.size();
        ASSERT_TRUE(sim.Inject(0, {0x01, 0x02}));
        for (int shown = 0; shown < 3; ++shown) {
            auto message = owner.WaitMessage();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->text, expected);
            EXPECT_EQ(owner.PendingMessages(), 0u) << "the reader waits while its box is open";
            if (shown == 2) {
                sim.SetFaults(0, "");
                adapter.throwOnRead = false;
            }
            message->closed();
        }
        ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() == events + 2; }));
        EXPECT_EQ(owner.Refreshes(), refreshes + 1) << "failed reads request no refresh";
    }
    const auto calls = adapter.Calls();
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                            [](const AdapterCall& c) {
                                return c.function == Fn::Read && c.status != FT_OK &&
                                       c.argument == 2;
                            }),
              6);
}

TEST_F(CaptureControlTest, AReaderHeldByAMessageIsAbortedForGoodAndTheModuleStillGetsClosed) {
    Make();
    Start();
    EXPECT_TRUE(capture->StopThread()); // the window's disposal: the reader closes the module
    EXPECT_FALSE(capture->IsPortOpen());
    EXPECT_EQ(sim.Stats(0).closes, 1u);
    EXPECT_NE(adapter.Calls().back().thread, std::this_thread::get_id()) << "closed by the reader";

    for (const bool userStops : {true, false}) {
        SCOPED_TRACE(userStops ? "STOP" : "disposal");
        Start();
        sim.SetFaults(0, "read=fail");
        ASSERT_TRUE(sim.Inject(0, {0x01}));
        auto message = owner.WaitMessage();
        ASSERT_TRUE(message);
        sim.SetFaults(0, "");
        const std::size_t callsBefore = adapter.CallCount();
        const std::uint64_t refreshes = owner.Refreshes();
        if (userStops)
            capture->StopCapture(); // closes the module at once
        else
            EXPECT_FALSE(capture->StopThread()) << "aborted while its box is open";
        message->closed(); // the user closes the box late: nothing happens
        WaitForReadersToEnd();
        for (const AdapterCall& call : adapter.Calls(callsBefore))
            EXPECT_EQ(call.thread, std::this_thread::get_id()) << "a call by the aborted reader";
        EXPECT_EQ(myevtHead.load(), 1u);
        EXPECT_EQ(owner.Refreshes(), refreshes);
        EXPECT_EQ(owner.PendingMessages(), 0u);
        EXPECT_EQ(capture->IsPortOpen(), !userStops);
    }
    EXPECT_EQ(sim.Stats(0).stop_commands, 1u);
    capture.reset(); // joins every reader, then closes what the aborted one left open
    EXPECT_EQ(sim.Stats(0).open, 0u);
}

TEST_F(CaptureControlTest, ClosingTheModuleMidReadNeverUsesTheClosedHandle) {
    Make("hw:off;dev:rate=400000");
    for (std::uint32_t round = 1; round <= 30; ++round) {
        ASSERT_TRUE(capture->StartCapture(modules[0], {}));
        ASSERT_TRUE(owner.DrainUntil([&] { return sim.Stats(0).bytes_read > 2000; }));
        const std::size_t first = adapter.CallCount();
        capture->ClosePort(); // what SCAN and a new selection do
        EXPECT_TRUE(capture->StopThread());
        const auto calls = adapter.Calls(first);
        const AdapterCall* close =
            Find(calls, [](const AdapterCall& c) { return c.function == Fn::Close; });
        ASSERT_TRUE(close);
        for (const AdapterCall* later = close + 1; later <= &calls.back(); ++later)
            EXPECT_NE(later->handle, close->handle) << "a call on a closed handle";
        EXPECT_EQ(sim.Stats(0).closes, round);
    }
    EXPECT_EQ(sim.Stats(0).stop_commands, 0u);
}

TEST_F(CaptureControlTest, ManyStartStopCyclesShowEveryEventOnce) {
    Make("hw:off;dev:rate=200000");
    for (int cycle = 0; cycle < 500; ++cycle) {
        SCOPED_TRACE(cycle);
        adapter.ResetStream();
        ASSERT_TRUE(capture->StartCapture(modules[0], [this] { owner.drained.clear(); }));
        const std::size_t wanted = 1 + static_cast<std::size_t>(cycle % 7) * 40;
        ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() >= wanted; }));
        capture->StopCapture();
        owner.Drain(); // the refreshes still queued after STOP

        const WirelogSimStats stats = sim.Stats(0);
        ASSERT_EQ(stats.bytes_read, stats.bytes_emitted);
        ASSERT_EQ(owner.drained.size(), adapter.CompleteEventsRead());
        // Only an event whose value byte the stop command cut off is not shown.
        ASSERT_LE(stats.events_emitted - owner.drained.size(), 1u);
        for (std::size_t i = 1; i < owner.drained.size(); ++i)
            ASSERT_LE(owner.drained[i - 1].timer, owner.drained[i].timer);
    }
    EXPECT_EQ(sim.Stats(0).start_commands, 500u);
}

} // namespace
} // namespace Wirelog
