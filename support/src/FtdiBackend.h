// SPDX-License-Identifier: MIT
#pragma once
// Real FTDI devices through libftdi1 (libusb underneath). Only this file pair knows libftdi.
#include "Port.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Wirelog::d2xx {

struct RealDevice {
    DeviceInfo info;
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
};

// The FTDI devices attached now, with libftdi's default vendor and product ids. An unusable USB
// stack lists nothing rather than failing, so simulated devices still work without one.
std::vector<RealDevice> EnumerateFtdiDevices();

// Opens the device at that USB position and starts its receive thread.
FT_STATUS OpenFtdiDevice(const RealDevice& device, std::shared_ptr<Port>& port);

} // namespace Wirelog::d2xx
