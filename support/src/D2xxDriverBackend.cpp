// SPDX-License-Identifier: MIT
// Real FTDI devices on Windows: every call is forwarded to FTDI's own D2XX driver, ftd2xx.dll,
// which FTDI's driver package installs into the system directory. The file is loaded by its
// full path there and never looked for along the DLL search path, which would let any
// ftd2xx.dll in the current or program directory stand in for the driver.
#include "FtdiBackend.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace Wirelog::d2xx {

namespace {

// Test hook: a full path to a driver file to load instead of the system one. A relative path is
// ignored rather than searched for.
constexpr const wchar_t* kDriverOverride = L"WIRELOG_D2XX_DRIVER";

// A read for more than is queued waits in slices this long, so a close never waits longer.
constexpr DWORD kReadSliceMs = 100;
constexpr std::size_t kStringSize = 64;

bool IsFullPath(const std::wstring& path) {
    const bool drive = path.size() > 2 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    const bool share = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    return drive || share;
}

std::wstring DriverPath() {
    wchar_t chosen[MAX_PATH * 4];
    const DWORD length = GetEnvironmentVariableW(kDriverOverride, chosen, MAX_PATH * 4);
    if (length > 0 && length < MAX_PATH * 4 && IsFullPath(std::wstring(chosen, length)))
        return std::wstring(chosen, length);
    wchar_t system[MAX_PATH];
    const UINT got = GetSystemDirectoryW(system, MAX_PATH);
    if (got == 0 || got >= MAX_PATH)
        return {};
    return std::wstring(system, got) + L"\\ftd2xx.dll";
}

// FTDI's driver, bound once per process and kept loaded: ports hand its handles around.
class Driver {
public:
    static const Driver& Get() {
        static const Driver driver;
        return driver;
    }

    bool Usable() const { return usable_; }

    decltype(&FT_ListDevices) listDevices = nullptr;
    decltype(&FT_Open) open = nullptr;
    decltype(&FT_Close) close = nullptr;
    decltype(&FT_SetLatencyTimer) setLatencyTimer = nullptr;
    decltype(&FT_SetEventNotification) setEventNotification = nullptr;
    decltype(&FT_GetQueueStatus) getQueueStatus = nullptr;
    decltype(&FT_Read) read = nullptr;
    decltype(&FT_Write) write = nullptr;
    // FT_SetTimeouts(handle, read ms, write ms): lets a waiting read return to check for close.
    FT_STATUS(WINAPI* setTimeouts)(FT_HANDLE, ULONG, ULONG) = nullptr;

private:
    Driver() {
        const std::wstring path = DriverPath();
        if (path.empty())
            return;
        // The driver's own imports come from the system directory or its own folder only.
        module_ = LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module_ == nullptr)
            return;
        usable_ = Bind(listDevices, "FT_ListDevices") && Bind(open, "FT_Open") &&
                  Bind(close, "FT_Close") && Bind(setLatencyTimer, "FT_SetLatencyTimer") &&
                  Bind(setEventNotification, "FT_SetEventNotification") &&
                  Bind(getQueueStatus, "FT_GetQueueStatus") && Bind(read, "FT_Read") &&
                  Bind(write, "FT_Write") && Bind(setTimeouts, "FT_SetTimeouts");
    }

    template <class Fn> bool Bind(Fn& function, const char* name) {
        function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
        return function != nullptr;
    }

    HMODULE module_ = nullptr;
    bool usable_ = false;
};

// One device open in FTDI's driver. Calls share a lock that Close takes exclusively, so the
// driver never sees its handle used after FT_Close.
class DriverPort final : public Port {
public:
    DriverPort(const Driver& driver, FT_HANDLE handle) : driver_(driver), handle_(handle) {}
    ~DriverPort() override { Close(); }
    DriverPort(const DriverPort&) = delete;
    DriverPort& operator=(const DriverPort&) = delete;

    FT_STATUS SetLatencyTimer(std::uint8_t milliseconds) override {
        return Forward([&] { return driver_.setLatencyTimer(handle_, milliseconds); });
    }
    // The host's Win32 event goes to the driver as it is: the driver signals it on arrival.
    FT_STATUS SetEventNotification(std::uint32_t mask, void* event) override {
        return Forward([&] { return driver_.setEventNotification(handle_, mask, event); });
    }
    FT_STATUS GetQueueStatus(DWORD& queued) override {
        return Forward([&] { return driver_.getQueueStatus(handle_, &queued); });
    }
    FT_STATUS Write(const std::uint8_t* bytes, DWORD count, DWORD& written) override {
        return Forward([&] {
            return driver_.write(handle_, const_cast<std::uint8_t*>(bytes), count, &written);
        });
    }

    FT_STATUS Read(std::uint8_t* buffer, DWORD count, DWORD& returned) override {
        returned = 0;
        while (returned < count) {
            DWORD got = 0;
            const FT_STATUS status = Forward(
                [&] { return driver_.read(handle_, buffer + returned, count - returned, &got); });
            if (status != FT_OK)
                return status;
            returned += got;
        }
        return FT_OK;
    }

    void Close() override {
        if (closed_.exchange(true))
            return;
        std::unique_lock lock(calls_);
        driver_.close(handle_);
    }

private:
    template <class Call> FT_STATUS Forward(Call call) {
        std::shared_lock lock(calls_);
        return closed_ ? FT_STATUS{FT_INVALID_HANDLE} : call();
    }

    const Driver& driver_;
    const FT_HANDLE handle_;
    std::shared_mutex calls_;
    std::atomic<bool> closed_{false};
};

std::string Text(const char* buffer) {
    return std::string(buffer, strnlen(buffer, kStringSize));
}

} // namespace

std::vector<RealDevice> EnumerateFtdiDevices() {
    std::vector<RealDevice> devices;
    const Driver& driver = Driver::Get();
    DWORD count = 0;
    // No driver installed lists nothing; simulated devices still work.
    if (!driver.Usable() || driver.listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return devices;
    for (DWORD index = 0; index < count; ++index) {
        char description[kStringSize] = {};
        char serial[kStringSize] = {};
        const auto byIndex = reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(index));
        RealDevice device;
        device.info.readable =
            driver.listDevices(byIndex, description, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) ==
                FT_OK &&
            driver.listDevices(byIndex, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) ==
                FT_OK;
        description[kStringSize - 1] = serial[kStringSize - 1] = '\0';
        device.info.description = Text(description);
        device.info.serial = Text(serial);
        device.driverIndex = index;
        devices.push_back(std::move(device));
    }
    return devices;
}

FT_STATUS OpenFtdiDevice(const RealDevice& device, std::shared_ptr<Port>& port) {
    const Driver& driver = Driver::Get();
    if (!driver.Usable())
        return FT_DEVICE_NOT_FOUND;
    FT_HANDLE handle = nullptr;
    const FT_STATUS status = driver.open(static_cast<int>(device.driverIndex), &handle);
    if (status != FT_OK)
        return status;
    driver.setTimeouts(handle, kReadSliceMs, 0);
    port = std::make_shared<DriverPort>(driver, handle);
    return FT_OK;
}

} // namespace Wirelog::d2xx
