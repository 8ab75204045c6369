// SPDX-License-Identifier: MIT
// Throughput of the export writers on a typical bus, and what they hold while writing: a
// million events of register reads through each format (and through the address filter), the
// output handed on and emptied in rounds as the command line does.
#include "decode/ViewTWI.h"
#include "export/OutputFormat.h"
#include "export/TextWriters.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace Wirelog;

// A register read: START, address, register, repeated START, address, three data bytes (the
// last NAKed), STOP. 10 events, two transactions, one to 0x50 and one to 0x50 read.
std::vector<TWIevent> TypicalEvents(std::size_t events) {
    const std::vector<std::pair<std::uint8_t, std::uint8_t>> transaction = {
        {1, 0},    {7, 0xA0}, {9, 0x10}, {6, 0},     {7, 0xA1},
        {9, 0x57}, {9, 0x69}, {9, 0x70}, {10, 0x52}, {2, 0}};
    std::vector<TWIevent> out;
    for (std::int64_t tick = 0; out.size() < events; tick += 25)
        for (const auto& [code, value] : transaction)
            out.push_back({code, value, tick});
    return out;
}

void BM_Export(benchmark::State& state, OutputFormat format, const char* addresses) {
    const std::vector<TWIevent> events = TypicalEvents(1'000'000);
    AddressSet keep;
    std::string error;
    if (*addresses != '\0')
        ParseAddressList(addresses, keep, error);
    std::size_t written = 0, largestRound = 0;
    for (auto _ : state) {
        Wirelog::div = 1000.0;
        ResetDecoder();
        auto writer = MakeExportWriter(format, {1'000'000, 0}, keep, nullptr);
        std::string out;
        writer->begin(out);
        for (const TWIevent& e : events) {
            writer->write(e, out);
            if (out.size() >= (1u << 16)) { // a round handed on, as the pipeline does
                written += out.size();
                largestRound = std::max(largestRound, out.size());
                out.clear();
            }
        }
        writer->finish(out);
        written += out.size();
    }
    state.counters["events/s"] = benchmark::Counter(static_cast<double>(state.iterations()) *
                                                        static_cast<double>(events.size()),
                                                    benchmark::Counter::kIsRate);
    state.counters["bytes/event"] =
        static_cast<double>(written) /
        (static_cast<double>(state.iterations()) * static_cast<double>(events.size()));
    // The output never piles up: a round is handed on within one transaction of its threshold.
    state.counters["largest round"] = static_cast<double>(largestRound);
}

BENCHMARK_CAPTURE(BM_Export, transactions, OutputFormat::Transactions, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, csv, OutputFormat::Csv, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, jsonl, OutputFormat::Jsonl, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, pcap, OutputFormat::Pcap, "")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Export, csv_filtered, OutputFormat::Csv, "0x48")
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
