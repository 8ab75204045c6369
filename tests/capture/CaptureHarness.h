#pragma once
// What the capture tests put around CaptureControl: a recorder between it and the real adapter
// binding, and the owner's side (refresh requests, reader messages, draining the buffer).
#include "Adapter.h"
#include "CaptureControl.h"
#include "EventBuffer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace Wirelog::test {

struct AdapterCall {
    AdapterFunction function;
    FT_HANDLE handle = nullptr;
    DWORD argument = 0; // read/write size, latency, notification mask
    DWORD result = 0;   // bytes read or written
    FT_STATUS status = FT_OK;
    std::thread::id thread{};
    std::int64_t clockAtCall = 0; // the capture clock's latest reading when the call began
    std::uint8_t firstByte = 0;   // of a successful read or a write
    PVOID param = nullptr;        // the notification parameter
};

// Forwards every call to the real binding and records it. Also counts the complete events in
// the bytes read, independently of the framing under test.
class RecordingAdapter final : public Adapter {
public:
    RecordingAdapter(Adapter& inner, const std::atomic<std::int64_t>& clock)
        : inner_(inner), clock_(clock) {}

    std::atomic<bool> throwOnRead{false};

    FT_STATUS ListDevices(PVOID arg1, PVOID arg2, DWORD flags) override {
        return inner_.ListDevices(arg1, arg2, flags);
    }
    FT_STATUS Open(int deviceNumber, FT_HANDLE* handle) override {
        const FT_STATUS status = inner_.Open(deviceNumber, handle);
        Record({AdapterFunction::Open, *handle, static_cast<DWORD>(deviceNumber), 0, status});
        return status;
    }
    FT_STATUS Close(FT_HANDLE handle) override {
        const FT_STATUS status = inner_.Close(handle);
        Record({AdapterFunction::Close, handle, 0, 0, status});
        return status;
    }
    FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latency) override {
        const FT_STATUS status = inner_.SetLatencyTimer(handle, latency);
        Record({AdapterFunction::SetLatencyTimer, handle, latency, 0, status});
        return status;
    }
    FT_STATUS SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID param) override {
        const FT_STATUS status = inner_.SetEventNotification(handle, mask, param);
        AdapterCall call{AdapterFunction::SetEventNotification, handle, mask, 0, status};
        call.param = param;
        Record(call);
        return status;
    }
    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) override {
        const FT_STATUS status = inner_.GetQueueStatus(handle, rxBytes);
        Record({AdapterFunction::GetQueueStatus, handle, 0, *rxBytes, status});
        return status;
    }
    FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD returned) override {
        AdapterCall call{AdapterFunction::Read, handle, toRead};
        call.clockAtCall = clock_.load();
        if (throwOnRead.load()) {
            Record(call);
            throw std::runtime_error("adapter fault");
        }
        call.status = inner_.Read(handle, buffer, toRead, returned);
        if (call.status == FT_OK) {
            call.result = *returned;
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            if (*returned > 0)
                call.firstByte = bytes[0];
            CountEvents(bytes, *returned);
        }
        Record(call);
        return call.status;
    }
    FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD toWrite, LPDWORD written) override {
        AdapterCall call{AdapterFunction::Write, handle, toWrite};
        call.firstByte = toWrite > 0 ? static_cast<const std::uint8_t*>(buffer)[0] : 0;
        call.status = inner_.Write(handle, buffer, toWrite, written);
        call.result = *written;
        Record(call);
        return call.status;
    }

    std::vector<AdapterCall> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::optional<AdapterFunction> LastCall() const {
        std::lock_guard lock(mutex_);
        if (calls_.empty())
            return std::nullopt;
        return calls_.back().function;
    }
    std::uint64_t BytesRead() const {
        std::lock_guard lock(mutex_);
        return bytesRead_;
    }
    std::size_t CallCount() const {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    // Events whose code byte and (for codes 7 to 16) value byte have both been read.
    std::uint64_t CompleteEventsRead() const {
        std::lock_guard lock(mutex_);
        return completeEvents_;
    }
    void ResetStream() {
        std::lock_guard lock(mutex_);
        completeEvents_ = 0;
        valueDue_ = false;
    }

private:
    void Record(AdapterCall call) {
        call.thread = std::this_thread::get_id();
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
    }
    void CountEvents(const std::uint8_t* bytes, DWORD count) {
        std::lock_guard lock(mutex_);
        bytesRead_ += count;
        for (DWORD i = 0; i < count; ++i) {
            if (valueDue_) {
                valueDue_ = false;
                ++completeEvents_;
            } else if (bytes[i] >= 7 && bytes[i] <= 16) {
                valueDue_ = true;
            } else {
                ++completeEvents_;
            }
        }
    }

    Adapter& inner_;
    const std::atomic<std::int64_t>& clock_;
    mutable std::mutex mutex_;
    std::vector<AdapterCall> calls_;
    std::uint64_t bytesRead_ = 0;
    std::uint64_t completeEvents_ = 0;
    bool valueDue_ = false;
};

// The owner's thread (the test's main thread): it takes refresh requests and reader messages,
// and drains the event buffer as the log refresh does.
class Owner {
public:
    struct Message {
        std::string text;
        std::function<void()> closed;
    };

    ReaderCallbacks Callbacks() {
        ReaderCallbacks callbacks;
        callbacks.requestRefresh = [this] {
            {
                std::lock_guard lock(mutex_);
                ++refreshes_;
            }
            changed_.notify_all();
        };
        callbacks.showMessage = [this](const std::string& text, std::function<void()> closed) {
            {
                std::lock_guard lock(mutex_);
                messages_.push_back({text, std::move(closed)});
            }
            changed_.notify_all();
        };
        return callbacks;
    }

    std::uint64_t Refreshes() const {
        std::lock_guard lock(mutex_);
        return refreshes_;
    }

    // Drains whatever is stored; what the window's log refresh does.
    void Drain() {
        while (myevtTail < myevtHead.load(std::memory_order_acquire))
            drained.push_back(MyEvents[myevtTail++]);
    }

    // Drains after every refresh request until done() holds; false when the time ran out.
    bool DrainUntil(const std::function<bool()>& done,
                    std::chrono::seconds limit = std::chrono::seconds(20)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            Drain();
            if (done())
                return true;
            std::unique_lock lock(mutex_);
            const std::uint64_t seen = refreshes_;
            // The slice re-checks conditions that change without a refresh (adapter counters).
            if (!changed_.wait_until(lock, std::min(deadline, Soon()),
                                     [&] { return refreshes_ != seen; }) &&
                std::chrono::steady_clock::now() >= deadline) {
                lock.unlock();
                Drain();
                return done();
            }
        }
    }

    std::optional<Message> WaitMessage(std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return !messages_.empty(); }))
            return std::nullopt;
        Message message = std::move(messages_.front());
        messages_.pop_front();
        return message;
    }

    std::size_t PendingMessages() const {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }

    std::vector<TWIevent> drained;

private:
    static std::chrono::steady_clock::time_point Soon() {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t refreshes_ = 0;
    std::deque<Message> messages_;
};

} // namespace Wirelog::test
