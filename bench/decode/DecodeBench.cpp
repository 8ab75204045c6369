// SPDX-License-Identifier: MIT
// Throughput of the capture core: framing reads into the event buffer, and turning a full
// buffer into stored log lines.
#include "decode/LogDrain.h"
#include "decode/LogLines.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"
#include "events/Framing.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using namespace Wirelog;

constexpr std::size_t kLargestRead = 32'764;

// A register read as a bus shows it: START, address, register, repeated START, address, three
// data bytes, NAK, STOP. 19 bytes, 10 events.
std::vector<std::uint8_t> TypicalStream(std::size_t events) {
    const std::uint8_t transaction[] = {0x01, 0x07, 0xA0, 0x09, 0x10, 0x06, 0x07, 0xA1, 0x09, 0x57,
                                        0x09, 0x69, 0x09, 0x70, 0x0A, 0x52, 0x02, 0x05, 0x00};
    std::vector<std::uint8_t> stream;
    while (stream.size() / 19 * 10 < events)
        stream.insert(stream.end(), std::begin(transaction), std::end(transaction));
    return stream;
}

// Frames a stream that just fills the buffer, in reads of the reader's largest size.
void FrameAll(const std::vector<std::uint8_t>& stream) {
    PendingCode pending;
    std::int64_t stamp = 0;
    for (std::size_t at = 0; at < stream.size(); at += kLargestRead) {
        const std::size_t count = std::min(kLargestRead, stream.size() - at);
        FrameBatch(stream.data() + at, count, stamp, pending);
        stamp += 2'000'000;
    }
}

void BM_FrameTypicalStream(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = TypicalStream(kEventCapacity - 10);
    for (auto _ : state) {
        ResetEventBuffer();
        FrameAll(stream);
        benchmark::DoNotOptimize(myevtHead.load());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["events/s"] = benchmark::Counter(static_cast<double>(state.iterations()) *
                                                        static_cast<double>(myevtHead.load()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FrameTypicalStream)->Unit(benchmark::kMillisecond);

// The same work on a buffer region that stays in cache: the gap to the full-buffer figure is
// the cost of writing 16-byte records into 16 MB of memory.
void BM_FrameCacheResident(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = TypicalStream(30'000);
    for (auto _ : state) {
        ResetEventBuffer();
        PendingCode pending;
        FrameBatch(stream.data(), stream.size(), 0, pending);
        benchmark::DoNotOptimize(myevtHead.load());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_FrameCacheResident)->Unit(benchmark::kMicrosecond);

// The worst case per byte: every byte is an event of its own.
void BM_FrameOneByteEvents(benchmark::State& state) {
    const std::vector<std::uint8_t> stream(kEventCapacity, 0x05);
    for (auto _ : state) {
        ResetEventBuffer();
        FrameAll(stream);
        benchmark::DoNotOptimize(myevtHead.load());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_FrameOneByteEvents)->Unit(benchmark::kMillisecond);

// A full buffer (999,999 events) decoded, separated and stored, as one long log refresh.
void BM_DrainFullBuffer(benchmark::State& state) {
    Wirelog::div = 1'000'000.0;
    ResetEventBuffer();
    FrameAll(TypicalStream(kEventCapacity + 100));
    const std::uint32_t events = myevtHead.load();
    std::size_t lines = 0;
    for (auto _ : state) {
        myevtTail = 0;
        ResetDecoder();
        LogLines log;
        DrainEvents(log);
        lines = log.size();
        benchmark::DoNotOptimize(log);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * events));
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_DrainFullBuffer)->Unit(benchmark::kMillisecond);

// The same into a store whose memory is already mapped (as the command line reuses it between
// flushes): the gap to the figure above is the kernel handing out fresh pages.
void BM_DrainFullBufferWarmStore(benchmark::State& state) {
    Wirelog::div = 1'000'000.0;
    ResetEventBuffer();
    FrameAll(TypicalStream(kEventCapacity + 100));
    const std::uint32_t events = myevtHead.load();
    LogLines log;
    for (auto _ : state) {
        myevtTail = 0;
        ResetDecoder();
        log.clear();
        DrainEvents(log);
        benchmark::DoNotOptimize(log);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * events));
}
BENCHMARK(BM_DrainFullBufferWarmStore)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
