// SPDX-License-Identifier: MIT
// wirelog-cli: the analyzer's jobs for logging rigs and scripts, without a window.
#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "cli/FileNames.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

void PrintUsage(std::FILE* to) {
    std::fputs("usage: wirelog-cli <command> [options]\n"
               "\n"
               "commands:\n"
               "  decode   turn a recorded module byte stream into the log\n"
               "  list     list the attached capture modules\n"
               "  capture  capture from a module without a window\n"
               "\n"
               "'wirelog-cli <command> --help' describes each command;\n"
               "'wirelog-cli --version' shows the version.\n",
               to);
}

} // namespace

int main(int argc, char** argv) {
    // File names arrive as UTF-8 everywhere; the log's CR LF leave standard output unchanged.
    std::vector<std::string> arguments = Wirelog::cli::Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    argv = pointers.data();
    Wirelog::cli::SetBinaryStdout();
    if (argc < 2) {
        PrintUsage(stderr);
        return Wirelog::cli::kExitUsage;
    }
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h") {
        PrintUsage(stdout);
        return Wirelog::cli::kExitOk;
    }
    if (command == "--version") {
        std::puts("wirelog-cli " WIRELOG_VERSION);
        return 0;
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
