// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace Wirelog {

// "0x" and two upper-case hex digits, always four characters.
std::string ByteToS(std::uint8_t b);

// The same four characters written to out[0..3]; for callers that build lines in place.
void ByteToS(std::uint8_t b, char* out);

} // namespace Wirelog
