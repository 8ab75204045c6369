// SPDX-License-Identifier: MIT
// wirelog-cli capture as a logging rig runs it, each log checked against the demo traffic: past
// the window's event limit in bounded memory, killed mid-run, rotating its files; built with
// WIRELOG_SOAK_TEST, ten minutes (WIRELOG_SOAK_SECONDS) of a saturated bus instead.
#include "CliProcess.h"
#include "DemoReference.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <regex>
#include <thread>

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;

const std::string kSaturated = "hw:off;dev:rate=630000"; // about 379,000 events a second

// The files in name order, fed to a checker, and removed with `consume`, which stops at a
// .partial one. Every file but the last ends with a whole line; the parts of a rotated log are
// numbered in order and each after the first begins with the empty line of the transaction it
// opens.
std::vector<std::string> CheckFiles(const fs::path& dir, LogChecker& checker, bool consume) {
    static const std::regex part("bus-[0-9]{8}T[0-9]{6}Z-([0-9]{8})\\.log(\\.partial)?");
    std::vector<std::string> names = WirelogTest::Listing(dir);
    std::sort(names.begin(), names.end());
    unsigned long expected = 1;
    for (const std::string& name : names) {
        if (consume && name.ends_with(".partial"))
            break;
        const std::string bytes = ReadFile(dir / name);
        std::smatch number;
        if (std::regex_match(name, number, part)) { // consumed files are gone from the count
            EXPECT_TRUE(consume || std::stoul(number[1]) == expected++) << name;
            EXPECT_TRUE(number[1] == "00000001" || bytes.starts_with("\r\n")) << name;
        }
        EXPECT_TRUE(checker.Rest().empty()) << "before " << name;
        EXPECT_TRUE(checker.Feed(bytes)) << name << ": " << checker.mismatch;
        if (consume)
            fs::remove(dir / name);
    }
    return names;
}

// Every child stayed under 64 MB resident; the sanitizers' shadow memory comes on top of that.
bool ChildrenStayedUnder64MB() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return usage.ru_maxrss > 0;
#endif
    return usage.ru_maxrss < 64 * 1024;
}

using CaptureRig = CliTest;

#ifdef WIRELOG_SOAK_TEST
TEST_F(CaptureRig, ASaturatedBusForTenMinutesIsWrittenWholeInBoundedMemory) {
    const char* seconds = std::getenv("WIRELOG_SOAK_SECONDS");
    CliRun run = SimRun({"capture", "--seconds", seconds ? seconds : "600", "--rotate", "64M", "-o",
                         (dir / "bus.log").string()},
                        kSaturated);
    LogChecker checker;
    std::atomic<bool> ended{false};
    std::thread consumer([&] { // keeps the disk nearly empty however long the run
        while (!WirelogTest::WaitFor([&] { return ended.load(); }, std::chrono::seconds(1)))
            CheckFiles(dir, checker, true);
    });
    const auto result = RunCli(run);
    ended = true;
    consumer.join();
    CheckFiles(dir, checker, true);
    std::printf("%llu events written and checked\n",
                static_cast<unsigned long long>(checker.events));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "") << "no loss, no overrun";
    EXPECT_TRUE(checker.Rest().empty());
    EXPECT_TRUE(ChildrenStayedUnder64MB());
}
#else

TEST_F(CaptureRig, GoesOnPastTheWindowsLimitInBoundedMemoryAndStopsAtTheBound) {
    const auto result = RunCli(SimRun({"capture", "--max-events", "1200000", "--seconds", "300",
                                       "-o", (dir / "bus.log").string()},
                                      kSaturated));
    ASSERT_EQ(result.status, 0) << result.err;
    LogChecker checker;
    EXPECT_TRUE(checker.Feed(ReadFile(dir / "bus.log"))) << checker.mismatch;
    EXPECT_EQ(checker.events, 1'200'000u);
    EXPECT_TRUE(ChildrenStayedUnder64MB());
}

// Finished files are whole under their final names, the one being written a .partial holding
// a prefix of the log, and nothing sits in between.
TEST_F(CaptureRig, AKilledCaptureLeavesWholeFinishedFilesAndAPrefixInTheUnfinishedOne) {
    for (const bool rotate : {false, true}) {
        const fs::path runDir = dir / (rotate ? "rotated" : "single");
        fs::create_directories(runDir);
        std::vector<std::string> args{"capture", "-o", (runDir / "bus.log").string()};
        if (rotate)
            args.insert(args.end(), {"--rotate", "256K"});
        CliRun run = SimRun(args, kSaturated);
        std::thread killer;
        run.onStart = [&](pid_t pid) {
            killer = std::thread([&, pid] {
                std::error_code ec; // none yet
                WirelogTest::WaitFor([&] {
                    return rotate ? WirelogTest::Listing(runDir).size() > 4
                                  : fs::file_size(runDir / "bus.log.partial", ec) > (1u << 20);
                });
                kill(pid, SIGKILL);
            });
        };
        EXPECT_EQ(RunCli(run).status, -1) << "killed";
        killer.join();
        LogChecker checker;
        const std::vector<std::string> names = CheckFiles(runDir, checker, false);
        EXPECT_EQ(names.size() > 3, rotate) << names.size();
        for (const std::string& name : names)
            EXPECT_EQ(name.ends_with(".partial"), name == names.back()) << name;
    }
}

TEST_F(CaptureRig, RotatesBySizeAndByTimeIntoWholeFilesThatSortInTimeOrder) {
    for (const bool bySize : {true, false}) {
        const fs::path runDir = dir / (bySize ? "size" : "time");
        fs::create_directories(runDir);
        const std::string out = (runDir / "bus.log").string();
        const auto result = RunCli(
            bySize ? SimRun({"capture", "--max-events", "150000", "--rotate", "64K", "-o", out},
                            kSaturated)
                   : SimRun({"capture", "--seconds", "2.5", "--rotate-every", "1", "-o", out},
                            "hw:off;dev:stream=demo"));
        ASSERT_EQ(result.status, 0) << result.err;
        LogChecker checker;
        const std::vector<std::string> names = CheckFiles(runDir, checker, false);
        EXPECT_TRUE(checker.Rest().empty());
        EXPECT_GE(names.size(), bySize ? 10u : 2u);
        for (std::size_t i = 0; bySize && i + 1 < names.size(); ++i)
            EXPECT_GE(fs::file_size(runDir / names[i]), 64u << 10) << names[i];
        EXPECT_TRUE(!bySize || checker.events == 150'000u) << checker.events;
    }
}
#endif

} // namespace
} // namespace Wirelog::test
