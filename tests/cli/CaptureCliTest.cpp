// SPDX-License-Identifier: MIT
// wirelog-cli list and capture on simulated modules, run as a user runs them.
#include "CliProcess.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;

// A START's gap depends on when the reads happened; everything else must match.
std::string WithoutGaps(const std::string& log) {
    return std::regex_replace(log, std::regex("Stop = -?[0-9]+mS"), "Stop = ?mS");
}

using CaptureCli = CliTest;

// Which devices are modules is the listing's (ModulesTest, WindowCaptureTest); the adapter
// library is found beside the program, not in the current directory, for every command here.
TEST_F(CaptureCli, ListShowsTheModulesOneALine) {
    auto result = RunCli(SimRun({"list"}, "hw:off;dev:desc=WIRLG000;dev:serial=B;dev:serial=D"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "1 (s/n B)\n2 (s/n D)\n");

    result = RunCli(SimRun({"list"}, "hw:off"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
}

TEST_F(CaptureCli, CaptureWritesTheLogThatDecodingTheSameStreamGives) {
    // Stamped after 0, so that code 5 sets a stop time in both and every START shows a gap.
    const fs::path recording = Write("bus.txt", "100 00 05\n800 01 07 A0 09 1B\n1300 0A 00 02\n"
                                                "2600 01 08 7A 02 99 0E\n2900 42\n");
    const auto decoded = RunCli(SimRun({"decode", recording.string()}, ""));
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    ASSERT_NE(decoded.out.find("addr = 0x3D"), std::string::npos);

    auto captured = RunCli(SimRun({"capture", "--seconds", "0.5"}, recording.string()));
    ASSERT_EQ(captured.status, 0) << captured.err;
    EXPECT_EQ(WithoutGaps(captured.out), WithoutGaps(decoded.out));

    const auto stamped =
        RunCli(SimRun({"capture", "--max-events", "2", "--timestamps=utc"}, "demo"));
    EXPECT_TRUE(std::regex_match(stamped.out,
                                 std::regex("(20[0-9-]{8}T[0-9:]{8}\\.[0-9]{6}Z [^\r]+\r\n){2}")))
        << stamped.out;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        CliRun interrupted = SimRun({"capture"}, "demo");
        interrupted.onFirstOutput = [signal](pid_t pid) { kill(pid, signal); };
        captured = RunCli(interrupted);
        EXPECT_EQ(captured.status, 0) << signal << captured.err;
        EXPECT_EQ(captured.err, "");
        EXPECT_EQ(captured.out.rfind("*** I2C Monitoring activated", 0), 0u);
        EXPECT_TRUE(captured.out.ends_with("\r\n")) << "whole lines only";
    }
}

// The stop waits for a blocked read; a second signal ends the program at once and, as a crash
// would, leaves the unfinished log under its .partial name, never under the final one, as
// private as the log it replaces all along.
TEST_F(CaptureCli, ASecondSignalEndsAtOnceAndLeavesTheLogUnfinished) {
    fs::permissions(Write("out.log", "secret"), fs::perms::owner_read | fs::perms::owner_write);
    CliRun run = SimRun({"capture", "-o", (dir / "out.log").string()},
                        "hw:off;dev:read=block,block_ms=60000");
    std::thread signaller;
    run.onStart = [&](pid_t pid) {
        signaller = std::thread([this, pid] {
            WirelogTest::WaitFor([&] { return fs::exists(dir / "out.log.partial"); },
                                 std::chrono::seconds(30));
            kill(pid, SIGHUP);
            kill(pid, SIGTERM);
        });
    };
    const auto result = RunCli(run);
    signaller.join();
    EXPECT_EQ(result.status, -1) << "ended by the signal";
    EXPECT_EQ(Listing(), (std::vector<std::string>{"out.log", "out.log.partial"}));
    EXPECT_EQ(fs::status(dir / "out.log.partial").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ReadFile(dir / "out.log"), "secret");
}

// A stop signal that comes while the program starts, before its handlers are in place (here:
// sent while the test holds it), still stops the capture as asked, so the START due at 20 s
// never comes.
TEST_F(CaptureCli, AStopSignalAtStartStopsTheCaptureWithItsLog) {
    const fs::path recording = Write("bus.txt", "0 00 05\n20000000 01\n");
    CliRun run = SimRun({"capture", "--seconds", "25"}, recording.string());
    run.onStart = [](pid_t pid) { kill(pid, SIGHUP); };
    sigset_t hup, saved;
    sigemptyset(&hup);
    sigaddset(&hup, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &hup, &saved);
    const auto result = RunCli(run);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.find("START"), std::string::npos) << result.out;
}

// A library that cannot be loaded, or lacks a function the command needs, is status 2.
TEST_F(CaptureCli, CaptureNeedsOneUsableModuleAndLibraryAndReportsWhatEndsIt) {
    const std::string two = "hw:off;dev:serial=A;dev:serial=B";
    const std::string missing = (dir / "missing.so").string();
    const std::string partial = WIRELOG_TEST_PARTIAL_ADAPTER; // lacks FT_Open
    Write("left.log.partial", "kept");
    const struct {
        std::vector<std::string> args;
        std::string sim;
        int status;
        std::string err;
        std::string library = "";
    } rows[] = {
        {{"capture", "--seconds", "9"}, "hw:off", 1, "no capture module"},
        {{"capture", "--seconds", "9"}, two, 2, "1 (s/n B)"},
        {{"capture", "--module", "5", "--seconds", "9"}, two, 1, "device index 5"},
        {{"capture", "--module", "04294967296", "--seconds", "9"}, two, 1, "index 4294967296 "},
        {{"capture", "--module", "1", "--seconds", "0.1"}, two, 0, ""},
        {{"capture", "-o", (dir / "never.log").string()},
         "hw:off;dev:open=fail",
         1,
         "couldn't open"},
        {{"capture", "-o", (dir / "left.log").string()}, "demo", 1, "rename or remove it"},
        {{"capture", "--seconds", "-1"}, "demo", 2, "--seconds"},
        {{"capture", "--seconds", "1e10"}, "demo", 2, "at most 1000000000"},
        {{"capture", "--seconds", "0.3"}, "hw:off;dev:status=fail", 0, "no event"},
        {{"capture", "--seconds", "30"}, "hw:off;dev:read=fail", 1, "RError!"},
        {{"capture", "-o", (dir / "no/such.log").string()}, "demo", 1, "no/such.log"},
        {{"capture", "--rotate", "1M"}, "demo", 2, "need -o FILE"},
        {{"capture", "-o", "/dev/null", "--rotate", "5K"}, "demo", 1, "only a file can rotate"},
        {{"list"}, "demo", 2, "missing.so", missing},
        {{"capture"}, "demo", 2, "missing.so", missing},
        {{"capture", "--module", "0", "--seconds", "9"}, "demo", 2, "FT_Open", partial},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sim + " " + row.err);
        CliRun run = SimRun(row.args, row.sim);
        if (!row.library.empty())
            run.env["WIRELOG_ADAPTER"] = row.library;
        const auto result = RunCli(run);
        EXPECT_EQ(result.status, row.status) << result.err;
        EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"left.log.partial"}) << "nothing else written";
    EXPECT_EQ(ReadFile(dir / "left.log.partial"), "kept");
}

} // namespace
} // namespace Wirelog::test
