// SPDX-License-Identifier: MIT
#include "ReceiveQueue.h"

#include "ftd2xx.h"

#include <algorithm>
#include <cstring>

namespace Wirelog::d2xx {

namespace {
constexpr std::size_t kInitialRing = std::size_t{64} << 10;
}

ReceiveQueue::ReceiveQueue(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

void ReceiveQueue::Grow(std::size_t needed) {
    if (needed <= ring_.size()) {
        return;
    }
    std::size_t size = std::max(ring_.size(), std::min(kInitialRing, capacity_));
    while (size < needed) {
        size = std::min(size * 2, capacity_);
    }
    std::vector<std::uint8_t> grown(size);
    if (size_ > 0) {
        const std::size_t first = std::min(size_, ring_.size() - head_);
        std::memcpy(grown.data(), ring_.data() + head_, first);
        std::memcpy(grown.data() + first, ring_.data(), size_ - first);
    }
    ring_.swap(grown);
    head_ = 0;
}

std::size_t ReceiveQueue::Push(const std::uint8_t* bytes, std::size_t count) {
    void* event = nullptr;
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex_);
        taken = std::min(count, capacity_ - size_);
        if (taken == 0) {
            return 0;
        }
        Grow(size_ + taken);
        std::size_t tail = (head_ + size_) % ring_.size();
        const std::size_t first = std::min(taken, ring_.size() - tail);
        std::memcpy(ring_.data() + tail, bytes, first);
        std::memcpy(ring_.data(), bytes + first, taken - first);
        size_ += taken;
        event = event_;
    }
    changed_.notify_all();
    if (event != nullptr) {
        SignalEvent(event);
    }
    return taken;
}

std::size_t ReceiveQueue::Pop(std::uint8_t* out, std::size_t count) {
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex_);
        taken = std::min(count, size_);
        if (taken == 0) {
            return 0;
        }
        const std::size_t first = std::min(taken, ring_.size() - head_);
        std::memcpy(out, ring_.data() + head_, first);
        std::memcpy(out + first, ring_.data(), taken - first);
        head_ = (head_ + taken) % ring_.size();
        size_ -= taken;
    }
    changed_.notify_all();
    return taken;
}

std::size_t ReceiveQueue::Size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

std::size_t ReceiveQueue::Space() const {
    std::lock_guard lock(mutex_);
    return capacity_ - size_;
}

bool ReceiveQueue::WaitForBytes(std::size_t count, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return size_ >= count || closed_; });
    return size_ >= count;
}

bool ReceiveQueue::WaitForSpace(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return size_ < capacity_ || closed_; });
    return size_ < capacity_ && !closed_;
}

void ReceiveQueue::SetNotification(std::uint32_t mask, void* event) {
    std::lock_guard lock(mutex_);
    event_ = (mask & FT_EVENT_RXCHAR) != 0 ? event : nullptr;
}

void ReceiveQueue::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        event_ = nullptr;
    }
    changed_.notify_all();
}

bool ReceiveQueue::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void ReceiveQueue::Clear() {
    {
        std::lock_guard lock(mutex_);
        head_ = 0;
        size_ = 0;
    }
    changed_.notify_all();
}

void SignalEvent(void* event) {
#ifdef _WIN32
    SetEvent(static_cast<HANDLE>(event));
#else
    auto* handle = static_cast<EVENT_HANDLE*>(event);
    pthread_mutex_lock(&handle->eMutex);
    handle->iVar = 1;
    pthread_cond_signal(&handle->eCondVar);
    pthread_mutex_unlock(&handle->eMutex);
#endif
}

} // namespace Wirelog::d2xx
