// SPDX-License-Identifier: MIT
#include "cli/ReadQueue.h"

namespace Wirelog::cli {

void ReadQueue::Push(std::int64_t stamp, const std::uint8_t* bytes, std::size_t count) {
    if (count == 0)
        return;
    const Header header{stamp, count};
    std::lock_guard lock(mutex_);
    if (filling_.size() + sizeof header + count > maxBytes_) {
        dropped_ += count;
        return;
    }
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&header);
    filling_.insert(filling_.end(), raw, raw + sizeof header);
    filling_.insert(filling_.end(), bytes, bytes + count);
}

std::uint64_t ReadQueue::DroppedBytes() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

} // namespace Wirelog::cli
