// SPDX-License-Identifier: MIT
#pragma once
// A logic capture through the bus monitor, block by block, and its events as the capture
// module's byte stream: what the command line's decode and the simulator's replay share.
#include "busmonitor/BinaryReader.h"
#include "busmonitor/BusMonitor.h"
#include "busmonitor/CaptureReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog {

struct CaptureSource {
    std::string path;
    std::string format; // "" probes the content; "binary" is raw samples (BinarySource)
    std::string scl = "SCL";
    std::string sda = "SDA";
    BusMonitorOptions monitor;
};

// What raw samples (format "binary") need besides: their layout, and what a signal that
// interrupts the wait for input means (true: the input ends there).
struct BinarySource {
    BinaryLayout layout;
    std::function<bool()> stopRequested;
};

class CaptureMonitor {
public:
    // Opens the capture and picks its two lines. Throws CaptureError naming the file.
    explicit CaptureMonitor(const CaptureSource& source, const BinarySource& binary = {});

    // Replaces `events` with those of the next block of the capture (possibly none). Returns
    // false once the capture is exhausted and every event has been handed out. Throws
    // CaptureError for a truncated or corrupt file.
    bool Next(std::vector<MonitorEvent>& events);

    std::uint64_t SampleRate() const { return reader_->Info().sampleRate; }
    double Progress() const { return reader_->Progress(); }

private:
    std::unique_ptr<CaptureReader> reader_;
    BusMonitor monitor_;
    std::vector<BusLevels> changes_;
    bool finished_ = false;
};

// One event as the module sends it: the code byte, then the value byte for the codes that
// take one.
struct ModuleBytes {
    std::uint8_t bytes[2];
    std::size_t count;
};
ModuleBytes ToModuleBytes(const MonitorEvent& event);

} // namespace Wirelog
