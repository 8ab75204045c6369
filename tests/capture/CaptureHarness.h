// SPDX-License-Identifier: MIT
#pragma once
// Around CaptureControl in the tests: a recorder between it and the real adapter binding, and
// the owner's side (refresh requests, reader messages, draining the buffer).
#include "adapter/Adapter.h"
#include "capture/CaptureControl.h"
#include "events/EventBuffer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

namespace Wirelog::test {

// Runs get() under the mutex and returns its result.
template <class Get> auto Locked(std::mutex& mutex, Get get) {
    std::lock_guard lock(mutex);
    return get();
}

struct AdapterCall {
    AdapterFunction function;
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
    using Fn = AdapterFunction;

public:
    explicit RecordingAdapter(Adapter& inner) : inner_(inner) {}

    std::atomic<bool> throwOnRead{false};
    // The queue status fails, giving a count that is not there: always, or right after a read.
    enum StatusFault { kStatusWorks, kStatusFails, kStatusFailsAfterRead };
    std::atomic<StatusFault> statusFault{kStatusWorks};
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
        AdapterCall call{Fn::SetEventNotification, h, mask,
                         inner_.SetEventNotification(h, mask, param)};
        call.object = param;
        return Log(call);
    }
    FT_STATUS GetQueueStatus(FT_HANDLE h, DWORD* queued) override {
        if (statusFault == kStatusFails ||
            (statusFault == kStatusFailsAfterRead && LastCallWas(Fn::Read))) {
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
        for (DWORD i = 0; i < count; ++i) {
            const std::uint8_t byte = static_cast<const std::uint8_t*>(buffer)[i];
            valueDue_ = !valueDue_ && byte >= 7 && byte <= 16;
            completeEvents_ += !valueDue_;
        }
        bytesRead_ += count;
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
    std::size_t CallCount() {
        return Locked(mutex_, [&] { return calls_.size(); });
    }
    std::uint64_t BytesRead() {
        return Locked(mutex_, [&] { return bytesRead_; });
    }
    std::uint64_t CompleteEventsRead() {
        return Locked(mutex_, [&] { return completeEvents_; });
    }
    bool LastCallWas(Fn function) {
        return Locked(mutex_,
                      [&] { return !calls_.empty() && calls_.back().function == function; });
    }
    // After a read, its framing and refresh request are done once the queue is asked again.
    bool LastCallAskedTheQueue() { return LastCallWas(Fn::GetQueueStatus); }
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
    std::uint64_t bytesRead_ = 0, completeEvents_ = 0;
    bool valueDue_ = false;
};

// The owner's thread (the test's): takes refresh requests and reader messages, and drains the
// event buffer as the log refresh does.
class Owner {
public:
    struct Message {
        std::string text;
        std::function<void()> closed;
    };

    ReaderCallbacks Callbacks() {
        return {[this] { Push([&] { ++refreshes_; }); },
                [this](const std::string& text, std::function<void()> closed) {
                    Push([&] { messages_.push_back({text, std::move(closed)}); });
                }};
    }
    std::uint64_t Refreshes() {
        return Locked(mutex_, [&] { return refreshes_; });
    }
    std::size_t PendingMessages() {
        return Locked(mutex_, [&] { return messages_.size(); });
    }
    void Drain() {
        while (myevtTail < myevtHead.load(std::memory_order_acquire))
            drained.push_back(MyEvents[myevtTail++]);
    }
    // Drains after every refresh request (and every few milliseconds, for conditions that
    // change without one) until done() holds, then once more for what was stored while done()
    // was being decided; false when the time ran out.
    bool DrainUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (Drain(); !done(); Drain()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::unique_lock lock(mutex_);
            const std::uint64_t seen = refreshes_;
            changed_.wait_for(lock, std::chrono::milliseconds(5),
                              [&] { return refreshes_ != seen; });
        }
        Drain();
        return true;
    }
    std::optional<Message> WaitMessage() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return !messages_.empty(); }))
            return std::nullopt;
        Message message = std::move(messages_.front());
        messages_.pop_front();
        return message;
    }

    std::vector<TWIevent> drained;

private:
    template <class Change> void Push(Change change) {
        Locked(mutex_, change);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t refreshes_ = 0;
    std::deque<Message> messages_;
};

} // namespace Wirelog::test
