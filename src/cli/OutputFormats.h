// SPDX-License-Identifier: MIT
#pragma once
// The one place that turns an output format's name into its writer, for decode and capture.
#include "decode/EventWriter.h"
#include "decode/LogTextWriter.h"

#include <memory>
#include <string_view>

namespace Wirelog::cli {

inline constexpr std::string_view kLogFormat = "log";

struct WriterOptions {
    LineStamps stamps = LineStamps::None;
    CaptureClock clock;
};

// The writer of `format`; null for a name no writer has.
std::unique_ptr<EventWriter> MakeEventWriter(std::string_view format, const WriterOptions& options);

} // namespace Wirelog::cli
