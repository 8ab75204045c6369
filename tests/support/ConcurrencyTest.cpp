// Several threads on one library and one handle, as the window thread and the reader use it.
#include "D2xxLibrary.h"
#include "ReceiveQueue.h"

#include <atomic>
#include <numeric>

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

using Concurrency = SimFixture;

TEST_F(Concurrency, CloseRacingTheReaderEndsItsCallsWithAStatus) {
    Configure("hw:off;dev:rate=1000000");
    for (int round = 0; round < 10; ++round) {
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(lib.Open(0, &handle), FT_STATUS{FT_OK});
        Write(handle, kStart);
        std::atomic<std::uint64_t> read{0};
        FT_STATUS last = FT_OK;
        std::thread reader([&] {
            std::vector<std::uint8_t> buffer(32768);
            while (true) {
                DWORD queued = 0;
                FT_STATUS status = lib.GetQueueStatus(handle, &queued);
                if (status == FT_OK && queued > 0) {
                    DWORD got = 0;
                    const DWORD request = std::min<DWORD>(queued, 32764);
                    status = lib.Read(handle, buffer.data(), request, &got);
                    read += got;
                }
                if (status != FT_OK) {
                    last = status;
                    return;
                }
            }
        });
        ASSERT_TRUE(WaitFor([&] { return read > 10000; }));
        EXPECT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
        reader.join();
        EXPECT_EQ(last, FT_STATUS{FT_INVALID_HANDLE});
    }
    EXPECT_EQ(Stats(0).closes, 10u);
}

TEST_F(Concurrency, CloseWakesAReadThatWaits) {
    // Without the wake-up these reads would wait for weeks.
    Configure("hw:off;dev:stream=idle;dev:stream=idle,read=block,block_ms=2000000000");
    for (int device : {0, 1}) {
        FT_HANDLE handle = nullptr;
        ASSERT_EQ(lib.Open(device, &handle), FT_STATUS{FT_OK});
        FT_STATUS status = FT_OK;
        std::thread reader([&] {
            std::uint8_t buffer[16];
            DWORD got = 0;
            status = lib.Read(handle, buffer, sizeof buffer, &got); // more than is queued
        });
        ASSERT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
        reader.join();
        EXPECT_NE(status, FT_STATUS{FT_OK}) << "device " << device;
    }
}

TEST_F(Concurrency, TwoReadersOnOneHandleShareTheBytesWithoutLossOrDuplicates) {
    Configure("hw:off;dev:stream=idle");
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(lib.Open(0, &handle), FT_STATUS{FT_OK});
    constexpr std::uint64_t kChunks = 400;
    constexpr std::size_t kChunk = 997;
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> count{0};
    std::atomic<std::uint64_t> sum{0};
    // Each reader runs until FT_Close ends its calls; a read may ask for bytes the other
    // reader has just taken and then waits for the next arrival, or for the close.
    auto reader = [&] {
        std::vector<std::uint8_t> buffer(8192);
        while (true) {
            DWORD queued = 0;
            if (lib.GetQueueStatus(handle, &queued) != FT_OK) {
                return;
            }
            DWORD got = 0;
            const DWORD request = std::min<DWORD>(queued, static_cast<DWORD>(buffer.size()));
            if (lib.Read(handle, buffer.data(), request, &got) != FT_OK) {
                return;
            }
            count += got;
            sum += std::accumulate(buffer.begin(), buffer.begin() + got, std::uint64_t{0});
        }
    };
    std::thread first(reader);
    std::thread second(reader);
    std::thread observer([&] {
        while (!done) {
            WirelogSimStats stats{};
            lib.GetStats(0, &stats);
            DWORD devices = 0;
            lib.ListDevices(&devices, nullptr, FT_LIST_NUMBER_ONLY);
        }
    });
    std::vector<std::uint8_t> chunk(kChunk);
    std::uint64_t expectedSum = 0;
    for (std::uint64_t i = 0; i < kChunks; ++i) {
        std::iota(chunk.begin(), chunk.end(), static_cast<std::uint8_t>(i));
        expectedSum += std::accumulate(chunk.begin(), chunk.end(), std::uint64_t{0});
        ASSERT_EQ(lib.Inject(0, chunk.data(), kChunk), 0);
    }
    const bool allRead = WaitFor([&] { return count >= kChunks * kChunk; });
    EXPECT_EQ(Stats(0).bytes_read, kChunks * kChunk);
    EXPECT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
    done = true;
    first.join();
    second.join();
    observer.join();
    ASSERT_TRUE(allRead);
    EXPECT_EQ(count, kChunks * kChunk);
    EXPECT_EQ(sum, expectedSum);
}

TEST(ConcurrencyQueue, ProducerAndConsumerKeepTheOrderThroughASmallRing) {
    Wirelog::d2xx::ReceiveQueue queue(1000);
    constexpr std::size_t kTotal = 300000;
    std::thread producer([&] {
        std::vector<std::uint8_t> chunk(777);
        std::size_t next = 0;
        while (next < kTotal) {
            const std::size_t size = std::min(chunk.size(), kTotal - next);
            for (std::size_t i = 0; i < size; ++i) {
                chunk[i] = static_cast<std::uint8_t>((next + i) % 253);
            }
            std::size_t done = 0;
            while (done < size) {
                done += queue.Push(chunk.data() + done, size - done);
                queue.WaitForSpace(Clock::now() + 1s);
            }
            next += size;
        }
    });
    std::vector<std::uint8_t> buffer(613);
    std::size_t received = 0;
    bool inOrder = true;
    while (received < kTotal) {
        ASSERT_TRUE(queue.WaitForBytes(1, Clock::now() + 10s));
        const std::size_t got = queue.Pop(buffer.data(), buffer.size());
        for (std::size_t i = 0; i < got; ++i) {
            inOrder = inOrder && buffer[i] == (received + i) % 253;
        }
        received += got;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(queue.Size(), 0u);
}

} // namespace
