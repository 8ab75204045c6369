// SPDX-License-Identifier: MIT
// A stand-in for FTDI's ftd2xx.dll: three devices, two of them described "wirlg000". A start
// command written to an open device makes two bytes (00 05) arrive and signals the registered
// Win32 event, as the driver does. StandIn_OpenHandles tells the test what is still open.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

using FT_STATUS = ULONG;
using FT_HANDLE = PVOID;

namespace {

constexpr FT_STATUS kOk = 0, kInvalidHandle = 1, kNotFound = 2, kInvalidParameter = 6;
constexpr DWORD kNumberOnly = 0x80000000, kByIndex = 0x40000000;
constexpr DWORD kBySerial = 1, kByDescription = 2;

struct Device {
    const char* description;
    const char* serial;
    bool open = false;
    HANDLE event = nullptr;
    std::vector<unsigned char> queue;
};

std::mutex mutex;
Device devices[] = {{"wirlg000", "FT000001", false, nullptr, {}},
                    {"other", "FT000002", false, nullptr, {}},
                    {"wirlg000", "FT000003", false, nullptr, {}}};

Device* Find(FT_HANDLE handle) {
    const auto index = reinterpret_cast<std::uintptr_t>(handle) - 1;
    return index < 3 && devices[index].open ? &devices[index] : nullptr;
}

} // namespace

extern "C" {

__declspec(dllexport) FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    std::lock_guard lock(mutex);
    if (flags == kNumberOnly) {
        *static_cast<DWORD*>(arg1) = 3;
        return kOk;
    }
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if ((flags & kByIndex) == 0 || index >= 3)
        return kNotFound;
    const Device& device = devices[index];
    std::strcpy(static_cast<char*>(arg2),
                (flags & ~kByIndex) == kBySerial ? device.serial : device.description);
    return (flags & ~kByIndex) == kBySerial || (flags & ~kByIndex) == kByDescription
               ? kOk
               : kInvalidParameter;
}

__declspec(dllexport) FT_STATUS WINAPI FT_Open(int number, FT_HANDLE* handle) {
    std::lock_guard lock(mutex);
    if (number < 0 || number >= 3 || devices[number].open)
        return kNotFound;
    devices[number].open = true;
    *handle = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(number) + 1);
    return kOk;
}

__declspec(dllexport) FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    std::lock_guard lock(mutex);
    Device* device = Find(handle);
    if (device == nullptr)
        return kInvalidHandle;
    device->open = false;
    device->event = nullptr;
    device->queue.clear();
    return kOk;
}

__declspec(dllexport) FT_STATUS WINAPI FT_SetLatencyTimer(FT_HANDLE handle, UCHAR) {
    std::lock_guard lock(mutex);
    return Find(handle) != nullptr ? kOk : kInvalidHandle;
}

__declspec(dllexport) FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG, ULONG) {
    std::lock_guard lock(mutex);
    return Find(handle) != nullptr ? kOk : kInvalidHandle;
}

__declspec(dllexport) FT_STATUS WINAPI
    FT_SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID event) {
    std::lock_guard lock(mutex);
    Device* device = Find(handle);
    if (device == nullptr)
        return kInvalidHandle;
    device->event = mask != 0 ? static_cast<HANDLE>(event) : nullptr;
    return kOk;
}

__declspec(dllexport) FT_STATUS WINAPI FT_GetQueueStatus(FT_HANDLE handle, DWORD* queued) {
    std::lock_guard lock(mutex);
    Device* device = Find(handle);
    if (device == nullptr)
        return kInvalidHandle;
    *queued = static_cast<DWORD>(device->queue.size());
    return kOk;
}

// Returns what is queued, up to the count, at once: the read time-out is taken as elapsed.
__declspec(dllexport) FT_STATUS WINAPI
    FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD returned) {
    std::lock_guard lock(mutex);
    Device* device = Find(handle);
    if (device == nullptr)
        return kInvalidHandle;
    const DWORD taken = std::min<DWORD>(count, static_cast<DWORD>(device->queue.size()));
    std::memcpy(buffer, device->queue.data(), taken);
    device->queue.erase(device->queue.begin(), device->queue.begin() + taken);
    *returned = taken;
    return kOk;
}

__declspec(dllexport) FT_STATUS WINAPI
    FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) {
    std::lock_guard lock(mutex);
    Device* device = Find(handle);
    if (device == nullptr)
        return kInvalidHandle;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    if (count == 2 && bytes[0] == 0x01 && bytes[1] == 0xFE) {
        device->queue.insert(device->queue.end(), {0x00, 0x05});
        if (device->event != nullptr)
            SetEvent(device->event);
    }
    *written = count;
    return kOk;
}

__declspec(dllexport) int StandIn_OpenHandles() {
    std::lock_guard lock(mutex);
    int open = 0;
    for (const Device& device : devices)
        open += device.open ? 1 : 0;
    return open;
}

} // extern "C"
