// wirelog-cli list and capture, run as a user runs them, on simulated modules.
#include "CliProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::RunCli;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Gaps in milliseconds depend on how reads fell in time; everything else must match.
std::string WithoutGaps(const std::string& log) {
    static const std::regex gap("Gap from last Stop = [0-9]+mS");
    return std::regex_replace(log, gap, "Gap from last Stop = ?mS");
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("wirelog-cli-test-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    CliRun Run(std::vector<std::string> args, const std::string& sim) {
        CliRun run;
        run.args = std::move(args);
        run.env = {{"WIRELOG_SIM", sim}, {"WIRELOG_ADAPTER", ""}};
        return run;
    }

    fs::path dir;
};

TEST_F(CliTest, ListShowsExactlyTheModulesTheWindowShows) {
    CliRun run = Run({"list"}, "hw:off;dev:desc=WIRLG000,serial=A;dev:serial=B;"
                               "dev:desc=wirlg0001,serial=C;dev:serial=D");
    run.directory = dir.string();
    auto result = RunCli(run);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "1 (s/n B)\n3 (s/n D)\n");
    EXPECT_TRUE(fs::is_empty(dir)) << "nothing is left in the current directory";

    result = RunCli(Run({"list"}, "hw:off"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
}

TEST_F(CliTest, AnAdapterLibraryThatCannotBeBoundIsReported) {
    const std::string missing = (dir / "missing.so").string();
    for (const char* command : {"list", "capture"}) {
        CliRun run = Run({command}, "demo");
        run.env["WIRELOG_ADAPTER"] = missing;
        const auto result = RunCli(run);
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(CliTest, CaptureWritesTheSameLogAsDecodingTheStream) {
    const fs::path recording = dir / "bus.txt";
    // Stamped after 0, so that code 5 sets a stop time in both and every START shows a gap.
    std::ofstream(recording) << "100 00 05\n"
                                "800 01 07 A0 09 1B\n"
                                "1300 0A 00 02\n"
                                "2600 01 08 7A 02 99 0E\n"
                                "2900 42\n";
    const fs::path log = dir / "bus.log";
    auto captured =
        RunCli(Run({"capture", "--seconds", "0.5", "-o", log.string()}, recording.string()));
    ASSERT_EQ(captured.status, 0) << captured.err;
    EXPECT_EQ(captured.out, "");

    const auto decoded = RunCli(Run({"decode", recording.string()}, ""));
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(WithoutGaps(ReadFile(log)), WithoutGaps(decoded.out));
    EXPECT_NE(decoded.out.find("addr = 0x3D"), std::string::npos);

    // The same bytes on standard output.
    captured = RunCli(Run({"capture", "--seconds", "0.5"}, recording.string()));
    ASSERT_EQ(captured.status, 0) << captured.err;
    EXPECT_EQ(WithoutGaps(captured.out), WithoutGaps(decoded.out));
}

TEST_F(CliTest, CaptureEndsCleanlyOnInterrupt) {
    CliRun run = Run({"capture"}, "demo");
    run.onFirstOutput = [](pid_t pid) { kill(pid, SIGINT); };
    const auto result = RunCli(run);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    ASSERT_GE(result.out.size(), 2u);
    EXPECT_EQ(result.out.substr(result.out.size() - 2), "\r\n") << "whole lines only";
    EXPECT_EQ(result.out.rfind("*** I2C Monitoring activated", 0), 0u);
}

TEST_F(CliTest, CaptureNeedsOneModuleItCanUse) {
    auto result = RunCli(Run({"capture", "--seconds", "1"}, "hw:off"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("no capture module"), std::string::npos) << result.err;

    const std::string two = "hw:off;dev:serial=A;dev:serial=B";
    result = RunCli(Run({"capture", "--seconds", "1"}, two));
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("1 (s/n B)"), std::string::npos) << result.err;

    result = RunCli(Run({"capture", "--module", "5", "--seconds", "1"}, two));
    EXPECT_EQ(result.status, 1);
    result = RunCli(Run({"capture", "--module", "1", "--seconds", "0.1"}, two));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("*** I2C Monitoring activated", 0), 0u);

    result = RunCli(Run({"capture", "--seconds", "1"}, "hw:off;dev:open=fail"));
    EXPECT_EQ(result.status, 1);
    result = RunCli(Run({"capture", "--seconds", "-1"}, "demo"));
    EXPECT_EQ(result.status, 2);
}

TEST_F(CliTest, AFailingModuleEndsTheCaptureKeepingWhatWasLogged) {
    const fs::path log = dir / "partial.log";
    std::ofstream(log) << "earlier";
    const auto result =
        RunCli(Run({"capture", "--seconds", "30", "-o", log.string()}, "hw:off;dev:read=fail"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("RError!"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(log), "") << "the module's code 0 was never read";

    const auto unwritable = RunCli(
        Run({"capture", "--seconds", "1", "-o", (dir / "no/such/dir.log").string()}, "demo"));
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("no/such/dir.log"), std::string::npos) << unwritable.err;
}

} // namespace
} // namespace Wirelog
