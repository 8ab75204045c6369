// SPDX-License-Identifier: MIT
#include "FtdiBackend.h"

#include "ReceiveQueue.h"
#include "UsbReceiver.h"

#include <cstdio>
#include <mutex>

namespace Wirelog::d2xx {

namespace {

std::mutex layerMutex;
std::shared_ptr<UsbLayer> installedLayer; // guarded by layerMutex

std::shared_ptr<UsbLayer> Layer() {
    std::lock_guard lock(layerMutex);
    if (!installedLayer) {
        installedLayer = MakeLibusbLayer();
    }
    return installedLayer;
}

FT_STATUS ToStatus(UsbResult result) {
    switch (result) {
    case UsbResult::Ok:
        return FT_OK;
    case UsbResult::NoDevice:
        return FT_DEVICE_NOT_FOUND;
    case UsbResult::AccessDenied:
    case UsbResult::Failed:
        return FT_DEVICE_NOT_OPENED;
    }
    return FT_OTHER_ERROR;
}

class UsbPort final : public Port {
public:
    explicit UsbPort(std::unique_ptr<UsbChip> chip)
        : chip_(std::move(chip)), receiver_(*chip_, queue_) {}
    ~UsbPort() override { Close(); }
    UsbPort(const UsbPort&) = delete;
    UsbPort& operator=(const UsbPort&) = delete;

    bool Start() { return receiver_.Start(); }

    FT_STATUS SetLatencyTimer(std::uint8_t milliseconds) override {
        return Control(chip_->SetLatencyTimer(milliseconds));
    }

    FT_STATUS SetEventNotification(std::uint32_t mask, void* event) override {
        if (const FT_STATUS status = Status(); status != FT_OK) {
            return status;
        }
        queue_.SetNotification(mask, event);
        return FT_OK;
    }

    FT_STATUS GetQueueStatus(DWORD& queued) override {
        if (const FT_STATUS status = Status(); status != FT_OK) {
            return status;
        }
        queued = static_cast<DWORD>(queue_.Size());
        return FT_OK;
    }

    // A device that went away still serves what it delivered, a short read at the end.
    FT_STATUS Read(std::uint8_t* buffer, DWORD count, DWORD& returned) override {
        if (const FT_STATUS status = Status(); status != FT_OK) {
            return status;
        }
        if (!queue_.WaitForBytes(count, ReceiveQueue::Clock::time_point::max()) && closed_) {
            return FT_INVALID_HANDLE;
        }
        returned = static_cast<DWORD>(queue_.Pop(buffer, count));
        return returned == 0 && count > 0 ? FT_STATUS{FT_IO_ERROR} : FT_STATUS{FT_OK};
    }

    FT_STATUS Write(const std::uint8_t* bytes, DWORD count, DWORD& written) override {
        std::size_t sent = 0;
        const FT_STATUS status = Control(chip_->Write(bytes, count, sent));
        written = static_cast<DWORD>(sent);
        return status;
    }

    void Close() override {
        std::lock_guard closing(closeMutex_);
        if (closed_.exchange(true)) {
            return;
        }
        queue_.Close();
        receiver_.Stop();
        chip_->Release();
    }

private:
    // Queued bytes come before the news that the device is gone.
    FT_STATUS Status() const {
        if (closed_) {
            return FT_INVALID_HANDLE;
        }
        return receiver_.Gone() && queue_.Size() == 0 ? FT_IO_ERROR : FT_OK;
    }

    FT_STATUS Control(UsbResult result) const {
        if (closed_) {
            return FT_INVALID_HANDLE;
        }
        if (receiver_.Gone() && queue_.Size() == 0) {
            return FT_IO_ERROR;
        }
        return result == UsbResult::Ok ? FT_STATUS{FT_OK} : FT_STATUS{FT_IO_ERROR};
    }

    std::unique_ptr<UsbChip> chip_;
    ReceiveQueue queue_;
    UsbReceiver receiver_;
    std::mutex closeMutex_;
    std::atomic<bool> closed_{false};
};

char ChannelLetter(int channel) {
    return static_cast<char>('A' + channel);
}

// D2XX names the channels of a multi-channel chip "<description> A" and "<serial>A".
RealDevice ChannelEntry(const UsbDeviceRef& usb, const UsbStrings& text, int channel) {
    RealDevice device;
    device.usb = usb;
    device.channel = channel;
    device.info.description = text.description;
    device.info.serial = text.serial.value_or("");
    if (usb.channels > 1) {
        device.info.description += std::string(" ") + ChannelLetter(channel);
        if (!device.info.serial.empty()) {
            device.info.serial += ChannelLetter(channel);
        }
    }
    return device;
}

std::vector<RealDevice> ListedChannels(UsbLayer& layer, const UsbDeviceRef& usb) {
    UsbStrings text = usb.text;
    bool readable = usb.strings == UsbResult::Ok;
    const bool denied = usb.strings == UsbResult::AccessDenied;
    if (denied) {
        if (auto system = layer.ReadSystemStrings(usb)) {
            text = std::move(*system);
            readable = true;
        }
    }
    std::vector<RealDevice> channels;
    for (int channel = 0; channel < std::max(usb.channels, 1); ++channel) {
        RealDevice device = ChannelEntry(usb, text, channel);
        device.usb.text = text; // what the identity check at open compares against
        device.info.readable = readable;
        device.accessDenied = denied;
        channels.push_back(std::move(device));
    }
    return channels;
}

// Bus addresses are reused: the device there now must be the one the caller chose.
bool IsListedDevice(UsbChip& chip, const RealDevice& device) {
    const UsbIdentity identity = chip.Identify();
    return identity.vendor == device.usb.vendor && identity.product == device.usb.product &&
           identity.serial == device.usb.text.serial;
}

FT_STATUS PrepareChip(UsbChip& chip) {
    if (const UsbResult taken = chip.Take(); taken != UsbResult::Ok) {
        return ToStatus(taken);
    }
    // Another tool may have left the chip in bit-bang or MPSSE mode; bytes it held from before
    // this open belong to nobody.
    if (chip.ResetBitMode() != UsbResult::Ok || chip.Purge() != UsbResult::Ok) {
        chip.Release();
        return FT_DEVICE_NOT_OPENED;
    }
    return FT_OK;
}

} // namespace

void SetUsbLayer(std::shared_ptr<UsbLayer> layer) {
    std::lock_guard lock(layerMutex);
    installedLayer = std::move(layer);
}

std::string AccessDeniedMessage(const UsbDeviceRef& device) {
    char position[32];
    std::snprintf(position, sizeof position, "%03u/%03u", device.bus, device.address);
    return std::string("wirlg000: no access to the USB device ") + position + " (/dev/bus/usb/" +
           position +
           "); install the udev rule 70-wirelog.rules from support/udev into "
           "/etc/udev/rules.d/ and replug the module";
}

std::vector<RealDevice> EnumerateFtdiDevices() {
    const std::shared_ptr<UsbLayer> layer = Layer();
    std::vector<RealDevice> devices;
    for (const UsbDeviceRef& usb : layer->ListFtdiDevices()) {
        for (RealDevice& channel : ListedChannels(*layer, usb)) {
            devices.push_back(std::move(channel));
        }
    }
    return devices;
}

FT_STATUS OpenFtdiDevice(const RealDevice& device, std::shared_ptr<Port>& port) {
    std::unique_ptr<UsbChip> chip;
    const UsbResult opened = Layer()->OpenChannel(device.usb, device.channel, chip);
    if (opened == UsbResult::AccessDenied) {
        // The library's other place to speak: the user must learn what to install.
        std::fprintf(stderr, "%s\n", AccessDeniedMessage(device.usb).c_str());
    }
    if (opened != UsbResult::Ok) {
        return ToStatus(opened);
    }
    if (!IsListedDevice(*chip, device)) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (const FT_STATUS status = PrepareChip(*chip); status != FT_OK) {
        return status;
    }
    auto usbPort = std::make_shared<UsbPort>(std::move(chip));
    if (!usbPort->Start()) {
        return FT_DEVICE_NOT_OPENED; // the port's destructor gives the chip back
    }
    port = std::move(usbPort);
    return FT_OK;
}

} // namespace Wirelog::d2xx
