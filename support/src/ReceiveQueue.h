// SPDX-License-Identifier: MIT
#pragma once
// The bytes a device has delivered and the host has not read yet, as a D2XX driver keeps them:
// producers append whole arrivals, readers take from the front, and the host's registered
// event object is signalled once per arrival.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace Wirelog::d2xx {

class ReceiveQueue {
public:
    using Clock = std::chrono::steady_clock;

    // Room for 16 MiB of unread bytes, as much as several seconds of a saturated module; a
    // host that falls further behind makes the producer wait rather than lose bytes.
    static constexpr std::size_t kDefaultCapacity = std::size_t{16} << 20;

    explicit ReceiveQueue(std::size_t capacity = kDefaultCapacity);

    // Appends as many of the bytes as fit and returns that count. When any were taken, the
    // registered event is signalled (outside the lock) and waiting readers are woken.
    std::size_t Push(const std::uint8_t* bytes, std::size_t count);

    // Takes up to count bytes from the front without waiting; returns the count taken.
    std::size_t Pop(std::uint8_t* out, std::size_t count);

    std::size_t Size() const;
    std::size_t Space() const;

    // Waits until at least count bytes are queued, the queue is closed or the deadline
    // passes; true when the bytes are there.
    bool WaitForBytes(std::size_t count, Clock::time_point deadline);

    // Waits until there is room for at least one byte, the queue is closed or the deadline
    // passes; true when there is room.
    bool WaitForSpace(Clock::time_point deadline);

    // The object to signal on arrival: mask FT_EVENT_RXCHAR with a non-null event enables,
    // anything else disables. The event must stay valid while registered.
    void SetNotification(std::uint32_t mask, void* event);

    // Wakes every waiter for good; bytes still queued stay readable.
    void Close();
    bool IsClosed() const;

    void Clear();

private:
    void Grow(std::size_t needed);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::uint8_t> ring_;
    std::size_t capacity_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    void* event_ = nullptr;
    bool closed_ = false;
};

// Signals a host event object the way FTDI's driver does: SetEvent on Windows; elsewhere the
// EVENT_HANDLE's mutex is taken, iVar set and eCondVar signalled.
void SignalEvent(void* event);

} // namespace Wirelog::d2xx
