// SPDX-License-Identifier: MIT
#pragma once
// decode's logic-capture input: the capture through the bus monitor, its events fed to the log
// pipeline as the module's byte stream, each stamped with the sample of its deciding edge.
#include <optional>
#include <string>

namespace Wirelog {
class CaptureMonitor;
}

namespace Wirelog::cli {

class LogPipeline;
class ProgressMeter;

// Returns the failure message, or nothing when the whole capture decoded; `sinkFailed` tells
// the output's failure apart (the output reports it).
std::optional<std::string> DecodeCapture(CaptureMonitor& capture, LogPipeline& pipeline,
                                         ProgressMeter& progress, bool& sinkFailed);

} // namespace Wirelog::cli
