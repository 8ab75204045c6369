// SPDX-License-Identifier: MIT
#include "FtdiBackend.h"

#include "ReceiveQueue.h"

#include <ftdi.h>
#include <libusb.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <shared_mutex>
#include <thread>

namespace Wirelog::d2xx {

namespace {

struct ContextDeleter {
    void operator()(ftdi_context* context) const { ftdi_free(context); }
};
using Context = std::unique_ptr<ftdi_context, ContextDeleter>;

struct ListDeleter {
    void operator()(ftdi_device_list* list) const { ftdi_list_free2(list); }
};
using DeviceList = std::unique_ptr<ftdi_device_list, ListDeleter>;

// Large enough to drain the chip's buffer in one go at full speed.
constexpr int kReceiveChunk = 16384;
constexpr int kStringSize = 64;

class FtdiPort final : public Port {
public:
    explicit FtdiPort(Context context) : context_(std::move(context)) {
        receiver_ = std::thread([this] { Receive(); });
    }
    ~FtdiPort() override { Close(); }
    FtdiPort(const FtdiPort&) = delete;
    FtdiPort& operator=(const FtdiPort&) = delete;

    FT_STATUS SetLatencyTimer(std::uint8_t milliseconds) override {
        std::shared_lock lock(usb_);
        if (!context_) {
            return FT_INVALID_HANDLE;
        }
        return ftdi_set_latency_timer(context_.get(), milliseconds) < 0 ? FT_IO_ERROR : FT_OK;
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

    FT_STATUS Read(std::uint8_t* buffer, DWORD count, DWORD& returned) override {
        if (const FT_STATUS status = Status(); status != FT_OK) {
            return status;
        }
        if (!queue_.WaitForBytes(count, ReceiveQueue::Clock::time_point::max())) {
            // Closed, or the device went away while the caller waited.
            const FT_STATUS status = Status();
            return status == FT_OK ? FT_STATUS{FT_IO_ERROR} : status;
        }
        returned = static_cast<DWORD>(queue_.Pop(buffer, count));
        return FT_OK;
    }

    FT_STATUS Write(const std::uint8_t* bytes, DWORD count, DWORD& written) override {
        std::shared_lock lock(usb_);
        if (!context_) {
            return FT_INVALID_HANDLE;
        }
        const int sent = ftdi_write_data(context_.get(), bytes, static_cast<int>(count));
        if (sent < 0) {
            return FT_IO_ERROR;
        }
        written = static_cast<DWORD>(sent);
        return FT_OK;
    }

    void Close() override {
        std::lock_guard closing(closeMutex_);
        if (closed_.exchange(true)) {
            return;
        }
        queue_.Close();
        receiver_.join();
        std::unique_lock lock(usb_);
        ftdi_usb_close(context_.get());
        context_.reset();
    }

private:
    FT_STATUS Status() const {
        if (closed_) {
            return FT_INVALID_HANDLE;
        }
        return failed_ ? FT_IO_ERROR : FT_OK;
    }

    // Keeps the USB side drained like the D2XX driver does, so the chip never stalls the module
    // while the host is busy; a host far behind makes this wait for room instead of losing bytes.
    void Receive() {
        std::vector<std::uint8_t> chunk(kReceiveChunk);
        while (!closed_) {
            const int got = ftdi_read_data(context_.get(), chunk.data(), kReceiveChunk);
            if (got < 0) {
                failed_ = true;
                queue_.Close();
                return;
            }
            std::size_t done = 0;
            while (done < static_cast<std::size_t>(got) && !closed_) {
                done += queue_.Push(chunk.data() + done, static_cast<std::size_t>(got) - done);
                if (done < static_cast<std::size_t>(got)) {
                    queue_.WaitForSpace(ReceiveQueue::Clock::now() +
                                        std::chrono::milliseconds(100));
                }
            }
        }
    }

    Context context_;
    std::shared_mutex usb_;
    std::mutex closeMutex_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> failed_{false};
    ReceiveQueue queue_;
    std::thread receiver_;
};

std::string Text(const char* buffer) {
    return std::string(buffer, ::strnlen(buffer, kStringSize));
}

} // namespace

std::vector<RealDevice> EnumerateFtdiDevices() {
    std::vector<RealDevice> devices;
    Context context(ftdi_new());
    if (!context) {
        return devices;
    }
    ftdi_device_list* first = nullptr;
    if (ftdi_usb_find_all(context.get(), &first, 0, 0) < 0) {
        return devices;
    }
    const DeviceList list(first);
    for (ftdi_device_list* entry = first; entry != nullptr; entry = entry->next) {
        char description[kStringSize] = {};
        char serial[kStringSize] = {};
        RealDevice device;
        device.info.readable =
            ftdi_usb_get_strings(context.get(), entry->dev, nullptr, 0, description, kStringSize,
                                 serial, kStringSize) >= 0;
        device.info.description = Text(description);
        device.info.serial = Text(serial);
        device.bus = libusb_get_bus_number(entry->dev);
        device.address = libusb_get_device_address(entry->dev);
        devices.push_back(std::move(device));
    }
    return devices;
}

FT_STATUS OpenFtdiDevice(const RealDevice& device, std::shared_ptr<Port>& port) {
    Context context(ftdi_new());
    if (!context) {
        return FT_INSUFFICIENT_RESOURCES;
    }
    const int opened = ftdi_usb_open_bus_addr(context.get(), device.bus, device.address);
    if (opened == -3) {
        return FT_DEVICE_NOT_FOUND;
    }
    if (opened < 0) {
        return FT_DEVICE_NOT_OPENED;
    }
    // Bytes the chip held from before this open belong to nobody.
    ftdi_tcioflush(context.get());
    port = std::make_shared<FtdiPort>(std::move(context));
    return FT_OK;
}

} // namespace Wirelog::d2xx
