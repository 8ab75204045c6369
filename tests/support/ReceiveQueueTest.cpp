#include "ReceiveQueue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using Wirelog::d2xx::ReceiveQueue;

namespace {

std::vector<std::uint8_t> Sequence(std::size_t size, std::uint8_t first = 0) {
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(ReceiveQueue, KeepsOrderAcrossWrapAndGrowth) {
    ReceiveQueue queue(300000);
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> got;
    std::uint8_t next = 0;
    // Uneven pushes and pops wrap the ring many times, and push past its first size.
    for (std::size_t round = 0; round < 50; ++round) {
        const auto bytes = Sequence(1000 + round * 3001 % 90000, next);
        next = static_cast<std::uint8_t>(next + bytes.size());
        ASSERT_EQ(queue.Push(bytes.data(), bytes.size()), bytes.size());
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        std::vector<std::uint8_t> out(queue.Size() * 2 / 3 + 1);
        out.resize(queue.Pop(out.data(), out.size()));
        got.insert(got.end(), out.begin(), out.end());
    }
    std::vector<std::uint8_t> rest(queue.Size() + 10);
    rest.resize(queue.Pop(rest.data(), rest.size()));
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
    EXPECT_EQ(queue.Size(), 0u);
}

TEST(ReceiveQueue, TakesOnlyWhatFitsAndGivesOnlyWhatIsThere) {
    ReceiveQueue queue(10);
    const auto bytes = Sequence(25);
    EXPECT_EQ(queue.Push(bytes.data(), bytes.size()), 10u);
    EXPECT_EQ(queue.Space(), 0u);
    EXPECT_EQ(queue.Push(bytes.data(), 1), 0u);
    std::uint8_t out[20] = {};
    EXPECT_EQ(queue.Pop(out, 4), 4u);
    EXPECT_EQ(queue.Push(bytes.data() + 10, 15), 4u);
    EXPECT_EQ(queue.Pop(out, sizeof out), 10u);
    const std::vector<std::uint8_t> expected = {4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 10), expected);
    EXPECT_EQ(queue.Pop(out, sizeof out), 0u);
}

} // namespace
