// SPDX-License-Identifier: MIT
#include "decode/LogFile.h"

#include "decode/LogLines.h"

#include <string>

namespace Wirelog {

bool WriteLogFile(const LogLines& lines, const std::function<bool(std::string_view)>& write) {
    constexpr std::size_t kChunk = 1 << 16;
    std::string chunk;
    chunk.reserve(kChunk + LogLines::kMaxLineBytes + 2);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        chunk += lines[i];
        chunk += "\r\n";
        if (chunk.size() >= kChunk) {
            if (!write(chunk))
                return false;
            chunk.clear();
        }
    }
    return chunk.empty() || write(chunk);
}

} // namespace Wirelog
