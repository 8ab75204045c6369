// Full capture cycles through the real adapter library and its simulated modules: the reader's
// reads, framing and refresh requests, its messages, stop and abort, and the module's commands.
#include "CaptureControl.h"
#include "CaptureHarness.h"
#include "Counter.h"
#include "SimControl.h"

#include "AdapterLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

namespace Wirelog {
namespace {

using namespace std::chrono_literals;
using test::AdapterCall;

constexpr const char* kOneIdleModule = "hw:off;dev:stream=idle,serial=ONE";
constexpr const char* kModuleEntry = "0 (s/n ONE)";

bool SameEvent(const TWIevent& event, std::uint8_t cmd, std::uint8_t data) {
    return event.cmd == cmd && event.data == data;
}

class CaptureControlTest : public ::testing::Test {
protected:
    void TearDown() override { capture.reset(); }

    void Make(const std::string& config) {
        sim.Configure(config);
        capture = std::make_unique<CaptureControl>(adapter, owner.Callbacks(), [this] {
            const std::int64_t now = QueryCounter();
            clock.store(now);
            return now;
        });
        hEvent = nullptr;
        modules = capture->Load().entries;
    }

    // Starts a capture on the first module and drains the module's code 0.
    void StartOnFirstModule() {
        ASSERT_FALSE(modules.empty());
        ASSERT_TRUE(capture->StartCapture(modules[0], [this] { owner.drained.clear(); }));
        ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() >= 1; }));
        ASSERT_TRUE(SameEvent(owner.drained[0], 0, 0));
    }

    // Injects bytes and waits until they have all been read and framed: the queue is asked
    // again only after the last read's framing and refresh request.
    bool InjectAndRead(const std::vector<std::uint8_t>& bytes) {
        const std::uint64_t target = adapter.BytesRead() + bytes.size();
        return sim.Inject(0, bytes) && owner.DrainUntil([&] {
            return adapter.BytesRead() >= target &&
                   adapter.LastCall() == AdapterFunction::GetQueueStatus;
        });
    }

    std::vector<AdapterCall> CallsFrom(std::size_t first) const {
        auto calls = adapter.Calls();
        calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(first));
        return calls;
    }

    test::SimControl sim;
    std::vector<std::string> reports;
    AdapterLibrary library{test::kAdapterLibraryPath,
                           [this](const std::string& text) { reports.push_back(text); }};
    std::atomic<std::int64_t> clock{0};
    test::RecordingAdapter adapter{library, clock};
    test::Owner owner;
    std::vector<std::string> modules;
    std::unique_ptr<CaptureControl> capture;
};

TEST_F(CaptureControlTest, FullCycleStoresExactEventsAndCommandsTheModule) {
    Make(kOneIdleModule);
    ASSERT_EQ(modules, std::vector<std::string>{kModuleEntry});
    StartOnFirstModule();
    EXPECT_TRUE(capture->IsPortOpen());

    // Values 0x05 and 0xFF after code 7 are values, not codes.
    ASSERT_TRUE(InjectAndRead({0x01, 0x07, 0xA0, 0x02, 0x30, 0x07, 0x05, 0x07, 0xFF}));
    const auto& events = owner.drained;
    ASSERT_EQ(events.size(), 7u);
    EXPECT_TRUE(SameEvent(events[1], 1, 0));
    EXPECT_TRUE(SameEvent(events[2], 7, 0xA0));
    EXPECT_TRUE(SameEvent(events[3], 2, 0));
    EXPECT_TRUE(SameEvent(events[4], 17, 0x30));
    EXPECT_TRUE(SameEvent(events[5], 7, 0x05));
    EXPECT_TRUE(SameEvent(events[6], 7, 0xFF));
    for (std::size_t i = 2; i < events.size(); ++i)
        EXPECT_EQ(events[i].timer, events[1].timer) << "one read, one time stamp";
    EXPECT_GE(events[0].timer, 0);
    EXPECT_LE(events[0].timer, events[1].timer);

    capture->StopCapture();
    EXPECT_FALSE(capture->IsPortOpen());
    EXPECT_EQ(capture->LiveReaderThreads(), 0u);
    const WirelogSimStats stats = sim.Stats(0);
    EXPECT_EQ(stats.start_commands, 1u);
    EXPECT_EQ(stats.stop_commands, 1u);
    EXPECT_EQ(stats.bytes_written, 4u);
    EXPECT_EQ(stats.closes, 1u);

    // Opened with latency 2; each command is preceded by the notification registration.
    const auto calls = adapter.Calls();
    auto latency = std::find_if(calls.begin(), calls.end(), [](const AdapterCall& call) {
        return call.function == AdapterFunction::SetLatencyTimer;
    });
    ASSERT_NE(latency, calls.end());
    EXPECT_EQ(latency->argument, 2u);
    int writes = 0;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].function != AdapterFunction::Write)
            continue;
        ++writes;
        ASSERT_GT(i, 0u);
        EXPECT_EQ(calls[i - 1].function, AdapterFunction::SetEventNotification);
        EXPECT_EQ(calls[i - 1].argument, static_cast<DWORD>(FT_EVENT_RXCHAR));
        EXPECT_EQ(calls[i - 1].param, hEvent->Param());
        EXPECT_EQ(calls[i].argument, 2u);
    }
    EXPECT_EQ(writes, 2);
    EXPECT_TRUE(reports.empty());
}

TEST_F(CaptureControlTest, PendingCodeByteTakesTheTimeStampOfTheReadThatCompletesIt) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    ASSERT_TRUE(InjectAndRead({0x01}));
    ASSERT_TRUE(InjectAndRead({0x09}));
    EXPECT_EQ(owner.drained.size(), 2u) << "a code byte without its value waits";
    ASSERT_TRUE(InjectAndRead({0x55, 0x02}));
    ASSERT_EQ(owner.drained.size(), 4u);
    EXPECT_TRUE(SameEvent(owner.drained[2], 9, 0x55));
    EXPECT_TRUE(SameEvent(owner.drained[3], 2, 0));

    const auto calls = adapter.Calls();
    auto readOf = [&](std::uint8_t first) {
        return *std::find_if(calls.begin(), calls.end(), [&](const AdapterCall& call) {
            return call.function == AdapterFunction::Read && call.result > 0 &&
                   call.firstByte == first;
        });
    };
    const std::int64_t base = readOf(0x01).clockAtCall - owner.drained[1].timer;
    EXPECT_EQ(owner.drained[2].timer, readOf(0x55).clockAtCall - base);
    EXPECT_GT(owner.drained[2].timer, readOf(0x09).clockAtCall - base);
}

TEST_F(CaptureControlTest, LargeQueuesAreReadInRequestsOfAtMost32764WithoutPausing) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    ASSERT_TRUE(owner.DrainUntil([&] { return sim.Stats(0).bytes_read == 1; }));
    struct Case {
        DWORD queued;
        std::vector<DWORD> requests;
    };
    const Case cases[] = {{40'000, {32'764, 7'236}}, {32'767, {32'767}}, {32'768, {32'764, 4}}};
    std::size_t expectedEvents = 1;
    for (const Case& c : cases) {
        const std::size_t first = adapter.CallCount();
        ASSERT_TRUE(InjectAndRead(std::vector<std::uint8_t>(c.queued, 0x03)));
        expectedEvents += c.queued;

        // The queue is asked again right after the last read's refresh request.
        ASSERT_TRUE(owner.DrainUntil(
            [&] { return adapter.Calls().back().function == AdapterFunction::GetQueueStatus; }));

        // From the first read on: read, ask the queue, read again, with no idle poll between.
        std::vector<AdapterCall> calls = CallsFrom(first);
        auto read = std::find_if(calls.begin(), calls.end(), [](const AdapterCall& call) {
            return call.function == AdapterFunction::Read;
        });
        ASSERT_NE(read, calls.end());
        for (std::size_t i = 0; i < c.requests.size(); ++i, read += 2) {
            ASSERT_LT(read, calls.end());
            EXPECT_EQ(read->function, AdapterFunction::Read) << c.queued;
            EXPECT_EQ(read->argument, c.requests[i]) << c.queued;
            EXPECT_EQ(read->result, c.requests[i]) << c.queued;
            ASSERT_LT(read + 1, calls.end());
            EXPECT_EQ((read + 1)->function, AdapterFunction::GetQueueStatus);
        }
    }
    EXPECT_EQ(owner.drained.size(), expectedEvents);
}

TEST_F(CaptureControlTest, ZeroByteReadsAppendNothingKeepThePendingCodeAndStillRequestRefresh) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    ASSERT_TRUE(InjectAndRead({0x0A}));
    sim.SetFaults(0, "read=zero");
    const std::uint64_t refreshes = owner.Refreshes();
    ASSERT_TRUE(sim.Inject(0, {0x44}));
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.Refreshes() >= refreshes + 3; }));
    EXPECT_EQ(owner.drained.size(), 1u);

    sim.SetFaults(0, "");
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() == 2; }));
    EXPECT_TRUE(SameEvent(owner.drained[1], 10, 0x44));
}

TEST_F(CaptureControlTest, FailedReadsAreShownAgainAfterEveryCloseAndRetriedWithTheSameCount) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    ASSERT_TRUE(owner.DrainUntil([&] { return sim.Stats(0).bytes_read == 1; }));
    sim.SetFaults(0, "read=fail");
    const std::uint64_t refreshes = owner.Refreshes();
    ASSERT_TRUE(sim.Inject(0, {0x01, 0x02}));
    for (int shown = 0; shown < 3; ++shown) {
        auto message = owner.WaitMessage();
        ASSERT_TRUE(message);
        EXPECT_EQ(message->text, "RError!");
        EXPECT_EQ(owner.PendingMessages(), 0u) << "the reader waits while its box is open";
        if (shown == 2)
            sim.SetFaults(0, "");
        message->closed();
    }
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() == 3; }));
    EXPECT_TRUE(SameEvent(owner.drained[1], 1, 0));
    EXPECT_TRUE(SameEvent(owner.drained[2], 2, 0));
    EXPECT_EQ(owner.Refreshes(), refreshes + 1) << "failed reads request no refresh";

    const auto calls = adapter.Calls();
    int failedReadsOfTwo = 0;
    for (const AdapterCall& call : calls)
        failedReadsOfTwo +=
            call.function == AdapterFunction::Read && call.status != FT_OK && call.argument == 2;
    EXPECT_EQ(failedReadsOfTwo, 3);
}

TEST_F(CaptureControlTest, AdapterExceptionsAreShownAndTheReadRetried) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    adapter.throwOnRead = true;
    ASSERT_TRUE(sim.Inject(0, {0x05}));
    auto message = owner.WaitMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->text, "Exception during Read");
    adapter.throwOnRead = false;
    message->closed();
    ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() == 2; }));
    EXPECT_TRUE(SameEvent(owner.drained[1], 5, 0));
}

TEST_F(CaptureControlTest, StopWhileAMessageIsOpenAbortsTheReaderForGood) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    sim.SetFaults(0, "read=fail");
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    auto message = owner.WaitMessage();
    ASSERT_TRUE(message);
    const std::size_t callsBefore = adapter.CallCount();
    const std::uint32_t headBefore = myevtHead.load();
    const std::uint64_t refreshesBefore = owner.Refreshes();

    capture->StopCapture(); // stop command and close at once, the abort after a second
    WirelogSimStats stats = sim.Stats(0);
    EXPECT_EQ(stats.stop_commands, 1u);
    EXPECT_EQ(stats.closes, 1u);
    EXPECT_FALSE(capture->IsPortOpen());

    // The aborted reader was released; it ends without touching anything.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (capture->LiveReaderThreads() > 0 && std::chrono::steady_clock::now() < deadline) {
        capture->StopThread();
        std::this_thread::yield();
    }
    EXPECT_EQ(capture->LiveReaderThreads(), 0u);
    message->closed(); // the user closes the box late: nothing happens
    for (const AdapterCall& call : CallsFrom(callsBefore))
        EXPECT_EQ(call.thread, std::this_thread::get_id())
            << "adapter call " << AdapterFunctionName(call.function) << " by the aborted reader";
    EXPECT_EQ(myevtHead.load(), headBefore);
    EXPECT_EQ(owner.Refreshes(), refreshesBefore);
    EXPECT_EQ(owner.PendingMessages(), 0u);

    // A new capture is not disturbed by the old one.
    sim.SetFaults(0, "");
    StartOnFirstModule();
    ASSERT_TRUE(InjectAndRead({0x02}));
    EXPECT_EQ(owner.drained.size(), 2u);
}

TEST_F(CaptureControlTest, ShutdownReleasesAReaderWaitingOnAMessageAndClosesTheModule) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    sim.SetFaults(0, "read=fail");
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    auto message = owner.WaitMessage();
    ASSERT_TRUE(message);
    capture.reset();
    const WirelogSimStats stats = sim.Stats(0);
    EXPECT_EQ(stats.stop_commands, 0u);
    EXPECT_EQ(stats.open, 0u);
    EXPECT_EQ(stats.closes, 1u);
    message->closed();
}

TEST_F(CaptureControlTest, AnAbortedReaderNeitherReadsNorClosesTheModuleItStillHolds) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    sim.SetFaults(0, "read=fail");
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    auto message = owner.WaitMessage();
    ASSERT_TRUE(message);
    sim.SetFaults(0, "");
    const std::size_t callsBefore = adapter.CallCount();

    EXPECT_FALSE(capture->StopThread()) << "the window's disposal with the reader's box open";
    message->closed();
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (capture->LiveReaderThreads() > 0 && std::chrono::steady_clock::now() < deadline) {
        capture->StopThread();
        std::this_thread::yield();
    }
    ASSERT_EQ(capture->LiveReaderThreads(), 0u);
    EXPECT_EQ(adapter.CallCount(), callsBefore) << "no read, no close after the abort";
    EXPECT_TRUE(capture->IsPortOpen());
    EXPECT_EQ(owner.drained.size(), 1u);
    capture->ClosePort();
    EXPECT_EQ(sim.Stats(0).closes, 1u);
}

TEST_F(CaptureControlTest, EndingWithoutClosePortLeavesTheCloseToTheReader) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    EXPECT_TRUE(capture->StopThread()); // the window's disposal
    EXPECT_FALSE(capture->IsPortOpen());
    const WirelogSimStats stats = sim.Stats(0);
    EXPECT_EQ(stats.stop_commands, 0u);
    EXPECT_EQ(stats.closes, 1u);
    const auto calls = adapter.Calls();
    ASSERT_EQ(calls.back().function, AdapterFunction::Close);
    EXPECT_NE(calls.back().thread, std::this_thread::get_id());
}

TEST_F(CaptureControlTest, StartWithoutAnOpenableModuleChangesNothing) {
    Make("hw:off;dev:open=fail");
    ASSERT_EQ(modules.size(), 1u);
    bool reset = false;
    EXPECT_FALSE(capture->StartCapture(modules[0], [&] { reset = true; }));
    EXPECT_FALSE(capture->StartCapture("", [&] { reset = true; }));
    EXPECT_FALSE(reset);
    EXPECT_EQ(capture->LiveReaderThreads(), 0u);
    EXPECT_EQ(sim.Stats(0).bytes_written, 0u);
}

TEST_F(CaptureControlTest, AFullBufferKeepsTheFirst999999EventsAndTheNextCaptureStartsOver) {
    Make(kOneIdleModule);
    StartOnFirstModule();
    MyEvents[kEventCapacity] = TWIevent{0xEE, 0xEE, -1};
    ASSERT_TRUE(InjectAndRead(std::vector<std::uint8_t>(kEventCapacity + 10, 0x04)));
    EXPECT_EQ(owner.drained.size(), kEventCapacity);
    EXPECT_TRUE(SameEvent(owner.drained.back(), 4, 0));
    EXPECT_EQ(myevtHead.load(), kEventCapacity);
    EXPECT_TRUE(SameEvent(MyEvents[kEventCapacity], 0xEE, 0xEE))
        << "the last slot is never written";
    EXPECT_TRUE(owner.DrainUntil([&] { return sim.Stats(0).bytes_queued == 0; }));

    capture->StopCapture();
    StartOnFirstModule();
    ASSERT_TRUE(InjectAndRead({0x02}));
    ASSERT_EQ(owner.drained.size(), 2u);
    EXPECT_EQ(myevtHead.load(), 2u);
    EXPECT_TRUE(SameEvent(MyEvents[1], 2, 0));
}

TEST_F(CaptureControlTest, ClosingTheModuleWhileTheReaderReadsNeverUsesTheClosedHandle) {
    Make("hw:off;dev:rate=400000");
    for (int round = 0; round < 30; ++round) {
        ASSERT_TRUE(capture->StartCapture(modules[0], {}));
        ASSERT_TRUE(owner.DrainUntil([&] { return sim.Stats(0).bytes_read > 2000; }));
        const std::size_t first = adapter.CallCount();
        capture->ClosePort(); // what SCAN and a new selection do, mid-read
        EXPECT_TRUE(capture->StopThread());

        const auto calls = CallsFrom(first);
        auto close = std::find_if(calls.begin(), calls.end(), [](const AdapterCall& call) {
            return call.function == AdapterFunction::Close;
        });
        ASSERT_NE(close, calls.end());
        EXPECT_EQ(close->thread, std::this_thread::get_id());
        for (auto later = close + 1; later != calls.end(); ++later)
            EXPECT_NE(later->handle, close->handle)
                << AdapterFunctionName(later->function) << " on a closed handle";
        EXPECT_EQ(sim.Stats(0).closes, static_cast<std::uint32_t>(round + 1));
        EXPECT_EQ(sim.Stats(0).stop_commands, 0u);
    }
}

TEST_F(CaptureControlTest, ManyStartStopCyclesShowEveryEventOnce) {
    Make("hw:off;dev:rate=200000");
    constexpr int kCycles = 500;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        adapter.ResetStream();
        ASSERT_TRUE(capture->StartCapture(modules[0], [this] { owner.drained.clear(); }));
        const std::uint32_t wanted = 1 + static_cast<std::uint32_t>(cycle % 7) * 40;
        ASSERT_TRUE(owner.DrainUntil([&] { return owner.drained.size() >= wanted; }));
        capture->StopCapture();
        owner.Drain(); // the refreshes still queued after STOP

        const WirelogSimStats stats = sim.Stats(0);
        ASSERT_EQ(stats.bytes_read, stats.bytes_emitted) << "cycle " << cycle;
        ASSERT_EQ(owner.drained.size(), adapter.CompleteEventsRead()) << "cycle " << cycle;
        // Only an event cut off by the stop command, its value never sent, is not shown.
        ASSERT_LE(stats.events_emitted - owner.drained.size(), 1u) << "cycle " << cycle;
        ASSERT_TRUE(SameEvent(owner.drained[0], 0, 0));
        for (std::size_t i = 1; i < owner.drained.size(); ++i)
            ASSERT_LE(owner.drained[i - 1].timer, owner.drained[i].timer);
    }
    EXPECT_EQ(sim.Stats(0).start_commands, static_cast<std::uint32_t>(kCycles));
    EXPECT_EQ(capture->LiveReaderThreads(), 0u);
}

TEST(CaptureControlSingletonTest, OnlyOneMayExistAtATime) {
    AdapterLibrary library("/nonexistent/wirlg000.dll");
    CaptureControl first(library, {});
    EXPECT_THROW(CaptureControl(library, {}), std::logic_error);
}

} // namespace
} // namespace Wirelog
