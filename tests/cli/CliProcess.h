#pragma once
// Runs wirelog-cli as a user runs it: a child process with its own arguments, environment and
// working directory, standard input from a file, standard output through a pipe (or into a
// file), standard error collected. A child that hangs is left to the test's time-out.
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
};

struct CliResult {
    int status = -1; // the exit status; -1 when the process did not exit by itself
    std::string out, err;
};

inline CliResult RunCli(const CliRun& run) {
    std::vector<std::string> texts{WIRELOG_CLI_PATH};
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

    const auto errFile =
        std::filesystem::temp_directory_path() / ("wirelog-cli-err-" + std::to_string(getpid()));
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, run.in.c_str(), O_RDONLY, 0);
    if (run.out.empty())
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, run.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
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
    result.err = ReadFile(errFile);
    std::filesystem::remove(errFile);
    return result;
}

} // namespace Wirelog::test
