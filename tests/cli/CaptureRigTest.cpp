// SPDX-License-Identifier: MIT
// wirelog-cli capture as a logging rig runs it, each log checked against the demo traffic: past
// the window's event limit in bounded memory, killed mid-run, rotating its files.
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

const std::string kSaturated = "hw:off;dev:rate=630000"; // about 379,000 events a second

// The files in name order, fed to a checker; every one but the last must end with a whole line.
std::vector<std::string> CheckFiles(const fs::path& dir, LogChecker& checker) {
    std::vector<std::string> names = WirelogTest::Listing(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        EXPECT_TRUE(checker.Rest().empty()) << "before " << name;
        EXPECT_TRUE(checker.Feed(ReadFile(dir / name))) << name << ": " << checker.mismatch;
    }
    return names;
}

using CaptureRig = CliTest;

TEST_F(CaptureRig, GoesOnPastTheWindowsLimitInBoundedMemoryAndStopsAtTheBound) {
    const auto result = RunCli(SimRun({"capture", "--max-events", "1200000", "--seconds", "300",
                                       "--timestamps=utc", "-o", (dir / "bus.log").string()},
                                      kSaturated));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("stopped after 1200000 events"), std::string::npos) << result.err;
    const std::string log = ReadFile(dir / "bus.log");
    EXPECT_TRUE(
        std::regex_match(log.substr(0, 28), std::regex("20[0-9-]{8}T[0-9:]{8}\\.[0-9]{6}Z ")));
    std::string plain; // the log without its stamps is the traffic's
    for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::size_t text = end == at ? at : log.find("Z ", at) + 2;
        plain.append(log, text, end + 2 - std::min(text, end + 2));
    }
    LogChecker checker;
    EXPECT_TRUE(checker.Feed(plain)) << checker.mismatch;
    EXPECT_EQ(checker.events, 1'200'000u);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);
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
            killer = std::thread([&runDir, pid] {
                WirelogTest::WaitFor(
                    [&] {
                        std::uintmax_t bytes = 0;
                        std::error_code ec; // a file renamed meanwhile counts next time
                        for (const auto& file : fs::directory_iterator(runDir))
                            bytes += file.file_size(ec);
                        return bytes > (1u << 20);
                    },
                    std::chrono::seconds(60));
                kill(pid, SIGKILL);
            });
        };
        EXPECT_EQ(RunCli(run).status, -1) << "killed";
        killer.join();
        LogChecker checker;
        const std::vector<std::string> names = CheckFiles(runDir, checker);
        EXPECT_EQ(names.size() > 3, rotate) << names.size();
        for (const std::string& name : names)
            EXPECT_EQ(name.ends_with(".partial"), name == names.back()) << name;
    }
}

// Parts are named by the capture's start and their number, end between transactions (the next
// begins with its START's empty line) and hold the log whole.
TEST_F(CaptureRig, RotatesBySizeAndByTimeIntoWholeFilesThatSortInTimeOrder) {
    const std::regex partName("bus-[0-9]{8}T[0-9]{6}Z-([0-9]{8})\\.log");
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
        const std::vector<std::string> names = CheckFiles(runDir, checker);
        EXPECT_TRUE(checker.Rest().empty());
        EXPECT_GE(names.size(), bySize ? 10u : 2u);
        for (std::size_t i = 0; i < names.size(); ++i) {
            std::smatch number;
            EXPECT_TRUE(std::regex_match(names[i], number, partName) &&
                        std::stoul(number[1]) == i + 1)
                << names[i];
            const std::string bytes = ReadFile(runDir / names[i]);
            EXPECT_TRUE(i == 0 || bytes.starts_with("\r\nSTART (valid)")) << names[i];
            EXPECT_TRUE(!bySize || i + 1 == names.size() || bytes.size() >= (64u << 10));
        }
        EXPECT_TRUE(!bySize || checker.events == 150'000u) << checker.events;
    }
}

} // namespace
} // namespace Wirelog::test
