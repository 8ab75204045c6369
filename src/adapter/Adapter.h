// SPDX-License-Identifier: MIT
#pragma once
// The one interface through which the program makes every adapter call.
//
// The real implementation is AdapterLibrary (the D2XX-compatible library bound by name from a
// file); tests may put their own implementation in its place. Every call returns the adapter's
// status, 0 (FT_OK) meaning success.
#include "ftd2xx.h"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace Wirelog {

enum class AdapterFunction {
    ListDevices,
    Open,
    Close,
    SetLatencyTimer,
    SetEventNotification,
    GetQueueStatus,
    Read,
    Write,
};

inline constexpr std::size_t kAdapterFunctionCount = 8;

// The exported name of each function, "FT_ListDevices" ...
std::string_view AdapterFunctionName(AdapterFunction function);

class Adapter {
public:
    virtual ~Adapter() = default;

    virtual FT_STATUS ListDevices(PVOID arg1, PVOID arg2, DWORD flags) = 0;
    virtual FT_STATUS Open(int deviceNumber, FT_HANDLE* handle) = 0;
    virtual FT_STATUS Close(FT_HANDLE handle) = 0;
    virtual FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) = 0;
    virtual FT_STATUS SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID param) = 0;
    virtual FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) = 0;
    virtual FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                           LPDWORD bytesReturned) = 0;
    virtual FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                            LPDWORD bytesWritten) = 0;

    // Binds the given functions now rather than at their first call, so that a missing one is
    // reported on the calling thread. Later calls of those functions then never report.
    virtual void BindNow(std::span<const AdapterFunction> functions) { (void)functions; }
};

} // namespace Wirelog
