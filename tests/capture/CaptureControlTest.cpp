// SPDX-License-Identifier: MIT
// Capture cycles through the real adapter library and its simulated modules: reads and
// framing, reader messages, stop and abort, and the commands the module gets.
#include "capture/CaptureControl.h"
#include "SimControl.h"
#include "adapter/AdapterLibrary.h"
#include "events/EventBuffer.h"
#include "events/EventCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace Wirelog {
namespace {

using Fn = AdapterFunction;
using Event = std::tuple<int, int>; // cmd, data

template <class Get> auto Locked(std::mutex& mutex, Get get) {
    std::lock_guard lock(mutex);
    return get();
}

struct AdapterCall {
    Fn function;
    FT_HANDLE handle = nullptr;
    DWORD argument = 0; // request, size, latency, mask or device index
    FT_STATUS status = FT_OK;
    DWORD result = 0;             // bytes read or queued
    const void* object = nullptr; // the event object of a notification
    std::thread::id thread = std::this_thread::get_id();
};

// Forwards to the real binding and records each call made with a handle. Also counts the
// complete events among the bytes read, independently of the framing under test.
class RecordingAdapter final : public Adapter {
public:
    explicit RecordingAdapter(Adapter& inner) : inner_(inner) {}

    std::atomic<bool> throwOnRead{false};
    // The queue status fails, giving a count that is not there: right after every read, and at
    // every other poll of the reader's loop top.
    std::atomic<bool> statusFlaps{false};
    static constexpr DWORD kBogusCount = 12345;

    FT_STATUS ListDevices(PVOID a, PVOID b, DWORD flags) override {
        return inner_.ListDevices(a, b, flags);
    }
    FT_STATUS Open(int index, FT_HANDLE* h) override {
        return Log({Fn::Open, nullptr, DWORD(index), inner_.Open(index, h)});
    }
    FT_STATUS Close(FT_HANDLE h) override { return Log({Fn::Close, h, 0, inner_.Close(h)}); }
    FT_STATUS SetLatencyTimer(FT_HANDLE h, UCHAR ms) override {
        return Log({Fn::SetLatencyTimer, h, ms, inner_.SetLatencyTimer(h, ms)});
    }
    FT_STATUS SetEventNotification(FT_HANDLE h, DWORD mask, PVOID param) override {
        return Log({Fn::SetEventNotification, h, mask, inner_.SetEventNotification(h, mask, param),
                    0, param});
    }
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* queued) override {
        if (statusFlaps && (LastCall() == Fn::Read || (topPollFails_ = !topPollFails_))) {
            *queued = kBogusCount;
            return Log({Fn::GetQueueStatus, h, 0, FT_IO_ERROR, kBogusCount});
        }
        const FT_STATUS status = inner_.GetQueueStatus(h, queued);
        return Log({Fn::GetQueueStatus, h, 0, status, *queued});
    }
    FT_STATUS Read(FT_HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD got) override {
        if (throwOnRead) {
            Log({Fn::Read, h, toRead, FT_OTHER_ERROR});
            throw std::runtime_error("adapter fault");
        }
        const FT_STATUS status = inner_.Read(h, buffer, toRead, got);
        const DWORD count = status == FT_OK ? *got : 0;
        std::lock_guard lock(mutex_);
        for (const std::uint8_t byte : std::span(static_cast<const std::uint8_t*>(buffer), count)) {
            valueDue_ = !valueDue_ && TakesValueByte(byte);
            completeEvents_ += !valueDue_;
        }
        calls_.push_back({Fn::Read, h, toRead, status, count});
        return status;
    }
    FT_STATUS Write(FT_HANDLE h, LPVOID buffer, DWORD size, LPDWORD written) override {
        return Log({Fn::Write, h, size, inner_.Write(h, buffer, size, written)});
    }

    std::vector<AdapterCall> Calls(std::size_t from = 0) {
        return Locked(mutex_, [&] {
            return std::vector<AdapterCall>(calls_.begin() + std::ptrdiff_t(from), calls_.end());
        });
    }
    Fn LastCall() {
        return Locked(mutex_, [&] { return calls_.empty() ? Fn::Open : calls_.back().function; });
    }
    std::uint64_t BytesRead() {
        std::uint64_t bytes = 0;
        for (const AdapterCall& call : Calls())
            bytes += call.function == Fn::Read ? call.result : 0;
        return bytes;
    }
    std::uint64_t CompleteEventsRead() {
        return Locked(mutex_, [&] { return completeEvents_; });
    }
    void ResetStream() {
        Locked(mutex_, [&] { completeEvents_ = 0, valueDue_ = false; });
    }

private:
    FT_STATUS Log(const AdapterCall& call) {
        Locked(mutex_, [&] { calls_.push_back(call); });
        return call.status;
    }

    Adapter& inner_;
    std::mutex mutex_;
    std::vector<AdapterCall> calls_;
    std::uint64_t completeEvents_ = 0;
    bool valueDue_ = false;
    bool topPollFails_ = false; // the reader's alone
};

// The test's thread is the owner's: it takes reader messages, and drains the event buffer as
// the log refresh does.
class CaptureControlTest : public ::testing::Test {
protected:
    struct Message {
        std::string text;
        std::function<void()> closed;
    };

    void Make(const std::string& config = "hw:off;dev:stream=idle") {
        sim.Configure(config);
        const ReaderCallbacks callbacks{
            [] {}, // the log is drained by polling
            [this](const std::string& text, std::function<void()> closed) {
                Locked(mutex_, [&] { messages_.push_back({text, std::move(closed)}); });
                changed_.notify_all();
            }};
        // Every reading of the clock is one tick later: each read has a stamp of its own.
        capture = std::make_unique<CaptureControl>(adapter, callbacks, [this] { return ++ticks; });
        modules = capture->Load().entries;
        ASSERT_EQ(modules.size(), 1u);
    }
    // Starts on the module and drains its code 0.
    void Start() {
        ASSERT_TRUE(capture->StartCapture(modules[0], [this] { drained.clear(); }));
        ASSERT_TRUE(DrainUntil([&] { return !drained.empty(); }));
        ASSERT_EQ(Events(0), (std::vector<Event>{{0, 0}}));
    }
    // The module sends bytes; waits until the reader has read and framed them all (after a
    // read, its framing and refresh request are done once the queue is asked again).
    bool Send(const std::vector<std::uint8_t>& bytes) {
        const std::uint64_t target = adapter.BytesRead() + bytes.size();
        return sim.Inject(0, bytes) && DrainUntil([&] {
                   return adapter.BytesRead() >= target && adapter.LastCall() == Fn::GetQueueStatus;
               });
    }
    std::vector<Event> Events(std::size_t from) const {
        std::vector<Event> events;
        for (std::size_t i = from; i < drained.size(); ++i)
            events.emplace_back(drained[i].cmd, drained[i].data);
        return events;
    }
    std::size_t PendingMessages() {
        return Locked(mutex_, [&] { return messages_.size(); });
    }
    void Drain() {
        while (myevtTail < myevtHead.load(std::memory_order_acquire))
            drained.push_back(MyEvents[myevtTail++]);
    }
    // Drains until done() holds, then once more for what was stored while done() was being
    // decided; false when the time ran out.
    bool DrainUntil(const std::function<bool()>& done) {
        const bool held = WirelogTest::WaitFor(
            [&] {
                Drain();
                return done();
            },
            std::chrono::seconds(20));
        Drain();
        return held;
    }
    std::optional<Message> WaitMessage() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !messages_.empty(); }))
            return std::nullopt;
        Message message = std::move(messages_.front());
        messages_.pop_front();
        return message;
    }
    static bool IsRead(const AdapterCall& call) { return call.function == Fn::Read; }

    test::SimControl sim;
    AdapterLibrary library{test::kAdapterLibraryPath};
    RecordingAdapter adapter{library};
    std::vector<TWIevent> drained;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Message> messages_;
    std::atomic<std::int64_t> ticks{0};
    std::vector<std::string> modules;
    std::unique_ptr<CaptureControl> capture; // last: ends before what it uses
};

// Open, latency 2 ms, arrivals signalled on the reader's event, then the start command. A code
// ending a read waits for its value in the next one and takes that read's stamp.
TEST_F(CaptureControlTest, ACaptureStoresExactEventsStampedPerReadBetweenItsCommands) {
    Make();
    Start();
    std::vector<std::tuple<Fn, DWORD, const void*>> sequence;
    for (const AdapterCall& call : adapter.Calls())
        if (call.function != Fn::GetQueueStatus && !IsRead(call))
            sequence.emplace_back(call.function, call.argument, call.object);
    EXPECT_EQ(sequence, (std::vector<std::tuple<Fn, DWORD, const void*>>{
                            {Fn::Open, 0, nullptr},
                            {Fn::SetLatencyTimer, 2, nullptr},
                            {Fn::SetEventNotification, FT_EVENT_RXCHAR, hEvent->Param()},
                            {Fn::Write, 2, nullptr}}));

    ASSERT_TRUE(Send({0x01, 0x07, 0xA0, 0x02, 0x0A}));
    ASSERT_TRUE(Send({0x44, 0x02}));
    EXPECT_EQ(Events(1), (std::vector<Event>{{1, 0}, {7, 0xA0}, {2, 0}, {10, 0x44}, {2, 0}}));
    EXPECT_LT(drained[0].timer, drained[1].timer);
    EXPECT_EQ(drained[2].timer, drained[1].timer) << "one read, one time stamp";
    EXPECT_EQ(drained[3].timer, drained[1].timer);
    EXPECT_LT(drained[1].timer, drained[4].timer);
    EXPECT_EQ(drained[4].timer, drained[5].timer) << "the waiting code takes its value's stamp";
}

// A failing queue status, at the loop's top or right after a read, is nothing queued: no read
// is made on its count, and the bytes come once it answers again. Short reads lose nothing, and
// a large queue is read in requests of at most 32764 bytes without pausing in between.
TEST_F(CaptureControlTest, QueuedCountsDecideTheReadsAndNoByteIsLost) {
    Make();
    Start();
    adapter.statusFlaps = true;
    sim.SetFaults(0, "read=half");
    const std::size_t from = adapter.Calls().size();
    ASSERT_TRUE(sim.Inject(0, {0x01, 0x02, 0x07, 0xA0, 0x09, 0x10, 0x02}));
    // Half of one byte is none: the last byte comes once reads are whole again.
    ASSERT_TRUE(DrainUntil([&] {
        return std::ranges::any_of(adapter.Calls(from), [](const AdapterCall& c) {
            return IsRead(c) && c.result == c.argument / 2 && c.result > 0;
        });
    }));
    sim.SetFaults(0, "");
    ASSERT_TRUE(DrainUntil([&] { return drained.size() >= 6; }));
    EXPECT_EQ(Events(1), (std::vector<Event>{{1, 0}, {2, 0}, {7, 0xA0}, {9, 0x10}, {2, 0}}));
    EXPECT_TRUE(std::ranges::none_of(adapter.Calls(from), [](const AdapterCall& c) {
        return IsRead(c) && c.argument == RecordingAdapter::kBogusCount;
    }));

    adapter.statusFlaps = false;
    const std::pair<DWORD, std::vector<DWORD>> cases[] = {
        {40'000, {32'764, 7'236}}, {32'767, {32'767}}, {32'768, {32'764, 4}}};
    for (const auto& [queued, requests] : cases) {
        const std::size_t first = adapter.Calls().size();
        ASSERT_TRUE(Send(std::vector<std::uint8_t>(queued, 0x03)));
        // Read, ask the queue, read again: no idle poll in between.
        const auto calls = adapter.Calls(first);
        auto read = std::ranges::find(calls, Fn::Read, &AdapterCall::function);
        ASSERT_GE(calls.end() - read, std::ptrdiff_t(2 * requests.size()));
        for (DWORD request : requests) {
            EXPECT_TRUE(IsRead(*read) && read->argument == request && read->result == request)
                << queued << ": " << read->argument << " asked, " << read->result << " read";
            EXPECT_EQ((++read)->function, Fn::GetQueueStatus);
            ++read;
        }
    }
    EXPECT_EQ(drained.size(), 6u + 40'000 + 32'767 + 32'768);
}

// A failed read shows its message and waits while the box is open; each close retries the same
// count and shows it again, until the bytes come once reads work. Disposal (StopThread) lets the
// reader close the module; a reader held by its box is aborted for good instead: closing the box
// late does nothing, and the module it left open is closed when the capture control ends.
TEST_F(CaptureControlTest, AFailedReadIsShownAgainUntilReadsWorkOrItsReaderIsAbortedForGood) {
    Make();
    Start();
    for (const std::string expected : {"RError!", "Exception during Read"}) {
        const bool throws = expected != "RError!";
        sim.SetFaults(0, throws ? "" : "read=fail");
        adapter.throwOnRead = throws;
        const std::size_t events = drained.size();
        ASSERT_TRUE(sim.Inject(0, {0x01, 0x02}));
        for (const bool last : {false, true}) {
            auto message = WaitMessage();
            ASSERT_TRUE(message);
            EXPECT_EQ(message->text, expected);
            EXPECT_EQ(PendingMessages(), 0u) << "the reader waits while its box is open";
            if (last) {
                sim.SetFaults(0, "");
                adapter.throwOnRead = false;
            }
            message->closed();
        }
        ASSERT_TRUE(DrainUntil([&] { return drained.size() == events + 2; }));
    }
    EXPECT_EQ(std::ranges::count_if(adapter.Calls(),
                                    [](const AdapterCall& c) {
                                        return IsRead(c) && c.status != FT_OK && c.argument == 2;
                                    }),
              4);

    EXPECT_TRUE(capture->StopThread()); // the window's disposal
    EXPECT_FALSE(capture->IsPortOpen());
    const AdapterCall close = adapter.Calls().back();
    EXPECT_TRUE(close.function == Fn::Close && close.thread != std::this_thread::get_id());

    Start();
    sim.SetFaults(0, "read=fail");
    ASSERT_TRUE(sim.Inject(0, {0x01}));
    auto message = WaitMessage();
    ASSERT_TRUE(message);
    sim.SetFaults(0, "");
    const std::size_t callsBefore = adapter.Calls().size();
    EXPECT_FALSE(capture->StopThread()) << "aborted while its box is open";
    message->closed(); // the user closes the box late: nothing happens
    ASSERT_TRUE(DrainUntil([&] {
        capture->StopThread(); // joins the readers that have ended
        return capture->LiveReaderThreads() == 0;
    }));
    EXPECT_TRUE(adapter.Calls(callsBefore).empty()) << "a call by the aborted reader";
    EXPECT_EQ(myevtHead.load(), 1u);
    EXPECT_EQ(PendingMessages(), 0u);
    EXPECT_TRUE(capture->IsPortOpen());
    capture.reset(); // joins every reader, then closes what the aborted one left open
    EXPECT_EQ(sim.Stats(0).open, 0u);
}

// Cycles end by STOP, the last ones by the close that SCAN and a new selection make: no call ever
// uses a closed handle. After STOP every byte sent has been read and each event shown once.
TEST_F(CaptureControlTest, ManyStartStopCyclesShowEveryEventOnce) {
    Make("hw:off;dev:rate=400000");
    for (int cycle = 0; cycle < 500; ++cycle) {
        SCOPED_TRACE(cycle);
        adapter.ResetStream();
        ASSERT_TRUE(capture->StartCapture(modules[0], [this] { drained.clear(); }));
        const std::size_t wanted = 1 + static_cast<std::size_t>(cycle % 7) * 40;
        ASSERT_TRUE(DrainUntil([&] { return drained.size() >= wanted; }));
        const std::size_t first = adapter.Calls().size();
        // The module streams on after a close, so every such cycle comes after the STOP ones.
        const bool stops = cycle < 470;
        if (stops)
            capture->StopCapture();
        else
            capture->ClosePort();
        EXPECT_TRUE(capture->StopThread());
        Drain(); // the refreshes still queued after STOP

        const auto calls = adapter.Calls(first);
        const auto close = std::ranges::find(calls, Fn::Close, &AdapterCall::function);
        ASSERT_TRUE(close != calls.end());
        for (auto later = close + 1; later != calls.end(); ++later)
            ASSERT_NE(later->handle, close->handle) << "a call on a closed handle";
        if (!stops)
            continue;
        const WirelogSimStats stats = sim.Stats(0);
        ASSERT_EQ(stats.bytes_read, stats.bytes_emitted);
        ASSERT_EQ(drained.size(), adapter.CompleteEventsRead());
        // Only an event whose value byte the stop command cut off is not shown.
        ASSERT_LE(stats.events_emitted - drained.size(), 1u);
        ASSERT_TRUE(std::ranges::is_sorted(drained, {}, &TWIevent::timer));
    }
    const WirelogSimStats stats = sim.Stats(0);
    EXPECT_TRUE(stats.start_commands == 500 && stats.stop_commands == 470 && stats.closes == 500);
}

} // namespace
} // namespace Wirelog
