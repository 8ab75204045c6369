// SPDX-License-Identifier: MIT
#pragma once
// A logic capture replayed as a module would have reported its bus: the capture goes through
// the bus monitor block by block as bytes are asked for, so a capture of any length replays in
// bounded memory, each event due at its deciding sample's time.
#include "ByteSchedule.h"
#include "busmonitor/CaptureMonitor.h"

#include <cstddef>
#include <vector>

namespace Wirelog::d2xx {

class CaptureSchedule final : public ByteSchedule {
public:
    // Throws CaptureError when the capture cannot be opened or lacks the lines.
    explicit CaptureSchedule(const CaptureSource& source);
    bool Next(std::uint8_t& byte, std::int64_t& dueNs) override;

private:
    bool NextEvent();

    CaptureMonitor monitor_;
    std::uint64_t sampleRate_;
    std::vector<MonitorEvent> events_;
    std::size_t nextEvent_ = 0;
    ModuleBytes bytes_{};
    std::size_t nextByte_ = 0;
    std::int64_t dueNs_ = 0;
};

} // namespace Wirelog::d2xx
