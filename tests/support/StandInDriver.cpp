// SPDX-License-Identifier: MIT
// A stand-in for FTDI's ftd2xx.dll: two devices, the second described "wirlg000". A start
// command written to an open device makes two bytes (00 05) arrive and signals the registered
// Win32 event, as the driver does. A device opens once at a time.
#include <windows.h>

#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

using FT_STATUS = ULONG;
using FT_HANDLE = PVOID;

namespace {

constexpr FT_STATUS kOk = 0, kInvalidHandle = 1, kNotFound = 2;
constexpr DWORD kNumberOnly = 0x80000000, kByIndex = 0x40000000, kBySerial = 1;

// Description and serial of each device.
const char* const kNames[][2] = {{"other", "FT000001"}, {"wirlg000", "FT000002"}};

struct Device {
    bool open = false;
    HANDLE event = nullptr;
    std::vector<unsigned char> queue;
};

std::mutex mutex;
Device devices[std::size(kNames)];

// Runs the call on an open device under the lock; any other handle is refused.
template <class Call> FT_STATUS OnDevice(FT_HANDLE handle, Call call) {
    std::lock_guard lock(mutex);
    const auto index = reinterpret_cast<std::uintptr_t>(handle) - 1;
    if (index >= std::size(devices) || !devices[index].open)
        return kInvalidHandle;
    call(devices[index]);
    return kOk;
}

} // namespace

extern "C" {

__declspec(dllexport) FT_STATUS WINAPI FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    if (flags == kNumberOnly)
        *static_cast<DWORD*>(arg1) = std::size(devices);
    else if ((flags & kByIndex) != 0 && index < std::size(devices))
        std::strcpy(static_cast<char*>(arg2), kNames[index][(flags & kBySerial) != 0 ? 1 : 0]);
    else
        return kNotFound;
    return kOk;
}

__declspec(dllexport) FT_STATUS WINAPI FT_Open(int number, FT_HANDLE* handle) {
    std::lock_guard lock(mutex);
    if (number < 0 || number >= static_cast<int>(std::size(devices)) || devices[number].open)
        return kNotFound;
    devices[number].open = true;
    *handle = reinterpret_cast<FT_HANDLE>(static_cast<std::uintptr_t>(number) + 1);
    return kOk;
}

__declspec(dllexport) FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    return OnDevice(handle, [](Device& device) { device = {}; });
}

__declspec(dllexport) FT_STATUS WINAPI FT_SetLatencyTimer(FT_HANDLE handle, UCHAR) {
    return OnDevice(handle, [](Device&) {});
}

__declspec(dllexport) FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG, ULONG) {
    return OnDevice(handle, [](Device&) {});
}

__declspec(dllexport) FT_STATUS WINAPI
    FT_SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID event) {
    return OnDevice(handle, [&](Device& device) {
        device.event = mask != 0 ? static_cast<HANDLE>(event) : nullptr;
    });
}

__declspec(dllexport) FT_STATUS WINAPI FT_GetQueueStatus(FT_HANDLE handle, DWORD* queued) {
    return OnDevice(handle,
                    [&](Device& device) { *queued = static_cast<DWORD>(device.queue.size()); });
}

// Returns what is queued, up to the count, at once: the read time-out is taken as elapsed.
__declspec(dllexport) FT_STATUS WINAPI
    FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD returned) {
    return OnDevice(handle, [&](Device& device) {
        *returned = std::min<DWORD>(count, static_cast<DWORD>(device.queue.size()));
        std::memcpy(buffer, device.queue.data(), *returned);
        device.queue.erase(device.queue.begin(), device.queue.begin() + *returned);
    });
}

__declspec(dllexport) FT_STATUS WINAPI
    FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) {
    return OnDevice(handle, [&](Device& device) {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        if (count == 2 && bytes[0] == 0x01 && bytes[1] == 0xFE) {
            device.queue.insert(device.queue.end(), {0x00, 0x05});
            if (device.event != nullptr)
                SetEvent(device.event);
        }
        *written = count;
    });
}

} // extern "C"
