// SPDX-License-Identifier: MIT
#pragma once
// The simulated devices asked for through WIRELOG_SIM or WirelogSim_Configure (syntax in
// wirelog_sim.h and docs/support-library.md).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog::d2xx {

enum class ReadFault { None, Fail, Half, Zero, Block };
// Replay: a recorded byte stream (timed batches) or, when the file is a logic capture,
// Capture: the capture through the bus monitor.
enum class StreamKind { Demo, Idle, Replay, Capture };

struct SimFaults {
    bool openFails = false;
    bool statusFails = false;
    ReadFault read = ReadFault::None;
    std::uint32_t blockMilliseconds = 1500;
    std::optional<std::uint64_t> unplugAfterBytes;
};

struct SimDeviceConfig {
    std::string description = "wirlg000";
    std::string serial;
    StreamKind stream = StreamKind::Demo;
    std::string file;
    // The capture's two lines (channel name or index); unset: WIRELOG_SIM_SCL/_SDA, then
    // the channels named SCL and SDA.
    std::optional<std::string> scl, sda;
    std::uint64_t bytesPerSecond = 0; // 0: the stream's own times
    SimFaults faults;
};

struct SimConfig {
    bool hideHardware = false;
    std::vector<SimDeviceConfig> devices;
};

// Null when the text is malformed. Empty text gives no devices.
std::optional<SimConfig> ParseSimConfig(std::string_view text);

// Replaces faults with those named in text ("read=fail,status=fail"; "" for none); false when
// the text is malformed, leaving faults unchanged.
bool ParseSimFaults(std::string_view text, SimFaults& faults);

} // namespace Wirelog::d2xx
