// SPDX-License-Identifier: MIT
#pragma once
// wirelog-cli run as a user runs it, in a scratch directory whose name has spaces and letters
// outside ASCII and the ANSI code page. On Linux: a child process with its own arguments and
// environment, standard input from a file, standard output through a pipe (or into a file),
// standard error collected; on Windows: CreateProcessW with a wide command line, the same
// environment and pipes. A child that hangs is left to the test's time-out.
#include "TestPlatform.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace Wirelog::test {

using WirelogTest::ReadFile;
using WirelogTest::Utf8;

inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::u8string(text.begin(), text.end());
}

class CliTest : public testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir / PathFromUtf8(name), std::ios::binary) << bytes;
        return dir / PathFromUtf8(name);
    }
    std::vector<std::string> Listing() const { return WirelogTest::Listing(dir); }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        PathFromUtf8("wirelog cli \u00dcberpr\u00fcfung \u03a9-" + WirelogTest::ProcessId());
};

#ifdef _WIN32
using CliPid = DWORD;
#else
using CliPid = pid_t;
#endif

struct CliRun {
    std::vector<std::string> args{};          // UTF-8
    std::map<std::string, std::string> env{}; // an empty value removes the variable
    std::string in = "/dev/null";             // Linux only; Windows reads NUL
    std::string out{};                        // Linux: a file for standard output; empty: captured
    std::function<void(CliPid)> onFirstOutput{}; // once, when standard output first has bytes
    std::function<void(CliPid)> onStart{};       // in the parent, once the child runs
    bool ownConsole = false;                     // Windows: a console of its own, for Ctrl+C
    bool readerGone = false; // Linux: standard output a pipe nobody reads (`| head -1`)
};

// A run on the simulated modules SIM describes, with the adapter library beside the program.
inline CliRun SimRun(std::vector<std::string> args, const std::string& sim) {
    return {std::move(args), {{"WIRELOG_SIM", sim}, {"WIRELOG_ADAPTER", ""}}};
}

struct CliResult {
    int status = -1; // the exit status; -1 when the process did not exit by itself
    std::string out, err;
};

inline CliResult RunCli(const CliRun& run) {
    const auto errFile =
        std::filesystem::temp_directory_path() / ("wirelog-cli-err-" + WirelogTest::ProcessId());
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readOut = nullptr, writeOut = nullptr;
    EXPECT_TRUE(CreatePipe(&readOut, &writeOut, &inherit, 0));
    SetHandleInformation(readOut, HANDLE_FLAG_INHERIT, 0);
    const HANDLE err = CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE in = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    // No argument here holds a quote or ends in a backslash, so plain quotes are all
    // CommandLineToArgvW needs to give each back whole.
    std::wstring commandLine = L"\"" + std::filesystem::absolute(WIRELOG_CLI_PATH).wstring();
    for (const std::string& arg : run.args)
        commandLine += L"\" \"" + PathFromUtf8(arg).wstring();
    commandLine += L"\"";
    // The child inherits the environment; every run sets both variables it reads.
    for (const auto& [name, value] : run.env)
        SetEnvironmentVariableW(PathFromUtf8(name).c_str(),
                                value.empty() ? nullptr : PathFromUtf8(value).c_str());
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
    if (!started)
        throw std::runtime_error("cannot start wirelog-cli.exe: " + std::to_string(GetLastError()));
    const CliPid pid = process.dwProcessId;
    const auto readSome = [&](char* buffer, DWORD size) {
        DWORD got = 0;
        return ::ReadFile(readOut, buffer, size, &got, nullptr) ? std::size_t{got} : 0;
    };
#else
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) { // the child: its own streams, directory and environment, then the program
        const auto redirect = [](const std::string& path, int flags, int fd) {
            const int file = open(path.c_str(), flags, 0644);
            dup2(file, fd);
            close(file);
        };
        redirect(run.in, O_RDONLY, 0);
        if (run.out.empty())
            dup2(out[1], 1);
        else
            redirect(run.out, O_WRONLY | O_CREAT | O_TRUNC, 1);
        redirect(errFile.string(), O_WRONLY | O_CREAT | O_TRUNC, 2);
        close(out[0]);
        close(out[1]);
        for (const auto& [name, value] : run.env)
            value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(WIRELOG_CLI_PATH)};
        for (const std::string& arg : run.args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid < 0)
        throw std::runtime_error("cannot start wirelog-cli");
    if (run.readerGone)
        close(std::exchange(out[0], -1));
    const auto readSome = [&](char* buffer, std::size_t size) {
        const ssize_t got = read(out[0], buffer, size);
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    };
#endif
    if (run.onStart)
        run.onStart(pid);
    CliResult result;
    char buffer[4096];
    for (std::size_t got; (got = readSome(buffer, sizeof buffer)) > 0;) {
        if (result.out.empty() && run.onFirstOutput)
            run.onFirstOutput(pid);
        result.out.append(buffer, got);
    }
#ifdef _WIN32
    CloseHandle(readOut);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    result.status = static_cast<int>(status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
#else
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    result.err = ReadFile(errFile);
    std::filesystem::remove(errFile);
    return result;
}

} // namespace Wirelog::test
