// SPDX-License-Identifier: MIT
#pragma once
// The capture modules: which adapter devices are modules, how the module list names them, the
// open module's handle, the notification event and the operating-mode table.
#include "adapter/Adapter.h"
#include "adapter/NotifyEvent.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Wirelog {

// The open module's handle, null while none is open. Set and cleared on the thread that owns
// the capture; read by the reader thread before each adapter call.
extern std::atomic<FT_HANDLE> handle;
// The receive-notification event, created when the window loads and never closed.
extern NotifyEvent* hEvent;

struct mode {
    const char* name;
    std::uint8_t command;
    std::uint8_t commandComplement;
    std::int32_t setting; // read by no operation
};

// One row: its two command bytes are the start command, whatever the mode list shows.
extern const mode Modes[1];

inline constexpr std::uint8_t kStopCommand[2] = {0xF0, 0x0F};
// The whole description, compared case-sensitively.
inline constexpr std::string_view kModuleDescription = "wirlg000";
// Description and serial number buffers handed to the adapter.
inline constexpr std::size_t kDeviceTextBytes = 64;
// The module's latency timer while open, in milliseconds.
inline constexpr UCHAR kModuleLatencyMs = 2;

struct ModuleList {
    FT_STATUS countStatus = FT_OK; // the device count's status; no entries unless 0
    std::vector<std::string> entries;
};

// Every device whose description is exactly "wirlg000", in the adapter's order, each as
// "<index> (s/n <serial>)". A device whose description cannot be read is skipped.
ModuleList ListModules(Adapter& adapter);

// "<index> (s/n <serial>)"
std::string ModuleEntry(std::uint32_t index, std::string_view serial);

// The device index an entry's text begins with; none when the text does not begin with a digit
// or the number does not fit a signed 32-bit integer.
std::optional<int> LeadingDeviceIndex(std::string_view entry);

} // namespace Wirelog
