// SPDX-License-Identifier: MIT
#pragma once
// The log refresh requested from any thread and run on the window thread: a request posts one
// window message, and further requests merge into it while it is pending. The flag is cleared
// before the refresh runs, so a request that arrives during a run posts one more and the last
// request is never lost. Once the window is gone, requests do nothing.
#include <windows.h>

#include <atomic>
#include <mutex>

namespace Wirelog::Win32 {

class RefreshPoster {
public:
    static constexpr UINT kMessage = WM_APP + 1;

    explicit RefreshPoster(HWND window = nullptr) : window_(window) {}
    RefreshPoster(const RefreshPoster&) = delete;
    RefreshPoster& operator=(const RefreshPoster&) = delete;

    // Where requests go; null once the window is gone, and later requests post nothing.
    void Attach(HWND window);

    // Any thread.
    void Request();
    // Window thread, on receiving kMessage, before the refresh runs.
    void Received();

private:
    std::mutex mutex_;
    HWND window_ = nullptr; // guarded by mutex_
    std::atomic<bool> pending_{false};
};

} // namespace Wirelog::Win32
