// SPDX-License-Identifier: MIT
#pragma once
// Each command gets its own argv, argv[0] being the command's name; returns the exit status.

namespace Wirelog::cli {

int RunDecode(int argc, char** argv);
int RunList(int argc, char** argv);
int RunCapture(int argc, char** argv);

} // namespace Wirelog::cli
