// SPDX-License-Identifier: MIT
#pragma once
// The USB calls the real back end makes, behind one interface: the real layer goes to libusb and
// libftdi (LibusbLayer.cpp), a test installs a fake chip (FakeUsbChip.h).
//
// Threads: a UsbChip's control calls (Identify, Take, ResetBitMode, Purge, SetLatencyTimer,
// Write, Release) use the libftdi context, which is not thread-safe; every implementation
// serialises them on the chip's own lock, so callers may make them from any thread. The bulk-in
// side (transfers and HandleEvents) goes to libusb, which is thread-safe: Submit and Cancel may
// come from any thread, completions run only inside HandleEvents, on the thread that calls it,
// and only the receive path's event thread calls it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace Wirelog::d2xx {

enum class UsbResult { Ok, AccessDenied, NoDevice, Failed };

struct UsbStrings {
    std::string description;
    std::optional<std::string> serial; // absent when the device has no serial-number string
};

// One FTDI device as the bus shows it.
struct UsbDeviceRef {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    int channels = 1;                      // interfaces of a multi-channel chip
    UsbResult strings = UsbResult::Failed; // whether the string descriptors could be read
    UsbStrings text;                       // valid when strings == Ok
};

struct UsbIdentity {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<std::string> serial;
};

enum class TransferStatus { Completed, Cancelled, NoDevice, Failed };

// One asynchronous bulk-in transfer with its own buffer. It is not destroyed while submitted.
class BulkTransfer {
public:
    // Runs inside HandleEvents with the bytes received, packet headers included.
    using Completion = std::function<void(TransferStatus, std::span<std::uint8_t>)>;
    virtual ~BulkTransfer() = default;
    // Asks for length bytes (a whole number of packets, at most the buffer's size); the transfer
    // completes when they have come or a short packet ends it.
    virtual UsbResult Submit(std::size_t length) = 0;
    // The transfer comes back through its completion with Cancelled (or with what it got).
    virtual void Cancel() = 0;
};

// One channel of a chip, opened for the identity check; Take claims it.
class UsbChip {
public:
    virtual ~UsbChip() = default;

    virtual UsbIdentity Identify() = 0;
    // Claims the interface (detaching the kernel's serial driver).
    virtual UsbResult Take() = 0;
    virtual UsbResult ResetBitMode() = 0;
    virtual UsbResult Purge() = 0;
    virtual UsbResult SetLatencyTimer(std::uint8_t milliseconds) = 0;
    virtual UsbResult Write(const std::uint8_t* bytes, std::size_t count, std::size_t& written) = 0;
    // Releases the interface, gives it back to the kernel's serial driver and closes; every
    // later call fails. No transfer may be submitted then.
    virtual void Release() = 0;

    // Bytes per bulk packet: 64 at full speed, 512 at high speed.
    virtual std::size_t MaxPacketSize() const = 0;
    virtual std::unique_ptr<BulkTransfer> MakeBulkIn(std::size_t length,
                                                     BulkTransfer::Completion done) = 0;
    // Runs completions that are due, waiting up to the timeout for one.
    virtual void HandleEvents(std::chrono::milliseconds timeout) = 0;
    // Makes a HandleEvents that waits return soon.
    virtual void Interrupt() = 0;
};

class UsbLayer {
public:
    virtual ~UsbLayer() = default;
    // Devices with FTDI's vendor id, any product id; nothing when USB is unusable.
    virtual std::vector<UsbDeviceRef> ListFtdiDevices() = 0;
    // The strings the kernel read at enumeration (sysfs), for devices we may not open.
    virtual std::optional<UsbStrings> ReadSystemStrings(const UsbDeviceRef& device) = 0;
    virtual UsbResult OpenChannel(const UsbDeviceRef& device, int channel,
                                  std::unique_ptr<UsbChip>& chip) = 0;
};

std::shared_ptr<UsbLayer> MakeLibusbLayer();

} // namespace Wirelog::d2xx
