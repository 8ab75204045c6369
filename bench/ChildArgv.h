// SPDX-License-Identifier: MIT
#pragma once
// The argument vector posix_spawn takes, for the benchmarks that run wirelog-cli and sigrok-cli.
#include <string>
#include <vector>

namespace Wirelog::bench {

// Pointers into `args`, which must outlive the result, ended by a null one.
inline std::vector<char*> ChildArgv(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

} // namespace Wirelog::bench
