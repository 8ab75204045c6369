// SPDX-License-Identifier: MIT
#include "decode/ByteToS.h"

namespace Wirelog {
namespace {

char HexDigit(unsigned nibble) {
    return static_cast<char>(nibble <= 9 ? 48 + nibble : 48 + 7 + nibble);
}

} // namespace

void ByteToS(std::uint8_t b, char* out) {
    out[0] = '0';
    out[1] = 'x';
    out[2] = HexDigit(b >> 4);
    out[3] = HexDigit(b & 0x0F);
}

std::string ByteToS(std::uint8_t b) {
    // Each call returns its own copy, so an earlier result never changes under the caller.
    char buf[4];
    ByteToS(b, buf);
    return std::string(buf, 4);
}

} // namespace Wirelog
