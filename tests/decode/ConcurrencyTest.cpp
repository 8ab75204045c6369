// SPDX-License-Identifier: MIT
#include "decode/LogDrain.h"
#include "decode/LogLines.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"
#include "events/Framing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    std::atomic<bool> producerDone{false};
    std::thread reader([&] {
        // Read r: the value r of the code that ended read r - 1, a START, an address, a data
        // byte of value r, a STOP, and a data code whose value comes with the next read.
        PendingCode pending;
        for (int r = 0; r < kReads; ++r) {
            const auto value = static_cast<std::uint8_t>(r);
            std::vector<std::uint8_t> read = {value, 0x01, 0x07, 0xA0, 0x09, value, 0x02, 0x09};
            const std::size_t skip = r == 0 ? 1 : 0;
            FrameBatch(read.data() + skip, read.size() - skip, r * 1000, pending);
        }
        producerDone.store(true, std::memory_order_release);
    });

    LogLines lines;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::size_t drained = 0;
    for (bool done = false; !done && std::chrono::steady_clock::now() < deadline;) {
        done = producerDone.load(std::memory_order_acquire);
        drained += DrainEvents(lines);
        std::this_thread::yield();
    }
    reader.join();

    ASSERT_EQ(drained, kReads * 5u - 1) << "five events a read; the last code still waits";
    const auto data = [](int r) { return ViewTWI(9, static_cast<std::uint8_t>(r), 0); };
    std::size_t at = 0;
    for (int r = 0; r < kReads; ++r) {
        SCOPED_TRACE(r);
        if (r > 0) {
            ASSERT_EQ(lines[at++], data(r));
        }
        ASSERT_EQ(lines[at++], "");
        ASSERT_EQ(std::string(lines[at++]).rfind("START (valid)", 0), 0u);
        ASSERT_EQ(lines[at++], "Address + Write + ACK, addr = 0x50");
        ASSERT_EQ(lines[at++], data(r));
        ASSERT_EQ(lines[at++], "STOP (*** BUS IS IDLE ***)");
    }
    EXPECT_EQ(at, lines.size());
}

} // namespace
} // namespace Wirelog
