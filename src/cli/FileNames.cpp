// SPDX-License-Identifier: MIT
#include "cli/FileNames.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace Wirelog::cli {

std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

#ifdef _WIN32

namespace {
std::string Utf8FromWide(const wchar_t* text) {
    std::string out;
    for (const char8_t c : std::filesystem::path(text).u8string())
        out += static_cast<char>(c);
    return out;
}
} // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 0; wide != nullptr && i < count; ++i)
        arguments.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

void SetBinaryStdout() {
    _setmode(_fileno(stdout), _O_BINARY);
}

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void SetBinaryStdout() {}

#endif

} // namespace Wirelog::cli
