// SPDX-License-Identifier: MIT
#pragma once
// UTF-8 (the behaviour's texts) to and from UTF-16 (the window system's).
#include <filesystem>
#include <string>
#include <string_view>

namespace Wirelog::Win32 {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

} // namespace Wirelog::Win32
