#include "ReceiveQueue.h"

#include "ftd2xx.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using Wirelog::Adapter::ReceiveQueue;

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

TEST(ReceiveQueue, WaitsEndAtOnceWhenSatisfiedOrClosed) {
    ReceiveQueue queue(100);
    const auto soon = ReceiveQueue::Clock::now();
    const std::uint8_t byte = 1;
    EXPECT_FALSE(queue.WaitForBytes(1, soon));
    queue.Push(&byte, 1);
    EXPECT_TRUE(queue.WaitForBytes(1, soon));
    EXPECT_FALSE(queue.WaitForBytes(2, soon));
    EXPECT_TRUE(queue.WaitForSpace(soon));
    queue.Close();
    EXPECT_TRUE(queue.IsClosed());
    // A closed queue never makes anyone wait, and keeps what it holds.
    EXPECT_FALSE(queue.WaitForBytes(2, ReceiveQueue::Clock::time_point::max()));
    EXPECT_FALSE(queue.WaitForSpace(ReceiveQueue::Clock::time_point::max()));
    EXPECT_EQ(queue.Size(), 1u);
}

#ifndef _WIN32
class EventObject : public ::testing::Test {
protected:
    EventObject() {
        pthread_cond_init(&event.eCondVar, nullptr);
        pthread_mutex_init(&event.eMutex, nullptr);
        event.iVar = 0;
    }
    ~EventObject() override {
        pthread_cond_destroy(&event.eCondVar);
        pthread_mutex_destroy(&event.eMutex);
    }
    EVENT_HANDLE event;
};

TEST_F(EventObject, IsSignalledOncePerArrivalOnlyWhileRegisteredForReceive) {
    ReceiveQueue queue(4);
    const auto bytes = Sequence(8);
    queue.Push(bytes.data(), 1);
    EXPECT_EQ(event.iVar, 0) << "signalled before it was registered";

    queue.SetNotification(FT_EVENT_MODEM_STATUS, &event);
    queue.Push(bytes.data(), 1);
    EXPECT_EQ(event.iVar, 0) << "signalled for a mask without FT_EVENT_RXCHAR";

    queue.SetNotification(FT_EVENT_RXCHAR | FT_EVENT_MODEM_STATUS, &event);
    queue.Push(bytes.data(), 1);
    EXPECT_EQ(event.iVar, 1);

    event.iVar = 0;
    queue.Push(bytes.data(), 0);
    queue.Push(bytes.data(), 5); // one byte fits
    EXPECT_EQ(event.iVar, 1);
    event.iVar = 0;
    queue.Push(bytes.data(), 5); // full: nothing arrived
    EXPECT_EQ(event.iVar, 0);

    std::uint8_t out[4];
    queue.Pop(out, sizeof out);
    queue.SetNotification(FT_EVENT_RXCHAR, nullptr);
    queue.Push(bytes.data(), 1);
    EXPECT_EQ(event.iVar, 0) << "signalled after it was unregistered";
}
#endif

} // namespace
