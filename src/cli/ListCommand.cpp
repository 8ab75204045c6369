// SPDX-License-Identifier: MIT
// wirelog-cli list: the attached capture modules, as the window's module list shows them.
#include "adapter/AdapterLibrary.h"
#include "capture/Modules.h"
#include "cli/AdapterLocation.h"
#include "cli/Commands.h"
#include "cli/ExitCodes.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace Wirelog::cli {
namespace {

constexpr std::string_view kHelp =
    R"(usage: wirelog-cli list

Lists the attached capture modules (devices whose description is exactly
"wirlg000"), one line each, as the window's module list shows them:
    <device index> (s/n <serial number>)
The device index is what 'wirelog-cli capture --module' takes.

The adapter library is the file named by the environment variable
WIRELOG_ADAPTER when it is set, otherwise the one installed next to
wirelog-cli. WIRELOG_SIM=demo adds a simulated module.

Exit status: 0 with the list (empty when no module is attached); 1 when the
adapter library cannot count the devices; 2 on bad usage or when the adapter
library cannot be loaded or lacks a function.
)";

} // namespace

int RunList(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp.data(), stdout);
            return kExitOk;
        }
        std::fprintf(stderr, "wirelog-cli list: unexpected argument '%s'\n", argv[i]);
        std::fputs("Try 'wirelog-cli list --help'.\n", stderr);
        return kExitUsage;
    }

    std::string failure;
    AdapterLibrary library(AdapterLibraryPath(), [&](const std::string& text) { failure = text; });
    const ModuleList list = ListModules(library);
    if (!failure.empty()) {
        std::fprintf(stderr, "wirelog-cli list: %s\n", failure.c_str());
        return kExitUsage;
    }
    if (list.countStatus != FT_OK) {
        std::fprintf(stderr,
                     "wirelog-cli list: the adapter library could not count the devices "
                     "(status %lu)\n",
                     static_cast<unsigned long>(list.countStatus));
        return kExitFailure;
    }
    for (const std::string& entry : list.entries)
        std::printf("%s\n", entry.c_str());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

} // namespace Wirelog::cli
