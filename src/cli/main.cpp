// SPDX-License-Identifier: MIT
// wirelog-cli: the analyzer's jobs for logging rigs and scripts, without a window.
#include "cli/Commands.h"
#include "cli/ExitCodes.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

void PrintUsage(std::FILE* to) {
    std::fputs("usage: wirelog-cli <command> [options]\n"
               "\n"
               "commands:\n"
               "  decode   turn a recorded module byte stream into the log\n"
               "  list     list the attached capture modules\n"
               "  capture  capture from a module without a window\n"
               "\n"
               "'wirelog-cli <command> --help' describes each command.\n",
               to);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintUsage(stderr);
        return Wirelog::cli::kExitUsage;
    }
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h") {
        PrintUsage(stdout);
        return Wirelog::cli::kExitOk;
    }
    if (command == "decode")
        return Wirelog::cli::RunDecode(argc - 1, argv + 1);
    if (command == "list")
        return Wirelog::cli::RunList(argc - 1, argv + 1);
    if (command == "capture")
        return Wirelog::cli::RunCapture(argc - 1, argv + 1);
    std::fprintf(stderr, "wirelog-cli: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return Wirelog::cli::kExitUsage;
}
