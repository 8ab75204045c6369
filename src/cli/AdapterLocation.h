// SPDX-License-Identifier: MIT
#pragma once
// Where the command line finds its adapter library: WIRELOG_ADAPTER when set and not empty,
// otherwise the adapter library file installed next to the wirelog-cli executable. Neither
// goes through the system's library search path, and nothing is written anywhere.
#include <string>

namespace Wirelog::cli {

// The adapter library file's name beside the executable ("libwirlg000.so", "wirlg000.dll").
std::string AdapterFileName();

std::string AdapterLibraryPath();

} // namespace Wirelog::cli
