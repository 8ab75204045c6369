// SPDX-License-Identifier: MIT
#pragma once
// The values of the options for long unattended runs: event bounds, file sizes, durations and
// line stamps, as the user writes them.
#include "decode/LogTextWriter.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace Wirelog::cli {

// A positive whole number of events.
std::optional<std::uint64_t> ParseEventCount(std::string_view text);
// A positive number of bytes, optionally followed by K, M or G (powers of 1024).
std::optional<std::uint64_t> ParseByteSize(std::string_view text);
// A positive whole number of seconds, optionally followed by s, m, h or d.
std::optional<std::uint64_t> ParseDurationSeconds(std::string_view text);
// "--timestamps" (seconds), "--timestamps=seconds" or "--timestamps=utc"; nothing for another
// argument, and None for a value that is neither.
std::optional<LineStamps> ParseStampsOption(std::string_view argument);

} // namespace Wirelog::cli
