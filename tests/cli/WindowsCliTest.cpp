// SPDX-License-Identifier: MIT
// wirelog-cli.exe run as a Windows user runs it: CreateProcessW with a wide command line, its
// own environment, standard output through a pipe, Ctrl+C through the console, and file
// names with spaces and non-ASCII letters.
#include "CliProcess.h"

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;

using WindowsCli = CliTest;

// The one WIRELOG_ADAPTER names, in a wide path (the library beside the program: every capture).
TEST_F(WindowsCli, AMissingLibraryIsReportedAsOnLinux) {
    CliRun unbound = SimRun({"list"}, "demo");
    unbound.env["WIRELOG_ADAPTER"] = Utf8(dir / L"missing.dll");
    const auto result = RunCli(unbound);
    EXPECT_EQ(result.status, 2);
    const std::string named = "library \"" + Utf8(dir / L"missing.dll") + "\"";
    EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
}

TEST_F(WindowsCli, CaptureRunsForItsTimeOrUntilCtrlC) {
    auto result = RunCli(SimRun({"capture", "--seconds", "2"}, "demo"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("*** I2C Monitoring activated", 0), 0);
    EXPECT_TRUE(result.out.ends_with("\r\n"));

    // Ctrl+C once the log is being written; only a handled Ctrl+C stops, finishes the file and
    // exits with 0 (the default handler would end the program before the commit).
    const fs::path log = dir / L"ctrl c \u00e9.log";
    CliRun interrupted = SimRun({"capture", "-o", Utf8(log)}, "demo");
    interrupted.ownConsole = true;
    interrupted.onStart = [this](DWORD process) {
        const bool staging = WirelogTest::WaitFor([&] {
            const auto names = Listing();
            return names.size() == 1 && fs::file_size(dir / PathFromUtf8(names[0])) > 0;
        });
        EXPECT_TRUE(staging) << "the capture never staged its log";
        // Ctrl+C as the console delivers it: to every process on the program's console, this
        // one excepted for the moment it is attached there.
        FreeConsole();
        const bool sent = AttachConsole(process) && SetConsoleCtrlHandler(nullptr, TRUE) &&
                          GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        const DWORD error = GetLastError();
        FreeConsole();
        SetConsoleCtrlHandler(nullptr, FALSE);
        if (!sent) {
            ADD_FAILURE() << "no Ctrl+C: " << error;
            const HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, process);
            TerminateProcess(child, 99);
            CloseHandle(child);
        }
    };
    result = RunCli(interrupted);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Listing(), std::vector<std::string>{Utf8(log.filename())}) << "committed";
    const std::string saved = ReadFile(log);
    EXPECT_EQ(saved.rfind("*** I2C Monitoring activated", 0), 0);
    EXPECT_TRUE(saved.ends_with("\r\n")) << "whole lines only";
}

TEST_F(WindowsCli, DecodeWritesTheLinuxBytesAndReplacesAnOutputFileOnlyWhenDone) {
    const fs::path data = WIRELOG_TEST_DATA;
    const std::string reviewed = ReadFile(data / "gigabyte_6vle_vxl_i2c.log");
    const fs::path input = Write("bus capture \u00e9t\u00e9.txt",
                                 ReadFile(data / "gigabyte_6vle_vxl_i2c.batches.txt"));
    auto result = RunCli(SimRun({"decode", Utf8(input)}, ""));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(result.out == reviewed) << "the same bytes as the Linux build";

    const fs::path out = Write("log \u00fc\u03a9.txt", "old\r\n");
    result = RunCli(SimRun({"decode", "-o", Utf8(out), Utf8(input)}, ""));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(ReadFile(out) == reviewed) << "an existing file is replaced";

    const fs::path bad = Write("bad input.txt", "0 00\n10 01 7\n");
    result = RunCli(SimRun({"decode", "-o", Utf8(out), Utf8(bad)}, ""));
    EXPECT_EQ(result.status, 2) << "the wording is the parser's (TimedBatchFile)";
    EXPECT_TRUE(ReadFile(out) == reviewed) << "a failed run leaves the file as it was";
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad input.txt", "bus capture \u00e9t\u00e9.txt",
                                                   "log \u00fc\u03a9.txt"}))
        << "no staged file is left behind";
}

} // namespace
} // namespace Wirelog::test
