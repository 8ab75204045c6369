#pragma once
// The log's text, stored compactly: one arena of fixed-size blocks plus one packed entry per
// line. Appending never moves text already stored, and an empty separator line costs 8 bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace Wirelog {

class LogLines {
public:
    static constexpr std::size_t kBlockBytes = 1 << 20;
    static constexpr std::size_t kMaxLineBytes = 0xFFFF;

    // Lines longer than kMaxLineBytes are cut there; no decoder line comes near it.
    void append(std::string_view line);
    void clear();

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    std::string_view operator[](std::size_t i) const;

    // Heap bytes held, for the memory figures.
    std::size_t bytesReserved() const;

private:
    // Offset into the arena in the upper 48 bits, length in the lower 16.
    std::vector<std::uint64_t> entries_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t usedInLastBlock_ = kBlockBytes;
};

} // namespace Wirelog
