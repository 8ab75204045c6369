// SPDX-License-Identifier: MIT
#include "cli/RigOptions.h"

#include <charconv>
#include <limits>

namespace Wirelog::cli {
namespace {

// The number in front, and the unit letter after it (0 when there is none).
std::optional<std::uint64_t> ParseScaled(std::string_view text, std::string_view units,
                                         const std::uint64_t* factors) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || at == text.data() || value == 0)
        return std::nullopt;
    if (at == end)
        return value;
    const std::size_t unit = at + 1 == end ? units.find(*at) : std::string_view::npos;
    if (unit == std::string_view::npos ||
        value > std::numeric_limits<std::uint64_t>::max() / factors[unit])
        return std::nullopt;
    return value * factors[unit];
}

} // namespace

std::optional<std::uint64_t> ParseEventCount(std::string_view text) {
    return ParseScaled(text, "", nullptr);
}

std::optional<std::uint64_t> ParseByteSize(std::string_view text) {
    static constexpr std::uint64_t kFactors[] = {1ull << 10, 1ull << 20, 1ull << 30};
    return ParseScaled(text, "KMG", kFactors);
}

std::optional<std::uint64_t> ParseDurationSeconds(std::string_view text) {
    static constexpr std::uint64_t kFactors[] = {1, 60, 3600, 86'400};
    return ParseScaled(text, "smhd", kFactors);
}

std::optional<LineStamps> ParseStampsOption(std::string_view argument) {
    if (argument == "--timestamps" || argument == "--timestamps=seconds")
        return LineStamps::Seconds;
    if (argument == "--timestamps=utc")
        return LineStamps::Utc;
    if (argument.starts_with("--timestamps="))
        return LineStamps::None;
    return std::nullopt;
}

} // namespace Wirelog::cli
