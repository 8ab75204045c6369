// SPDX-License-Identifier: MIT
// The USB seam on libusb and libftdi. libftdi opens and sets up the chip; the bulk-in stream is
// libusb's asynchronous transfers on the chip's own libusb context.
#include "UsbSeam.h"

#include <ftdi.h>
#include <libusb.h>

#include <dirent.h>

#include <fstream>
#include <mutex>

namespace Wirelog::d2xx {

namespace {

constexpr std::uint16_t kFtdiVendor = 0x0403;
constexpr int kStringSize = 256;

UsbResult FromLibusb(int code) {
    switch (code) {
    case LIBUSB_SUCCESS:
        return UsbResult::Ok;
    case LIBUSB_ERROR_ACCESS:
        return UsbResult::AccessDenied;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
        return UsbResult::NoDevice;
    default:
        return UsbResult::Failed;
    }
}

// A string descriptor by index; index 0 means the device has none.
std::optional<std::string> ReadString(libusb_device_handle* handle, std::uint8_t index) {
    if (index == 0) {
        return std::nullopt;
    }
    unsigned char text[kStringSize] = {};
    const int length = libusb_get_string_descriptor_ascii(handle, index, text, kStringSize);
    if (length < 0) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
}

int InterfaceCount(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) {
        return 1;
    }
    const int count = config->bNumInterfaces;
    libusb_free_config_descriptor(config);
    return std::max(count, 1);
}

struct DeviceListDeleter {
    void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*, DeviceListDeleter>;

struct ContextDeleter {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};

void ReadDeviceStrings(libusb_device* device, const libusb_device_descriptor& descriptor,
                       UsbDeviceRef& ref) {
    libusb_device_handle* handle = nullptr;
    ref.strings = FromLibusb(libusb_open(device, &handle));
    if (ref.strings != UsbResult::Ok) {
        return;
    }
    const auto description = ReadString(handle, descriptor.iProduct);
    ref.text.serial = ReadString(handle, descriptor.iSerialNumber);
    if (descriptor.iProduct != 0 && !description) {
        ref.strings = UsbResult::Failed;
    }
    ref.text.description = description.value_or("");
    libusb_close(handle);
}

std::string ReadLine(const std::string& path, bool& found) {
    std::ifstream file(path);
    std::string line;
    found = static_cast<bool>(std::getline(file, line));
    return line;
}

class LibusbTransfer final : public BulkTransfer {
public:
    LibusbTransfer(libusb_device_handle* handle, int endpoint, std::size_t length, Completion done)
        : transfer_(libusb_alloc_transfer(0)), buffer_(length), done_(std::move(done)) {
        libusb_fill_bulk_transfer(transfer_, handle, static_cast<unsigned char>(endpoint),
                                  buffer_.data(), static_cast<int>(length), &Finished, this, 0);
    }
    ~LibusbTransfer() override { libusb_free_transfer(transfer_); }
    LibusbTransfer(const LibusbTransfer&) = delete;
    LibusbTransfer& operator=(const LibusbTransfer&) = delete;

    UsbResult Submit(std::size_t length) override {
        if (transfer_ == nullptr) {
            return UsbResult::Failed;
        }
        transfer_->length = static_cast<int>(std::min(length, buffer_.size()));
        return FromLibusb(libusb_submit_transfer(transfer_));
    }
    void Cancel() override { libusb_cancel_transfer(transfer_); }

private:
    static void LIBUSB_CALL Finished(libusb_transfer* transfer) {
        auto* self = static_cast<LibusbTransfer*>(transfer->user_data);
        TransferStatus status = TransferStatus::Failed;
        switch (transfer->status) {
        case LIBUSB_TRANSFER_COMPLETED:
            status = TransferStatus::Completed;
            break;
        case LIBUSB_TRANSFER_CANCELLED:
            status = TransferStatus::Cancelled;
            break;
        case LIBUSB_TRANSFER_NO_DEVICE:
            status = TransferStatus::NoDevice;
            break;
        default:
            break;
        }
        self->done_(status, std::span(self->buffer_.data(),
                                      static_cast<std::size_t>(transfer->actual_length)));
    }

    libusb_transfer* transfer_;
    std::vector<std::uint8_t> buffer_;
    Completion done_;
};

// One channel. Every call that touches the libftdi context holds lock_; the libusb context and
// device handle are read only after Take and are safe from any thread.
class LibusbChip final : public UsbChip {
public:
    LibusbChip(ftdi_context* ftdi, libusb_device* device, UsbIdentity identity)
        : ftdi_(ftdi), device_(device), identity_(std::move(identity)), events_(ftdi->usb_ctx) {}
    ~LibusbChip() override {
        Release();
        libusb_unref_device(device_);
        ftdi_free(ftdi_);
    }
    LibusbChip(const LibusbChip&) = delete;
    LibusbChip& operator=(const LibusbChip&) = delete;

    UsbIdentity Identify() override { return identity_; }

    UsbResult Take() override {
        std::lock_guard lock(lock_);
        if (ftdi_usb_open_dev(ftdi_, device_) < 0) {
            return UsbResult::Failed;
        }
        handle_ = ftdi_->usb_dev;
        endpoint_ = ftdi_->out_ep; // libftdi names the chip's bulk-in endpoint "out"
        packet_ = ftdi_->max_packet_size;
        interface_ = ftdi_->interface;
        return UsbResult::Ok;
    }

    UsbResult ResetBitMode() override {
        return Locked([this] { return ftdi_set_bitmode(ftdi_, 0, BITMODE_RESET); });
    }
    UsbResult Purge() override {
        return Locked([this] { return ftdi_tcioflush(ftdi_); });
    }
    UsbResult SetLatencyTimer(std::uint8_t milliseconds) override {
        return Locked([&] { return ftdi_set_latency_timer(ftdi_, milliseconds); });
    }
    UsbResult Write(const std::uint8_t* bytes, std::size_t count, std::size_t& written) override {
        int sent = 0;
        const UsbResult result = Locked([&] {
            sent = ftdi_write_data(ftdi_, bytes, static_cast<int>(count));
            return sent;
        });
        written = result == UsbResult::Ok ? static_cast<std::size_t>(sent) : 0;
        return result;
    }

    // The kernel's serial driver gets the interface back, so the chip is a serial port again
    // for other programs.
    void Release() override {
        std::lock_guard lock(lock_);
        if (handle_ == nullptr) {
            return;
        }
        libusb_release_interface(handle_, interface_);
        libusb_attach_kernel_driver(handle_, interface_);
        ftdi_usb_close(ftdi_);
        handle_ = nullptr;
    }

    std::size_t MaxPacketSize() const override { return packet_; }

    std::unique_ptr<BulkTransfer> MakeBulkIn(std::size_t length,
                                             BulkTransfer::Completion done) override {
        return std::make_unique<LibusbTransfer>(handle_, endpoint_, length, std::move(done));
    }

    void HandleEvents(std::chrono::milliseconds timeout) override {
        timeval wait{};
        wait.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        wait.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        libusb_handle_events_timeout_completed(events_, &wait, nullptr);
    }

    void Interrupt() override { libusb_interrupt_event_handler(events_); }

private:
    // The one place the libftdi context is used after Take: serialised, refused once released.
    template <class Call> UsbResult Locked(Call call) {
        std::lock_guard lock(lock_);
        if (handle_ == nullptr) {
            return UsbResult::NoDevice;
        }
        const int result = call();
        if (result >= 0) {
            return UsbResult::Ok;
        }
        return ftdi_->usb_dev == nullptr ? UsbResult::NoDevice : UsbResult::Failed;
    }

    std::mutex lock_;
    ftdi_context* ftdi_;
    libusb_device* device_;
    const UsbIdentity identity_;
    libusb_context* const events_;
    libusb_device_handle* handle_ = nullptr;
    int endpoint_ = 0;
    std::size_t packet_ = 64;
    int interface_ = 0;
};

struct FtdiDeleter {
    void operator()(ftdi_context* context) const { ftdi_free(context); }
};

libusb_device* FindDevice(libusb_context* context, const UsbDeviceRef& ref) {
    libusb_device** raw = nullptr;
    const ssize_t count = libusb_get_device_list(context, &raw);
    if (count < 0) {
        return nullptr;
    }
    const DeviceList list(raw);
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(raw[i]) == ref.bus &&
            libusb_get_device_address(raw[i]) == ref.address) {
            return libusb_ref_device(raw[i]);
        }
    }
    return nullptr;
}

class LibusbLayer final : public UsbLayer {
public:
    std::vector<UsbDeviceRef> ListFtdiDevices() override {
        std::vector<UsbDeviceRef> devices;
        libusb_context* raw = nullptr;
        if (libusb_init(&raw) != LIBUSB_SUCCESS) {
            return devices;
        }
        const std::unique_ptr<libusb_context, ContextDeleter> context(raw);
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(raw, &list);
        if (count < 0) {
            return devices;
        }
        const DeviceList owned(list);
        for (ssize_t i = 0; i < count; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS ||
                descriptor.idVendor != kFtdiVendor) {
                continue;
            }
            UsbDeviceRef ref;
            ref.bus = libusb_get_bus_number(list[i]);
            ref.address = libusb_get_device_address(list[i]);
            ref.vendor = descriptor.idVendor;
            ref.product = descriptor.idProduct;
            ref.channels = InterfaceCount(list[i]);
            ReadDeviceStrings(list[i], descriptor, ref);
            devices.push_back(std::move(ref));
        }
        return devices;
    }

    // The kernel keeps what it read at enumeration readable for everybody.
    std::optional<UsbStrings> ReadSystemStrings(const UsbDeviceRef& device) override {
        const std::string root = "/sys/bus/usb/devices/";
        std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(root.c_str()), &closedir);
        if (!dir) {
            return std::nullopt;
        }
        while (const dirent* entry = readdir(dir.get())) {
            const std::string path = root + entry->d_name + "/";
            bool bus = false, address = false;
            if (ReadLine(path + "busnum", bus) != std::to_string(device.bus) ||
                ReadLine(path + "devnum", address) != std::to_string(device.address) || !bus ||
                !address) {
                continue;
            }
            UsbStrings strings;
            bool found = false;
            strings.description = ReadLine(path + "product", found);
            const std::string serial = ReadLine(path + "serial", found);
            if (found) {
                strings.serial = serial;
            }
            return strings;
        }
        return std::nullopt;
    }

    UsbResult OpenChannel(const UsbDeviceRef& device, int channel,
                          std::unique_ptr<UsbChip>& chip) override {
        std::unique_ptr<ftdi_context, FtdiDeleter> ftdi(ftdi_new());
        if (!ftdi || ftdi_set_interface(ftdi.get(),
                                        static_cast<ftdi_interface>(INTERFACE_A + channel)) < 0) {
            return UsbResult::Failed;
        }
        libusb_device* found = FindDevice(ftdi->usb_ctx, device);
        if (found == nullptr) {
            return UsbResult::NoDevice;
        }
        UsbIdentity identity;
        const UsbResult probed = Probe(found, identity);
        if (probed != UsbResult::Ok) {
            libusb_unref_device(found);
            return probed;
        }
        chip = std::make_unique<LibusbChip>(ftdi.release(), found, std::move(identity));
        return UsbResult::Ok;
    }

private:
    static UsbResult Probe(libusb_device* device, UsbIdentity& identity) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) {
            return UsbResult::Failed;
        }
        libusb_device_handle* handle = nullptr;
        if (const UsbResult opened = FromLibusb(libusb_open(device, &handle));
            opened != UsbResult::Ok) {
            return opened;
        }
        identity.vendor = descriptor.idVendor;
        identity.product = descriptor.idProduct;
        identity.serial = ReadString(handle, descriptor.iSerialNumber);
        libusb_close(handle);
        return UsbResult::Ok;
    }
};

} // namespace

std::shared_ptr<UsbLayer> MakeLibusbLayer() {
    return std::make_shared<LibusbLayer>();
}

} // namespace Wirelog::d2xx
