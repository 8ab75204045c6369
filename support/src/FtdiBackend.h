// SPDX-License-Identifier: MIT
#pragma once
// Real FTDI devices: listing, the checks at open, and the port that serves an open channel. The
// USB calls themselves go through the seam in UsbSeam.h. On Windows, listing and opening are
// served by D2xxDriverBackend.cpp through FTDI's own driver instead.
#include "Port.h"
#include "UsbSeam.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Wirelog::d2xx {

struct RealDevice {
    DeviceInfo info;
    UsbDeviceRef usb;
    int channel = 0;
    bool accessDenied = false; // listed from the kernel's strings; opening it fails
    std::uint32_t driverIndex = 0; // the device's place in FTDI's driver list (Windows)
};

// One entry per channel of every FTDI device attached now. An unusable USB stack lists nothing
// rather than failing, so simulated devices still work without one.
std::vector<RealDevice> EnumerateFtdiDevices();

// Opens the channel if it is still the device that was listed, and starts its receive path.
FT_STATUS OpenFtdiDevice(const RealDevice& device, std::shared_ptr<Port>& port);

// The USB layer every later listing and open uses (the libusb one until replaced); a test
// installs its fake here. Null restores the real one.
void SetUsbLayer(std::shared_ptr<UsbLayer> layer);

// The line the library prints when a module is listed but may not be opened.
std::string AccessDeniedMessage(const UsbDeviceRef& device);

} // namespace Wirelog::d2xx
