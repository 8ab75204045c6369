// SPDX-License-Identifier: MIT
#pragma once
// The module's reads on their way from the reader thread to the command line's main thread,
// which frames them: a bounded queue, so a main thread held up by a slow disk costs a known
// amount of memory, and never a wait for the reader, which holds the adapter while it pushes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace Wirelog::cli {

class ReadQueue {
public:
    // Room for as much as several seconds of a saturated module.
    static constexpr std::size_t kDefaultBytes = std::size_t{8} << 20;

    explicit ReadQueue(std::size_t maxBytes = kDefaultBytes) : maxBytes_(maxBytes) {}

    // Reader thread: copies one read in. A read that does not fit is dropped and counted.
    void Push(std::int64_t stamp, const std::uint8_t* bytes, std::size_t count);

    // Owner thread: every read queued so far, in order, to take(stamp, bytes, count).
    template <typename Take> void Drain(Take&& take) {
        {
            std::lock_guard lock(mutex_);
            draining_.swap(filling_);
        }
        for (std::size_t at = 0; at < draining_.size();) {
            Header header;
            std::memcpy(&header, draining_.data() + at, sizeof header);
            at += sizeof header;
            take(header.stamp, draining_.data() + at, header.count);
            at += header.count;
        }
        draining_.clear();
    }

    // Bytes dropped because the queue was full.
    std::uint64_t DroppedBytes() const;

private:
    struct Header {
        std::int64_t stamp;
        std::size_t count;
    };

    const std::size_t maxBytes_;
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> filling_;  // guarded by mutex_
    std::uint64_t dropped_ = 0;          // guarded by mutex_
    std::vector<std::uint8_t> draining_; // the owner's
};

} // namespace Wirelog::cli
