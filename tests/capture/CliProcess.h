#pragma once
// Runs wirelog-cli as a child process with a chosen environment and working directory, and
// collects its output and exit status. A child that hangs is left to the test's time-out.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
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

extern char** environ;

namespace Wirelog::test {

struct CliRun {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;   // an empty value removes the variable
    std::string directory;                    // empty: the test's own
    std::function<void(pid_t)> onFirstOutput; // once, when standard output first has bytes
};

struct CliResult {
    int status = -1; // the exit status; -1 when the process did not exit by itself
    std::string out, err;
};

inline CliResult RunCli(const CliRun& run) {
    std::vector<std::string> texts{WIRELOG_TEST_CLI};
    texts.insert(texts.end(), run.args.begin(), run.args.end());
    const std::size_t envStart = texts.size();
    for (char** var = environ; *var != nullptr; ++var)
        if (run.env.count(std::string(*var).substr(0, std::string(*var).find('='))) == 0)
            texts.push_back(*var);
    for (const auto& [name, value] : run.env)
        if (!value.empty())
            texts.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (std::size_t i = 0; i < texts.size(); ++i)
        (i < envStart ? argv : envp).push_back(texts[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const std::string errFile =
        std::filesystem::temp_directory_path() / ("wirelog-cli-err-" + std::to_string(getpid()));
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (!run.directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, run.directory.c_str());
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0)
        throw std::runtime_error("cannot start wirelog-cli");

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
    std::ostringstream err;
    err << std::ifstream(errFile).rdbuf();
    result.err = err.str();
    std::filesystem::remove(errFile);
    return result;
}

} // namespace Wirelog::test
