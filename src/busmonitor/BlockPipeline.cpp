// SPDX-License-Identifier: MIT
#include "busmonitor/BlockPipeline.h"

#include <utility>

namespace Wirelog {

BlockPipeline::BlockPipeline(std::size_t blockBytes, std::size_t buffers, bool ahead, Make make)
    : blockBytes_(blockBytes), make_(std::move(make)), sizes_(ahead ? buffers : 1) {
    for (std::size_t i = 0; i < sizes_.size(); ++i) {
        buffers_.push_back(std::make_unique_for_overwrite<unsigned char[]>(blockBytes));
    }
    if (ahead) {
        maker_ = std::thread([this] { MakeAhead(); });
    }
}

BlockPipeline::~BlockPipeline() {
    if (!maker_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        leaving_ = true;
    }
    freed_.notify_one();
    maker_.join();
}

std::span<const unsigned char> BlockPipeline::Take() {
    if (maker_.joinable()) {
        return TakeMadeAhead();
    }
    if (over_) {
        return {};
    }
    const std::size_t size = make_(buffers_[0].get(), blockBytes_);
    over_ = size < blockBytes_;
    return {buffers_[0].get(), size};
}

void BlockPipeline::MakeAhead() {
    const std::size_t count = buffers_.size();
    for (std::uint64_t next = 0;; ++next) {
        {
            std::unique_lock lock(mutex_);
            // The buffer of block `next` is free once the reader is done with block next-count.
            freed_.wait(
                lock, [&] { return leaving_ || next - takenCount_ + (holding_ ? 1 : 0) < count; });
            if (leaving_) {
                return;
            }
        }
        std::size_t size = 0;
        std::exception_ptr error;
        try {
            size = make_(buffers_[next % count].get(), blockBytes_);
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            sizes_[next % count] = size;
            madeCount_ += error ? 0 : 1;
            over_ = error || size < blockBytes_;
            error_ = error;
        }
        made_.notify_one();
        if (error || size < blockBytes_) {
            return;
        }
    }
}

std::span<const unsigned char> BlockPipeline::TakeMadeAhead() {
    std::unique_lock lock(mutex_);
    if (std::exchange(holding_, false)) {
        freed_.notify_one();
    }
    made_.wait(lock, [&] { return takenCount_ < madeCount_ || over_; });
    if (takenCount_ < madeCount_) {
        const std::size_t slot = takenCount_++ % buffers_.size();
        holding_ = true;
        return {buffers_[slot].get(), sizes_[slot]};
    }
    if (error_) {
        std::rethrow_exception(std::exchange(error_, nullptr));
    }
    return {};
}

} // namespace Wirelog
