// SPDX-License-Identifier: MIT
// The command line's pipeline: no event limit, a bound on request, and the cuts between parts.
#include "cli/LogPipeline.h"
#include "decode/LogTextWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace Wirelog::cli {
namespace {

// `stream` in reads of `readBytes` through a pipeline; the output in parts, one more per cut.
std::vector<std::string> Decode(const std::vector<std::uint8_t>& stream, std::size_t readBytes,
                                std::uint64_t cutBytes, std::uint64_t maxEvents = 0) {
    std::vector<std::string> parts(1);
    LogPipeline pipeline(1000.0, std::make_unique<LogTextWriter>(),
                         [&](std::string_view bytes) { return parts.back().append(bytes), true; });
    if (cutBytes != 0)
        pipeline.CutEvery(cutBytes, [&] { return parts.emplace_back(), true; });
    pipeline.LimitEvents(maxEvents);
    for (std::size_t at = 0; at < stream.size(); at += readBytes)
        pipeline.addRead(0, stream.data() + at, std::min(readBytes, stream.size() - at));
    EXPECT_TRUE(pipeline.finish());
    return parts;
}

TEST(LogPipeline, WritesPastTheBuffersCapacityInAnyReadSizeAndStopsAtTheBound) {
    std::vector<std::uint8_t> stream; // 1,200,000 events, each START with its empty line
    for (int i = 0; i < 200'000; ++i)
        stream.insert(stream.end(), {0x01, 0x07, 0xA0, 0x09, 0x42, 0x02, 0x05, 0x05});
    const std::string whole = Decode(stream, stream.size(), 0)[0];
    EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), 1'200'000 + 200'000);
    for (const std::size_t readBytes : {1u, 4096u, 999'999u})
        EXPECT_TRUE(Decode(stream, readBytes, 0)[0] == whole) << readBytes;
    const std::string bounded = Decode(stream, 65'536, 0, 999'999)[0];
    EXPECT_EQ(std::count(bounded.begin(), bounded.end(), '\n'), 999'999 + 166'667);
    EXPECT_TRUE(whole.starts_with(bounded));
}

// Parts end where a transaction has ended, so each after the first begins with the empty line of
// its START; a transaction that outgrows twice the size is cut where it stands.
TEST(LogPipeline, CutsPartsBetweenTransactionsUnlessOneOutgrowsTwiceTheSize) {
    std::vector<std::uint8_t> stream{0x00, 0x05};
    for (int transaction = 0; transaction < 40; ++transaction) {
        stream.insert(stream.end(), {0x01, 0x07, 0xA0});
        for (int data = 0; data < (transaction == 20 ? 60 : 3); ++data)
            stream.insert(stream.end(), {0x09, static_cast<std::uint8_t>(data)});
        stream.push_back(0x02);
    }
    const std::vector<std::string> parts = Decode(stream, 7, 300);
    EXPECT_TRUE(std::accumulate(parts.begin(), parts.end(), std::string()) ==
                Decode(stream, stream.size(), 0)[0]);
    EXPECT_GE(parts.size(), 10u);
    std::size_t forced = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        EXPECT_TRUE(parts[i].size() >= 300 && parts[i].size() <= 640) << i;
        forced += i > 0 && !parts[i].starts_with("\r\nSTART (valid)");
    }
    EXPECT_EQ(forced, 3u) << "the long transaction's cuts";
}

} // namespace
} // namespace Wirelog::cli
