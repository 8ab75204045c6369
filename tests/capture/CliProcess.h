#pragma once
// Runs wirelog-cli as a child process with a chosen environment and working directory, and
// collects its output and exit status.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace Wirelog::test {

struct CliResult {
    int status = -1; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

struct CliRun {
    std::vector<std::string> args;
    // Variables to set; an empty value removes the variable.
    std::map<std::string, std::string> env;
    std::string directory; // empty: the test's own
    // Called once with the child's pid when its standard output first has bytes.
    std::function<void(pid_t)> onFirstOutput;
    std::chrono::seconds limit{60};
};

inline CliResult RunCli(const CliRun& run) {
    std::vector<std::string> envText;
    for (char** var = environ; *var != nullptr; ++var) {
        const std::string text = *var;
        const std::string name = text.substr(0, text.find('='));
        if (run.env.count(name) == 0)
            envText.push_back(text);
    }
    for (const auto& [name, value] : run.env)
        if (!value.empty())
            envText.push_back(name + "=" + value);

    std::vector<std::string> argText{WIRELOG_TEST_CLI};
    argText.insert(argText.end(), run.args.begin(), run.args.end());
    auto pointers = [](std::vector<std::string>& texts) {
        std::vector<char*> result;
        for (std::string& text : texts)
            result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<char*> argv = pointers(argText);
    std::vector<char*> envp = pointers(envText);

    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    if (!run.directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, run.directory.c_str());
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + argText[0]);

    CliResult result;
    const auto deadline = std::chrono::steady_clock::now() + run.limit;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    bool told = false;
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            sinks[i]->append(buffer, static_cast<std::size_t>(got));
            if (i == 0 && !told && run.onFirstOutput) {
                told = true;
                run.onFirstOutput(pid);
            }
        }
    }
    for (const pollfd& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace Wirelog::test
