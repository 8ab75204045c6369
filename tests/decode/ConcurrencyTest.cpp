#include "EventBuffer.h"
#include "Framing.h"
#include "LogDrain.h"
#include "LogLines.h"
#include "ViewTWI.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace Wirelog {
namespace {

// The reader thread frames reads while the window thread drains, with no lock between them:
// every drained record must be complete and in order. ThreadSanitizer reports a race on the
// records if the head were published without release or read without acquire.
TEST(EventBufferThreads, DrainSeesCompleteRecordsWhileTheReaderAppends) {
    div = 1000.0;
    ResetEventBuffer();
    ResetDecoder();

    constexpr int kReads = 4000;
    // Read r: the value byte of the code that ended read r - 1 (the value is r), a START, an
    // address, a data byte of value r, a STOP, and a data code whose value comes next read.
    std::vector<std::vector<std::uint8_t>> reads(kReads);
    for (int r = 0; r < kReads; ++r) {
        auto& read = reads[static_cast<std::size_t>(r)];
        const auto value = static_cast<std::uint8_t>(r);
        if (r > 0)
            read.push_back(value);
        read.insert(read.end(), {0x01, 0x07, 0xA0, 0x09, value, 0x02, 0x09});
    }

    std::atomic<bool> producerDone{false};
    std::thread reader([&] {
        PendingCode pending;
        for (int r = 0; r < kReads; ++r) {
            const auto& read = reads[static_cast<std::size_t>(r)];
            FrameBatch(read.data(), read.size(), r * 1000, pending);
        }
        producerDone.store(true, std::memory_order_release);
    });

    LogLines lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::size_t drained = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const bool done = producerDone.load(std::memory_order_acquire);
        drained += DrainEvents(lines);
        if (done)
            break;
        std::this_thread::yield();
    }
    reader.join();

    constexpr std::size_t kEventsPerRead = 5; // START, address, data, STOP, the split data
    ASSERT_EQ(drained, kReads * kEventsPerRead - 1) << "the last read's code is still pending";
    const auto dataLine = [](int r) {
        char value[8];
        std::snprintf(value, sizeof value, "0x%02X", r & 0xFF);
        return std::string("Data + ACK,            data = ") + value;
    };
    std::size_t at = 0;
    for (int r = 0; r < kReads; ++r) {
        if (r > 0) {
            ASSERT_EQ(lines[at++], dataLine(r)) << "read " << r;
        }
        ASSERT_EQ(lines[at++], "") << "read " << r;
        ASSERT_EQ(std::string(lines[at++]).rfind("START (valid)", 0), 0u) << "read " << r;
        ASSERT_EQ(lines[at++], "Address + Write + ACK, addr = 0x50");
        ASSERT_EQ(lines[at++], dataLine(r));
        ASSERT_EQ(lines[at++], "STOP (*** BUS IS IDLE ***)");
    }
    EXPECT_EQ(at, lines.size());
}

} // namespace
} // namespace Wirelog
