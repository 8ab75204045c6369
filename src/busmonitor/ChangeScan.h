// SPDX-License-Identifier: MIT
#pragma once
// Finding where two bits of packed logic samples change, at the speed memory hands the samples
// over: long stretches where neither bit moves are compared many samples at a time, so an idle
// bus costs bandwidth, not a branch per sample.
#include "busmonitor/CaptureReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Wirelog {

// How many of the `words` little-endian 64-bit words at `data` (any alignment) equal `same`
// in the bits of `mask`, counted from the first until one does not.
std::size_t CountSameWords(const unsigned char* data, std::size_t words, std::uint64_t same,
                           std::uint64_t mask);

// The changes of two chosen bits in samples of `unitSize` bytes (1 to 8, little endian), fed
// block by block in order; each block holds whole samples.
class ChangeScanner {
public:
    ChangeScanner(unsigned unitSize, unsigned sclBit, unsigned sdaBit);

    // Appends the changes among `samples` samples at `data` to `out`; `first` is the number of
    // data's first sample. The capture's first sample always gives an entry.
    void Scan(const unsigned char* data, std::size_t samples, std::uint64_t first,
              std::vector<BusLevels>& out);

    // Takes `last` as the levels before the next block, for a reader that keeps its own: the
    // capture's first sample then gives no entry unless it differs.
    void Resume(const BusLevels& last);

private:
    template <unsigned Unit>
    void ScanWords(const unsigned char* data, std::size_t samples, std::uint64_t first,
                   std::vector<BusLevels>& out);
    template <unsigned Unit>
    void TakeWord(std::uint64_t value, std::uint64_t number, std::vector<BusLevels>& out);
    void ScanSamples(const unsigned char* data, std::size_t from, std::size_t to,
                     std::uint64_t first, std::vector<BusLevels>& out);
    BusLevels Levels(std::uint64_t sample, std::uint64_t bits) const {
        return {sample, (bits & sclMask_) != 0, (bits & sdaMask_) != 0};
    }

    unsigned unit_;
    std::uint64_t sclMask_;
    std::uint64_t sdaMask_;
    std::uint64_t previous_ = 0;
    bool resumed_ = false;
};

} // namespace Wirelog
