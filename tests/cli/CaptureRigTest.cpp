// SPDX-License-Identifier: MIT
// wirelog-cli capture as a logging rig runs it: past the window's event limit in constant memory,
// killed mid-run, rotating its files. Every log is checked line by line against the simulated
// module's demo traffic, read here from the same adapter library.
#include "CliProcess.h"
#include "DemoReference.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <regex>
#include <thread>

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The demo traffic paced as a saturated bus: about 379,000 events a second.
const std::string kSaturated = "hw:off;dev:rate=630000";

// The largest resident size of any child waited for so far.
long PeakChildKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

std::vector<std::string> SortedListing(const fs::path& dir) {
    std::vector<std::string> names = WirelogTest::Listing(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::uintmax_t BytesIn(const fs::path& dir) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        bytes += entry.file_size(ec);
    return bytes;
}

using CaptureRig = CliTest;

TEST_F(CaptureRig, GoesOnPastTheWindowsLimitInConstantMemoryAndStopsAtTheBound) {
    const fs::path out = dir / "bus.log";
    const auto result = RunCli(
        SimRun({"capture", "--max-events", "1200000", "--seconds", "300", "-o", out.string()},
               kSaturated));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("stopped after 1200000 events"), std::string::npos) << result.err;
    EXPECT_EQ(Listing(), std::vector<std::string>{"bus.log"}) << "no .partial left";
    LogChecker checker;
    EXPECT_TRUE(checker.Feed(ReadFile(out))) << checker.mismatch;
    EXPECT_EQ(checker.events, 1'200'000u);
    EXPECT_TRUE(checker.Rest().empty());
    EXPECT_LT(PeakChildKilobytes(), 64 * 1024);
}

// A finished file is whole and under its final name; the one being written is a .partial that
// holds a prefix of the log; nothing sits in between.
TEST_F(CaptureRig, AKilledCaptureLeavesWholeFinishedFilesAndAPrefixInTheUnfinishedOne) {
    for (const bool rotate : {false, true}) {
        SCOPED_TRACE(rotate);
        const fs::path runDir = dir / (rotate ? "rotated" : "single");
        fs::create_directories(runDir);
        std::vector<std::string> args{"capture", "-o", (runDir / "bus.log").string()};
        if (rotate)
            args.insert(args.end(), {"--rotate", "256K"});
        CliRun run = SimRun(args, kSaturated);
        std::thread killer;
        run.onStart = [&](pid_t pid) {
            killer = std::thread([&runDir, pid] {
                WirelogTest::WaitFor([&] { return BytesIn(runDir) > (1u << 20); }, 60s);
                kill(pid, SIGKILL);
            });
        };
        EXPECT_EQ(RunCli(run).status, -1) << "killed";
        killer.join();

        const std::vector<std::string> names = SortedListing(runDir);
        ASSERT_FALSE(names.empty());
        EXPECT_EQ(names.back(), rotate ? names.back() : "bus.log.partial");
        EXPECT_TRUE(names.back().ends_with(".partial"));
        LogChecker checker;
        for (const std::string& name : names) {
            SCOPED_TRACE(name);
            const std::string bytes = ReadFile(runDir / name);
            EXPECT_TRUE(checker.Feed(bytes)) << checker.mismatch;
            if (name == names.back())
                break;
            EXPECT_FALSE(name.ends_with(".partial"));
            EXPECT_TRUE(checker.Rest().empty()) << "a finished file ends with a whole line";
            EXPECT_GE(bytes.size(), 256u << 10);
        }
        EXPECT_GT(checker.events, 0u);
        EXPECT_EQ(names.size() > 3, rotate);
    }
}

// Parts are named by the capture's start and their number, end between transactions (so the
// next begins with its START's empty line) and hold the log whole between them.
TEST_F(CaptureRig, RotatesBySizeAndByTimeIntoWholeFilesThatSortInTimeOrder) {
    const std::regex partName("bus-[0-9]{8}T[0-9]{6}Z-([0-9]{8})\\.log");
    for (const bool bySize : {true, false}) {
        SCOPED_TRACE(bySize);
        const fs::path runDir = dir / (bySize ? "size" : "time");
        fs::create_directories(runDir);
        const std::string out = (runDir / "bus.log").string();
        const auto result = RunCli(
            bySize ? SimRun({"capture", "--max-events", "150000", "--seconds", "300", "--rotate",
                             "64K", "-o", out},
                            kSaturated)
                   : SimRun({"capture", "--seconds", "2.5", "--rotate-every", "1", "-o", out},
                            "hw:off;dev:stream=demo"));
        ASSERT_EQ(result.status, 0) << result.err;

        const std::vector<std::string> names = SortedListing(runDir);
        EXPECT_GE(names.size(), bySize ? 10u : 2u);
        LogChecker checker;
        for (std::size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            std::smatch match;
            ASSERT_TRUE(std::regex_match(names[i], match, partName));
            EXPECT_EQ(std::stoul(match[1]), i + 1);
            const std::string bytes = ReadFile(runDir / names[i]);
            EXPECT_TRUE(checker.Feed(bytes)) << checker.mismatch;
            EXPECT_TRUE(checker.Rest().empty());
            if (i > 0) {
                EXPECT_TRUE(bytes.starts_with("\r\nSTART (valid)")) << bytes.substr(0, 40);
            }
            if (bySize && i + 1 < names.size()) {
                EXPECT_GE(bytes.size(), 64u << 10);
            }
        }
        if (bySize) {
            EXPECT_EQ(checker.events, 150'000u);
        }
    }
}

TEST_F(CaptureRig, StampsEveryLineWithSecondsOrUtc) {
    const std::regex utc("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{6}Z .+");
    const std::regex seconds("[0-9]+\\.[0-9]{9} .+");
    for (const auto& [option, pattern] :
         {std::pair{"--timestamps=utc", &utc}, {"--timestamps", &seconds}}) {
        const auto result = RunCli(SimRun({"capture", "--max-events", "40", option}, "demo"));
        ASSERT_EQ(result.status, 0) << result.err;
        std::size_t stamped = 0;
        for (std::size_t at = 0, end; (end = result.out.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            const std::string line = result.out.substr(at, end - at);
            EXPECT_TRUE(line.empty() || std::regex_match(line, *pattern)) << line;
            stamped += !line.empty();
        }
        EXPECT_EQ(stamped, 40u) << option;
    }
}

} // namespace
} // namespace Wirelog::test
