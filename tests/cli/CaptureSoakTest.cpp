// SPDX-License-Identifier: MIT
// Ten minutes (WIRELOG_SOAK_SECONDS) of the saturated simulated module, rotated into files that
// are checked against the demo traffic and removed as soon as they are finished, so the disk
// holds little however long it runs.
#include "CliProcess.h"
#include "DemoReference.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;

// Checks and removes the finished files in order; the unfinished one too once `all`.
void TakeFiles(const fs::path& dir, LogChecker& checker, bool all) {
    std::vector<std::string> names = WirelogTest::Listing(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.ends_with(".partial") && !all)
            return;
        checker.Feed(ReadFile(dir / name));
        fs::remove(dir / name);
    }
}

TEST(CaptureSoak, ASaturatedBusForTenMinutesIsWrittenWholeInBoundedMemory) {
    const char* seconds = std::getenv("WIRELOG_SOAK_SECONDS");
    const fs::path dir = fs::temp_directory_path() / ("wirelog soak " + WirelogTest::ProcessId());
    fs::create_directories(dir);
    CliRun run = SimRun({"capture", "--seconds", seconds ? seconds : "600", "--rotate", "64M", "-o",
                         (dir / "bus.log").string()},
                        "hw:off;dev:rate=630000");
    LogChecker checker;
    std::atomic<bool> ended{false};
    std::thread consumer([&] {
        while (!WirelogTest::WaitFor([&] { return ended.load(); }, std::chrono::seconds(1)))
            TakeFiles(dir, checker, false);
    });
    const auto result = RunCli(run);
    ended = true;
    consumer.join();
    TakeFiles(dir, checker, true);
    fs::remove_all(dir);

    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "") << "no loss, no overrun";
    EXPECT_TRUE(checker.mismatch.empty()) << checker.mismatch;
    EXPECT_TRUE(checker.Rest().empty());
    EXPECT_GT(checker.events, 10'000'000u);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);
}

} // namespace
} // namespace Wirelog::test
