// SPDX-License-Identifier: MIT
#pragma once
// wirelog-cli run as a user runs it, in a scratch directory whose name has spaces and letters
// outside ASCII and the ANSI code page. On Linux: a child process with its own arguments and
// environment, standard input from a file, standard output through a pipe (or into a file),
// standard error collected; a child that hangs is left to the test's time-out.
#include "TestPlatform.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Wirelog::test {

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::u8string(text.begin(), text.end());
}

inline std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

class CliTest : public testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir / PathFromUtf8(name), std::ios::binary) << bytes;
        return dir / PathFromUtf8(name);
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            names.push_back(Utf8(entry.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        PathFromUtf8("wirelog cli \u00dcberpr\u00fcfung \u03a9-" + WirelogTest::ProcessId());
};

#ifndef _WIN32
struct CliRun {
    std::vector<std::string> args;
    std::map<std::string, std::string> env; // an empty value removes the variable
    std::string in = "/dev/null";
    std::string out;                          // a file for standard output; empty: captured
    std::function<void(pid_t)> onFirstOutput; // once, when standard output first has bytes
    std::function<void(pid_t)> onStart;       // in the parent, once the child runs
};

struct CliResult {
    int status = -1; // the exit status; -1 when the process did not exit by itself
    std::string out, err;
};

inline CliResult RunCli(const CliRun& run) {
    const auto errFile =
        std::filesystem::temp_directory_path() / ("wirelog-cli-err-" + std::to_string(getpid()));
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
    if (run.onStart)
        run.onStart(pid);

    CliResult result;
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) {
        if (result.out.empty() && run.onFirstOutput)
            run.onFirstOutput(pid);
        result.out.append(buffer, static_cast<std::size_t>(got));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = ReadFile(errFile);
    std::filesystem::remove(errFile);
    return result;
}

#endif

} // namespace Wirelog::test
