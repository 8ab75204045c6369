// SPDX-License-Identifier: MIT
#pragma once
// Blocks of bytes made by one function and taken in order by a reader: made ahead on a thread
// of their own (inflating a long capture on one core while the other scans it), or made on
// the reader's thread when taken (a short capture is not worth a thread). The blocks live in a
// fixed set of buffers: the maker waits while all of them are full, so memory stays the same
// whichever side is slower.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace Wirelog {

class BlockPipeline {
public:
    // Fills `out` with up to `size` bytes, fewer only at the end of the data. May throw.
    using Make = std::function<std::size_t(unsigned char* out, std::size_t size)>;

    // `buffers` of `blockBytes` each; `ahead` starts the maker's thread.
    BlockPipeline(std::size_t blockBytes, std::size_t buffers, bool ahead, Make make);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // The next block, valid until the next call; empty once the data is over. An error of the
    // maker is thrown here, after the blocks made before it.
    std::span<const unsigned char> Take();

private:
    void MakeAhead();
    std::span<const unsigned char> TakeMadeAhead();

    std::size_t blockBytes_;
    Make make_;
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
    std::vector<std::size_t> sizes_;

    std::mutex mutex_;
    std::condition_variable made_;  // a block is ready, or the maker stopped
    std::condition_variable freed_; // a buffer is free again, or the reader left
    std::uint64_t madeCount_ = 0;   // blocks made so far
    std::uint64_t takenCount_ = 0;  // blocks handed to the reader
    bool holding_ = false;          // the reader still uses the last block taken
    bool over_ = false;             // the maker made its last block or failed
    bool leaving_ = false;          // the reader is gone: stop making
    std::exception_ptr error_;
    std::thread maker_; // last: started once everything above is ready
};

} // namespace Wirelog
