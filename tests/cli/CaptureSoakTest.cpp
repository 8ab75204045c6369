// SPDX-License-Identifier: MIT
// A long capture of the saturated simulated module (ten minutes unless WIRELOG_SOAK_SECONDS says
// otherwise), rotated into files that are checked against the demo traffic and removed as soon
// as they are finished, so the disk holds little however long it runs.
#include "CliProcess.h"
#include "DemoReference.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The child's resident size now, in KiB (0 once it is gone).
long ResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// Feeds the finished parts to the checker in order and removes them; the unfinished one too
// once `all` is set.
void TakeFinishedParts(const fs::path& dir, LogChecker& checker, bool all) {
    std::vector<std::string> names = WirelogTest::Listing(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.ends_with(".partial") && !all)
            return;
        std::ifstream part(dir / name, std::ios::binary);
        std::vector<char> block(1 << 20);
        while (part.read(block.data(), static_cast<std::streamsize>(block.size())) ||
               part.gcount() > 0)
            checker.Feed({block.data(), static_cast<std::size_t>(part.gcount())});
        fs::remove(dir / name);
    }
}

TEST(CaptureSoak, ASaturatedBusForTenMinutesIsWrittenWholeInFlatMemory) {
    const char* seconds = std::getenv("WIRELOG_SOAK_SECONDS");
    const fs::path dir = fs::temp_directory_path() / ("wirelog soak " + WirelogTest::ProcessId());
    fs::create_directories(dir);
    CliRun run = SimRun({"capture", "--seconds", seconds ? seconds : "600", "--rotate", "64M", "-o",
                         (dir / "bus.log").string()},
                        "hw:off;dev:rate=630000");
    LogChecker checker;
    std::atomic<bool> ended{false};
    std::thread consumer;
    long firstResident = 0, peakResident = 0;
    run.onStart = [&](pid_t pid) {
        consumer = std::thread([&, pid] {
            while (!ended.load()) {
                TakeFinishedParts(dir, checker, false);
                const long resident = ResidentKilobytes(pid);
                if (firstResident == 0 && checker.events > 10'000'000)
                    firstResident = resident;
                peakResident = std::max(peakResident, resident);
                WirelogTest::WaitFor([&] { return ended.load(); }, 1s);
            }
        });
    };
    const auto result = RunCli(run);
    ended = true;
    consumer.join();
    TakeFinishedParts(dir, checker, true);
    fs::remove_all(dir);

    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "") << "no loss, no overrun";
    EXPECT_TRUE(checker.mismatch.empty()) << checker.mismatch;
    EXPECT_TRUE(checker.Rest().empty());
    std::printf("%llu events, resident %ld KiB after the first 10 million, at most %ld KiB\n",
                static_cast<unsigned long long>(checker.events), firstResident, peakResident);
    EXPECT_GT(checker.events, 10'000'000u);
    if (firstResident != 0) {
        EXPECT_LE(peakResident, firstResident + 4 * 1024) << "flat after the start";
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);
}

} // namespace
} // namespace Wirelog::test
