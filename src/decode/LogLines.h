// SPDX-License-Identifier: MIT
#pragma once
// The log's text, stored compactly: one arena of fixed-size blocks plus one packed entry per
// line, the entries themselves in fixed-size chunks. Appending never moves anything already
// stored (no regrowth copies, no transient double footprint), and an empty separator line costs
// 8 bytes.
//
// A fresh page costs the kernel far more than the decoder spends filling it, so the store is
// careful with memory: blocks and chunks are one huge page each, aligned to it and offered to
// the kernel as transparent huge pages where it has them, and clear() keeps them for the lines
// of the next capture instead of handing them back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace Wirelog {

class LogLines {
public:
    // One huge page on x86-64 and most ARM64 systems.
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 21;
    static constexpr std::size_t kMaxLineBytes = 0xFFFF;
    static constexpr std::size_t kEntriesPerChunk = kBlockBytes / sizeof(std::uint64_t);

    // Lines longer than kMaxLineBytes are cut there; no decoder line comes near it.
    void append(std::string_view line);

    // Appends a line that `write(char* out)` writes in place, returning its length, which must
    // not exceed maxLength (1 to kMaxLineBytes). Saves building the line elsewhere and copying
    // it in.
    template <typename Writer> void AppendWritten(std::size_t maxLength, Writer&& write) {
        char* out = size_ < entryCapacity_ && usedInLastBlock_ + maxLength <= kBlockBytes
                        ? lastBlock_ + usedInLastBlock_
                        : MakeRoom(maxLength);
        const std::size_t length = write(out);
        EntryAt(size_++) = length == 0 ? 0 : Pack(usedInLastBlock_, length);
        usedInLastBlock_ += length;
    }

    // Empties the log but keeps its memory for the lines that follow.
    void clear();

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view operator[](std::size_t i) const;

    // Heap bytes held, for the memory figures.
    std::size_t BytesReserved() const;

private:
    struct FreeLarge {
        void operator()(void* memory) const;
    };
    template <typename T> using Large = std::unique_ptr<T[], FreeLarge>;

    // Starts an entry chunk and a text block as needed for one more line of maxLength bytes.
    char* MakeRoom(std::size_t maxLength);
    void GrowEntries();
    std::uint64_t Pack(std::size_t offsetInBlock, std::size_t length) const {
        return static_cast<std::uint64_t>((blocksInUse_ - 1) * kBlockBytes + offsetInBlock) << 16 |
               length;
    }
    std::uint64_t& EntryAt(std::size_t i) const {
        return entryChunks_[i / kEntriesPerChunk][i % kEntriesPerChunk];
    }

    // Each entry: offset into the arena in the upper 48 bits, length in the lower 16; 0 for an
    // empty line.
    std::vector<Large<std::uint64_t>> entryChunks_;
    std::vector<Large<char>> blocks_;
    std::size_t size_ = 0;
    std::size_t entryCapacity_ = 0; // entries in the chunks in use so far
    std::size_t blocksInUse_ = 0;
    char* lastBlock_ = nullptr; // the block in use, null before the first
    std::size_t usedInLastBlock_ = kBlockBytes;
};

} // namespace Wirelog
