// SPDX-License-Identifier: MIT
#include "cli/CaptureDecode.h"

#include "busmonitor/CaptureMonitor.h"
#include "cli/LogPipeline.h"
#include "cli/ProgressMeter.h"

#include <vector>

namespace Wirelog::cli {

std::optional<std::string> DecodeCapture(CaptureMonitor& capture, LogPipeline& pipeline,
                                         ProgressMeter& progress, bool& sinkFailed) {
    std::vector<MonitorEvent> events;
    try {
        while (!pipeline.reached() && capture.Next(events)) {
            // Each event is one read of its own, stamped with its sample: the decoder's ticks
            // are samples, so every gap it shows is exact.
            for (const MonitorEvent& event : events) {
                const ModuleBytes module = ToModuleBytes(event);
                pipeline.frameRead(static_cast<std::int64_t>(event.sample), module.bytes,
                                   module.count);
            }
            if (!pipeline.drain()) {
                sinkFailed = true;
                return std::nullopt;
            }
            progress.Update(capture.Progress());
        }
    } catch (const CaptureError& error) {
        return std::string(error.what());
    }
    return std::nullopt;
}

} // namespace Wirelog::cli
