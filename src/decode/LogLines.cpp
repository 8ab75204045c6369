// SPDX-License-Identifier: MIT
#include "decode/LogLines.h"

#include <algorithm>
#include <cstring>

namespace Wirelog {

void LogLines::growEntries() {
    entryChunks_.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(kEntriesPerChunk));
    entryCapacity_ += kEntriesPerChunk;
}

char* LogLines::makeRoom(std::size_t maxLength) {
    if (size_ == entryCapacity_)
        growEntries();
    // A line never straddles two blocks, so every line is one contiguous view.
    if (usedInLastBlock_ + maxLength > kBlockBytes) {
        if (blocksInUse_ == blocks_.size())
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
        lastBlock_ = blocks_[blocksInUse_++].get();
        usedInLastBlock_ = 0;
    }
    return lastBlock_ + usedInLastBlock_;
}

void LogLines::append(std::string_view line) {
    const std::size_t length = std::min(line.size(), kMaxLineBytes);
    if (length == 0) {
        // Separator lines take no text: their entry is 0, wherever the arena stands (there may
        // be no block yet, or the last one may be exactly full).
        if (size_ == entryCapacity_)
            growEntries();
        entry(size_++) = 0;
        return;
    }
    appendWritten(length, [&](char* out) {
        std::memcpy(out, line.data(), length);
        return length;
    });
}

void LogLines::clear() {
    rewind();
    entryCapacity_ = 0;
    entryChunks_.clear();
    entryChunks_.shrink_to_fit();
    blocks_.clear();
    blocks_.shrink_to_fit();
}

void LogLines::rewind() {
    size_ = 0;
    blocksInUse_ = 0;
    lastBlock_ = nullptr;
    usedInLastBlock_ = kBlockBytes;
}

std::string_view LogLines::operator[](std::size_t i) const {
    const std::uint64_t packed = entry(i);
    const auto length = static_cast<std::size_t>(packed & 0xFFFF);
    if (length == 0)
        return {};
    const std::uint64_t offset = packed >> 16;
    const char* block = blocks_[offset / kBlockBytes].get();
    return {block + offset % kBlockBytes, length};
}

std::size_t LogLines::bytesReserved() const {
    return blocks_.size() * kBlockBytes +
           entryChunks_.size() * kEntriesPerChunk * sizeof(std::uint64_t);
}

} // namespace Wirelog
