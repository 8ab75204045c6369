// SPDX-License-Identifier: MIT
#pragma once
// The one place that turns an output format's name into its writer, for decode and capture.
#include "decode/EventWriter.h"
#include "decode/LogTextWriter.h"
#include "export/Transactions.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Wirelog::cli {

inline constexpr std::string_view kLogFormat = "log";

struct WriterOptions {
    LineStamps stamps = LineStamps::None;
    CaptureClock clock;
    AddressSet addresses; // none: every transaction
};

// The writer of `format`; null for a name no writer has.
std::unique_ptr<EventWriter> MakeEventWriter(std::string_view format, const WriterOptions& options);

// What --output-format and --address choose, as both commands take them.
struct OutputChoice {
    std::string format{kLogFormat};
    AddressSet addresses;
};

// Takes `name` ("--output-format" or "--address") with its value: nothing when `name` is
// neither, an empty text when the value is sound, the problem otherwise.
std::optional<std::string> ParseOutputOption(std::string_view name,
                                             std::optional<std::string_view> value,
                                             OutputChoice& choice);

} // namespace Wirelog::cli
