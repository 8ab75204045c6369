#include "LogLines.h"

#include <algorithm>
#include <cstring>

namespace Wirelog {

void LogLines::append(std::string_view line) {
    const std::size_t length = std::min(line.size(), kMaxLineBytes);
    if (length == 0) {
        // Separator lines take no arena space: there may be no block yet, or the last one may
        // be exactly full, and an offset into either would point past the arena.
        entries_.push_back(0);
        return;
    }
    if (usedInLastBlock_ + length > kBlockBytes) {
        // A line never straddles two blocks, so every line is one contiguous view.
        blocks_.push_back(std::make_unique<char[]>(kBlockBytes));
        usedInLastBlock_ = 0;
    }
    const std::uint64_t offset = (blocks_.size() - 1) * kBlockBytes + usedInLastBlock_;
    std::memcpy(blocks_.back().get() + usedInLastBlock_, line.data(), length);
    usedInLastBlock_ += length;
    entries_.push_back(offset << 16 | length);
}

void LogLines::clear() {
    entries_.clear();
    entries_.shrink_to_fit();
    blocks_.clear();
    usedInLastBlock_ = kBlockBytes;
}

std::string_view LogLines::operator[](std::size_t i) const {
    const std::uint64_t entry = entries_[i];
    const auto length = static_cast<std::size_t>(entry & 0xFFFF);
    if (length == 0)
        return {};
    const std::uint64_t offset = entry >> 16;
    const char* block = blocks_[offset / kBlockBytes].get();
    return {block + offset % kBlockBytes, length};
}

std::size_t LogLines::bytesReserved() const {
    return blocks_.size() * kBlockBytes + entries_.capacity() * sizeof(std::uint64_t);
}

} // namespace Wirelog
