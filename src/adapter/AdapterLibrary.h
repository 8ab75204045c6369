// SPDX-License-Identifier: MIT
#pragma once
// The adapter library, bound by name from one file opened by explicit path.
//
// Each function is looked up at its first call (or at BindNow). The file is never looked for
// along the system's library search path: a bare file name means the current directory. A file
// that cannot be loaded, or that lacks a function, is reported once through the report
// function and the affected calls return a non-zero status; nothing is called through a null
// pointer. All calls may be made from several threads at once.
//
// The report function runs on the thread that makes the failing first call, outside any lock
// of this class; it may show a message and wait for the user.
#include "adapter/Adapter.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

namespace Wirelog {

class AdapterLibrary final : public Adapter {
public:
    using Report = std::function<void(const std::string&)>;

    // The file the window program deploys into and binds from its current directory.
    static constexpr const char* kDefaultFile = "wirlg000.dll";
    // The status of every call that cannot reach its function.
    static constexpr FT_STATUS kUnboundStatus = FT_OTHER_ERROR;

    explicit AdapterLibrary(std::string path = kDefaultFile, Report report = {});
    // The library file stays loaded until the process ends: it may run threads of its own
    // (and signal our event object from them) beyond the life of any one binding.
    ~AdapterLibrary() override = default;

    AdapterLibrary(const AdapterLibrary&) = delete;
    AdapterLibrary& operator=(const AdapterLibrary&) = delete;

    FT_STATUS ListDevices(PVOID arg1, PVOID arg2, DWORD flags) override;
    FT_STATUS Open(int deviceNumber, FT_HANDLE* handle) override;
    FT_STATUS Close(FT_HANDLE handle) override;
    FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) override;
    FT_STATUS SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID param) override;
    FT_STATUS GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) override;
    FT_STATUS Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead,
                   LPDWORD bytesReturned) override;
    FT_STATUS Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite,
                    LPDWORD bytesWritten) override;
    void BindNow(std::span<const AdapterFunction> functions) override;

    const std::string& path() const { return path_; }

private:
    struct Slot {
        std::atomic<void*> address{nullptr};
        std::atomic<bool> resolved{false}; // looked up, found or not
    };

    // The function's address, binding it on first use; null when it cannot be had.
    void* Address(AdapterFunction function);
    void* Resolve(AdapterFunction function);
    // Loads the file on the first attempt; returns the failure message, empty on success.
    std::string LoadOnce();

    template <class Fn> Fn Function(AdapterFunction function) {
        return reinterpret_cast<Fn>(Address(function));
    }
    // Calls the bound function, or reports failure without a call when it is not bound.
    template <class Fn, class... Args> FT_STATUS Call(AdapterFunction function, Args... args) {
        const Fn call = Function<Fn>(function);
        return call != nullptr ? call(args...) : kUnboundStatus;
    }

    const std::string path_;
    const Report report_;
    std::mutex bindMutex_;
    void* library_ = nullptr; // guarded by bindMutex_
    bool loadTried_ = false;  // guarded by bindMutex_
    std::array<Slot, kAdapterFunctionCount> slots_;
};

} // namespace Wirelog
