// SPDX-License-Identifier: MIT
#pragma once
// The saved log's bytes: each line followed by CR LF, the last one included; nothing else.
#include <functional>
#include <string_view>

namespace Wirelog {

class LogLines;

// Hands the file's bytes, in order and in chunks, to write; stops at the first chunk that
// write refuses and returns false then. An empty log writes nothing and returns true.
bool WriteLogFile(const LogLines& lines, const std::function<bool(std::string_view)>& write);

} // namespace Wirelog
