// SPDX-License-Identifier: MIT
// The command line's pipeline: no event limit, a bound on request, and the cuts between parts.
#include "cli/LogPipeline.h"
#include "decode/LogTextWriter.h"
#include "events/EventBuffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace Wirelog::cli {
namespace {

// Reads of `stream`, each `readBytes` long, through a pipeline; the output in parts, one more
// at every cut.
std::vector<std::string> RunParts(const std::vector<std::uint8_t>& stream, std::size_t readBytes,
                                  std::uint64_t cutBytes, std::uint64_t maxEvents = 0) {
    std::vector<std::string> parts(1);
    LogPipeline pipeline(1000.0, std::make_unique<LogTextWriter>(), [&](std::string_view bytes) {
        parts.back().append(bytes);
        return true;
    });
    if (cutBytes != 0)
        pipeline.CutEvery(cutBytes, [&] {
            parts.emplace_back();
            return true;
        });
    pipeline.LimitEvents(maxEvents);
    for (std::size_t at = 0; at < stream.size(); at += readBytes)
        EXPECT_TRUE(
            pipeline.addRead(0, stream.data() + at, std::min(readBytes, stream.size() - at)));
    EXPECT_TRUE(pipeline.finish());
    EXPECT_LE(myevtHead.load(), kEventCapacity);
    return parts;
}

std::size_t CountEvents(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        count += end > at;
    return count;
}

TEST(LogPipeline, WritesPastTheBuffersCapacityInAnyReadSizeAndStopsAtTheBound) {
    // Short writes and idle-bus codes, six events in eight bytes: 1,200,000 events, past the
    // 999,999 a buffer holds.
    std::vector<std::uint8_t> stream;
    while (stream.size() < 1'600'000)
        stream.insert(stream.end(), {0x01, 0x07, 0xA0, 0x09, 0x42, 0x02, 0x05, 0x05});
    const std::string whole = RunParts(stream, stream.size(), 0)[0];
    EXPECT_EQ(CountEvents(whole), 1'200'000u);
    for (const std::size_t readBytes : {1u, 4096u, 999'999u})
        EXPECT_TRUE(RunParts(stream, readBytes, 0)[0] == whole) << readBytes;
    const std::string bounded = RunParts(stream, 65'536, 0, 999'999)[0];
    EXPECT_EQ(CountEvents(bounded), 999'999u);
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
    const std::string whole = RunParts(stream, stream.size(), 0)[0];
    const std::vector<std::string> parts = RunParts(stream, 7, 300);
    EXPECT_TRUE(std::accumulate(parts.begin(), parts.end(), std::string()) == whole);
    std::size_t forced = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(parts[i].size(), 300u);
        EXPECT_LE(parts[i].size(), 600u + 40u);
        if (i > 0 && !parts[i].starts_with("\r\nSTART (valid)"))
            ++forced;
    }
    EXPECT_EQ(forced, 3u) << "the long transaction's cuts";
    EXPECT_GE(parts.size(), 10u);
}

} // namespace
} // namespace Wirelog::cli
