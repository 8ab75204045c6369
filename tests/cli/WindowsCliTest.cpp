// SPDX-License-Identifier: MIT
// wirelog-cli.exe run as a Windows user runs it: CreateProcessW with a wide command line, its
// own environment, standard output through a pipe, Ctrl+C through the console, and file
// names with spaces and non-ASCII letters.
#include "CliProcess.h"

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using test::PathFromUtf8;
using test::ReadFile;
using test::Utf8;

// No argument here holds a quote or ends in a backslash, so plain quotes are all
// CommandLineToArgvW needs to give each back whole.
std::wstring Quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

struct CliRun {
    std::vector<std::string> args;            // UTF-8
    std::map<std::wstring, std::wstring> env; // an empty value removes the variable
    std::function<void(DWORD)> onStarted;     // with the process's id, while it runs
    bool ownConsole = false;                  // a console of its own, for Ctrl+C
};

struct Result {
    DWORD status = 0;
    std::string out, err;
};

Result RunCli(const CliRun& run) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readOut = nullptr, writeOut = nullptr;
    EXPECT_TRUE(CreatePipe(&readOut, &writeOut, &inherit, 0));
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    const fs::path errFile =
        fs::temp_directory_path() / ("wirelog-cli-err-" + WirelogTest::ProcessId());
    const HANDLE err = CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE in = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);

    std::wstring commandLine = Quoted(fs::absolute(WIRELOG_CLI_PATH).wstring());
    for (const std::string& arg : run.args)
        commandLine += L" " + Quoted(PathFromUtf8(arg).wstring());
    // The child inherits the environment; every run sets both variables it reads.
    for (const auto& [name, value] : run.env)
        SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = writeOut;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        run.ownConsole ? CREATE_NEW_CONSOLE : 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(writeOut);
    CloseHandle(err);
    CloseHandle(in);
    Result result;
    if (!started)
        throw std::runtime_error("cannot start wirelog-cli.exe: " + std::to_string(GetLastError()));
    if (run.onStarted)
        run.onStarted(process.dwProcessId);
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readOut, buffer, sizeof buffer, &got, nullptr) && got > 0)
        result.out.append(buffer, got);
    CloseHandle(readOut);
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &result.status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    result.err = ReadFile(errFile);
    fs::remove(errFile);
    return result;
}

class WindowsCli : public test::CliTest {
protected:
    static CliRun Sim(std::vector<std::string> args, const std::wstring& sim) {
        return CliRun{
            std::move(args), {{L"WIRELOG_SIM", sim}, {L"WIRELOG_ADAPTER", L""}}, {}, false};
    }
};

// The library beside the program, or the one WIRELOG_ADAPTER names, in a wide path.
TEST_F(WindowsCli, ListShowsTheModulesAndAMissingLibraryIsReportedAsOnLinux) {
    auto result = RunCli(Sim({"list"}, L"demo"));
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_EQ(result.out, "0 (s/n SIM00001)\n");

    CliRun unbound = Sim({"list"}, L"demo");
    unbound.env[L"WIRELOG_ADAPTER"] = (dir / L"missing.dll").wstring();
    result = RunCli(unbound);
    EXPECT_EQ(result.status, 2u);
    const std::string named = "library \"" + Utf8(dir / L"missing.dll") + "\"";
    EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
}

TEST_F(WindowsCli, CaptureRunsForItsTimeOrUntilCtrlC) {
    auto result = RunCli(Sim({"capture", "--seconds", "2"}, L"demo"));
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_EQ(result.out.rfind("*** I2C Monitoring activated", 0), 0u);
    EXPECT_TRUE(result.out.ends_with("\r\n"));

    // Ctrl+C once the log is being staged; only a handled Ctrl+C stops, commits the file and
    // exits with 0 (the default handler would end the program before the commit).
    const fs::path log = dir / L"ctrl c \u00e9.log";
    CliRun interrupted = Sim({"capture", "-o", Utf8(log)}, L"demo");
    interrupted.ownConsole = true;
    interrupted.onStarted = [this](DWORD process) {
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
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Listing(), std::vector<std::string>{Utf8(log.filename())}) << "committed";
    const std::string saved = ReadFile(log);
    EXPECT_EQ(saved.rfind("*** I2C Monitoring activated", 0), 0u);
    EXPECT_TRUE(saved.ends_with("\r\n")) << "whole lines only";
}

TEST_F(WindowsCli, DecodeWritesTheLinuxBytesAndReplacesAnOutputFileOnlyWhenDone) {
    const fs::path data = WIRELOG_TEST_DATA;
    const std::string reviewed = ReadFile(data / "gigabyte_6vle_vxl_i2c.log");
    const fs::path input = Write("bus capture \u00e9t\u00e9.txt",
                                 ReadFile(data / "gigabyte_6vle_vxl_i2c.batches.txt"));
    auto result = RunCli(Sim({"decode", Utf8(input)}, L""));
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_TRUE(result.out == reviewed) << "the same bytes as the Linux build";

    const fs::path out = Write("log \u00fc\u03a9.txt", "old\r\n");
    result = RunCli(Sim({"decode", "-o", Utf8(out), Utf8(input)}, L""));
    EXPECT_EQ(result.status, 0u) << result.err;
    EXPECT_TRUE(ReadFile(out) == reviewed) << "an existing file is replaced";

    const fs::path bad = Write("bad input.txt", "0 00\n10 01 7\n");
    result = RunCli(Sim({"decode", "-o", Utf8(out), Utf8(bad)}, L""));
    EXPECT_EQ(result.status, 2u) << "the wording is the parser's (TimedBatchFile)";
    EXPECT_TRUE(ReadFile(out) == reviewed) << "a failed run leaves the file as it was";
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad input.txt", "bus capture \u00e9t\u00e9.txt",
                                                   "log \u00fc\u03a9.txt"}))
        << "no staged file is left behind";
}

} // namespace
} // namespace Wirelog
