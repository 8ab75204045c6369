// SPDX-License-Identifier: MIT
#include "cli/AdapterLocation.h"

#include "cli/FileNames.h"

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace Wirelog::cli {
namespace {

std::filesystem::path ExecutableDirectory() {
#ifdef _WIN32
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
#else
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
#endif
}

} // namespace

std::string AdapterFileName() {
    return WIRELOG_ADAPTER_FILE_NAME;
}

std::string AdapterLibraryPath() {
#ifdef _WIN32
    if (const wchar_t* chosen = _wgetenv(L"WIRELOG_ADAPTER"); chosen != nullptr && *chosen != 0)
        return Utf8FromPath(std::filesystem::path(chosen));
#else
    if (const char* chosen = std::getenv("WIRELOG_ADAPTER"); chosen != nullptr && *chosen != '\0')
        return chosen;
#endif
    const std::filesystem::path directory = ExecutableDirectory();
    // Without a known directory the bare name still means the current directory, never a search.
    return Utf8FromPath(directory.empty() ? PathFromUtf8(AdapterFileName())
                                          : directory / PathFromUtf8(AdapterFileName()));
}

} // namespace Wirelog::cli
