// SPDX-License-Identifier: MIT
#include "decode/LogLines.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#elif defined(_WIN32)
#include <malloc.h>
#endif

namespace Wirelog {
namespace {

// Uninitialised, so no page is touched before a line is written to it.
void* AllocateLarge(std::size_t bytes) {
#ifdef _WIN32
    void* memory = _aligned_malloc(bytes, LogLines::kBlockBytes);
#else
    void* memory = std::aligned_alloc(LogLines::kBlockBytes, bytes);
#endif
    if (memory == nullptr)
        throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // One fault per 2 MB instead of 512; where the kernel has no huge pages this is a no-op.
    madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    return memory;
}

} // namespace

void LogLines::FreeLarge::operator()(void* memory) const {
#ifdef _WIN32
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

void LogLines::GrowEntries() {
    const std::size_t chunk = entryCapacity_ / kEntriesPerChunk;
    if (chunk == entryChunks_.size()) {
        Large<std::uint64_t> entries(
            static_cast<std::uint64_t*>(AllocateLarge(kEntriesPerChunk * sizeof(std::uint64_t))));
        entryChunks_.push_back(std::move(entries));
    }
    entryCapacity_ += kEntriesPerChunk;
}

char* LogLines::MakeRoom(std::size_t maxLength) {
    if (size_ == entryCapacity_)
        GrowEntries();
    // A line never straddles two blocks, so every line is one contiguous view.
    if (usedInLastBlock_ + maxLength > kBlockBytes) {
        if (blocksInUse_ == blocks_.size()) {
            Large<char> block(static_cast<char*>(AllocateLarge(kBlockBytes)));
            blocks_.push_back(std::move(block));
        }
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
            GrowEntries();
        EntryAt(size_++) = 0;
        return;
    }
    AppendWritten(length, [&](char* out) {
        std::memcpy(out, line.data(), length);
        return length;
    });
}

void LogLines::clear() {
    size_ = 0;
    entryCapacity_ = 0;
    blocksInUse_ = 0;
    lastBlock_ = nullptr;
    usedInLastBlock_ = kBlockBytes;
}

std::string_view LogLines::operator[](std::size_t i) const {
    const std::uint64_t packed = EntryAt(i);
    const auto length = static_cast<std::size_t>(packed & 0xFFFF);
    if (length == 0)
        return {};
    const std::uint64_t offset = packed >> 16;
    const char* block = blocks_[offset / kBlockBytes].get();
    return {block + offset % kBlockBytes, length};
}

std::size_t LogLines::BytesReserved() const {
    return (blocks_.size() + entryChunks_.size()) * kBlockBytes;
}

} // namespace Wirelog
