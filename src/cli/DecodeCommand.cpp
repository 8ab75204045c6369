#include "Commands.h"

#include <cstdio>

namespace Wirelog::cli {

// Placeholder until the command lands; it must never report success.
int RunDecode(int, char**) {
    std::fputs("wirelog-cli: this command is not built yet\n", stderr);
    return 2;
}

} // namespace Wirelog::cli
