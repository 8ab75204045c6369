// SPDX-License-Identifier: MIT
#pragma once
// Puts the adapter library next to the user's work: the program carries the library's file
// image and writes it to "wirlg000.dll" in the current directory when no file of that name is
// there. An existing file is taken as the library, whatever it holds.
//
// No window toolkit here: each program supplies where its image comes from (a Qt resource, a
// Windows resource).
#include <cstddef>
#include <filesystem>
#include <functional>
#include <vector>

namespace Wirelog {

inline constexpr char kSupportLibraryFile[] = "wirlg000.dll";
inline constexpr char kDeploymentFailedMessage[] =
    "Unable to create a required supporting DLL in the current directory. "
    "Wirelog is unable to run!";

// False once the library file could not be written; it never becomes true again in that run.
extern bool _isRunning;

// Where the library goes and where its bytes come from; tests replace both.
struct SupportLibraryDeployment {
    std::filesystem::path directory;
    // Read only when the file has to be written; an empty image counts as a missing resource.
    std::function<std::vector<std::byte>()> image;
};

enum class DeployResult { AlreadyPresent, Written, Failed };

// Writes the image to directory/wirlg000.dll unless a file of that name exists. A write that
// fails part-way removes what it wrote, so a later start never takes a truncated file for the
// library.
DeployResult DeploySupportLibrary(const SupportLibraryDeployment& deployment);

// The deployed file as the adapter binding opens it: relative to the current directory when
// it lies below it, so that the program's own case is the bare file name.
std::filesystem::path SupportLibraryPath(const SupportLibraryDeployment& deployment);

} // namespace Wirelog
