// SPDX-License-Identifier: MIT
// Several threads on one library and one handle, as the window thread and the reader use it.
#include "D2xxLibrary.h"
#include "ReceiveQueue.h"

#include <atomic>

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

using Concurrency = SimFixture;

TEST_F(Concurrency, CloseRacingTheReaderEndsItsCallsWithAStatus) {
    Configure("hw:off;dev:rate=1000000");
    for (int round = 0; round < 10; ++round) {
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(lib.FT_Open(0, &handle), FT_STATUS{FT_OK});
        Write(handle, kStart);
        std::atomic<std::uint64_t> read{0};
        FT_STATUS last = FT_OK;
        std::thread reader([&] {
            Bytes buffer(32764);
            while (last == FT_OK) {
                DWORD queued = 0, got = 0;
                last = lib.FT_GetQueueStatus(handle, &queued);
                if (last == FT_OK && queued > 0)
                    last = lib.FT_Read(handle, buffer.data(), std::min<DWORD>(queued, 32764), &got);
                read += got;
            }
        });
        ASSERT_TRUE(WaitFor([&] { return read > 10000; }));
        EXPECT_EQ(lib.FT_Close(handle), FT_STATUS{FT_OK});
        reader.join();
        EXPECT_EQ(last, FT_STATUS{FT_INVALID_HANDLE});
    }
    EXPECT_EQ(Stats(0).closes, 10u);
}

TEST(ConcurrencyQueue, ProducerAndConsumerKeepTheOrderThroughASmallRing) {
    Wirelog::d2xx::ReceiveQueue queue(1000);
    constexpr std::size_t kTotal = 300000;
    std::thread producer([&] {
        Bytes chunk(777);
        for (std::size_t next = 0; next < kTotal;) {
            const std::size_t size = std::min(chunk.size(), kTotal - next);
            for (std::size_t i = 0; i < size; ++i)
                chunk[i] = static_cast<std::uint8_t>((next + i) % 253);
            for (std::size_t pushed = 0; pushed < size;) {
                pushed += queue.Push(chunk.data() + pushed, size - pushed);
                queue.WaitForSpace(Clock::now() + 1s);
            }
            next += size;
        }
    });
    Bytes buffer(613);
    std::size_t received = 0, outOfOrder = 0;
    while (received < kTotal && queue.WaitForBytes(1, Clock::now() + 10s)) {
        const std::size_t got = queue.Pop(buffer.data(), buffer.size());
        for (std::size_t i = 0; i < got; ++i)
            outOfOrder += buffer[i] != (received + i) % 253;
        received += got;
    }
    producer.join();
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(queue.Size(), 0u);
}

} // namespace
