// SPDX-License-Identifier: MIT
#pragma once
// Runs wirelog-cli as a user runs it: a child process with its own arguments, environment and
// working directory, standard input from a file, standard output through a pipe (or into a
// file), standard error collected. A child that hangs is left to the test's time-out.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

struct CliRun {
    std::vector<std::string> args;
    std::map<std::string, std::string> env; // an empty value removes the variable
    std::string in = "/dev/null";
    std::string out;                          // a file for standard output; empty: captured
    std::string directory;                    // empty: the test's own
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
        if (!run.directory.empty() && chdir(run.directory.c_str()) != 0)
            _exit(127);
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

} // namespace Wirelog::test
