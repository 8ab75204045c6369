// SPDX-License-Identifier: MIT
#pragma once
// File names as the command line handles them: UTF-8 text on every system. On Windows the
// program takes its arguments from the wide command line and opens, creates and renames files
// through the wide-character calls, so any name the file system holds works, spaces and
// non-ASCII letters included (decode/OutputFile opens and replaces them with the wide calls);
// elsewhere the bytes pass through unchanged.
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog::cli {

std::filesystem::path PathFromUtf8(std::string_view text);
std::string Utf8FromPath(const std::filesystem::path& path);

// The program's arguments as UTF-8, argv[0] included (Windows: from the wide command line).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Standard output carries the log's CR LF as they are, never translated.
void SetBinaryStdout();

} // namespace Wirelog::cli
