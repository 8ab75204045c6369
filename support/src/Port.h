// SPDX-License-Identifier: MIT
#pragma once
// One open device behind a D2XX handle, whichever back end serves it. Every member may be called
// from several threads at once, also while Close runs or after it; after Close every call
// fails with a non-zero status.
#include "ftd2xx.h"

#include <cstdint>
#include <string>

namespace Wirelog::d2xx {

class Port {
public:
    virtual ~Port() = default;

    virtual FT_STATUS SetLatencyTimer(std::uint8_t milliseconds) = 0;
    virtual FT_STATUS SetEventNotification(std::uint32_t mask, void* event) = 0;
    virtual FT_STATUS GetQueueStatus(DWORD& queued) = 0;
    // Waits only when more bytes are asked for than are queued.
    virtual FT_STATUS Read(std::uint8_t* buffer, DWORD count, DWORD& returned) = 0;
    virtual FT_STATUS Write(const std::uint8_t* bytes, DWORD count, DWORD& written) = 0;
    // Wakes calls that wait and releases the device; later calls fail.
    virtual void Close() = 0;
};

// What the device list shows for one device.
struct DeviceInfo {
    std::string description;
    std::string serial;
    bool readable = true; // false when the device's strings could not be read
};

} // namespace Wirelog::d2xx
