// SPDX-License-Identifier: MIT
#include "win32/RefreshPoster.h"

namespace Wirelog::Win32 {

void RefreshPoster::Attach(HWND window) {
    const std::lock_guard lock(mutex_);
    window_ = window;
}

void RefreshPoster::Request() {
    if (pending_.exchange(true))
        return;
    const std::lock_guard lock(mutex_);
    // A full queue or a window gone: the next request must be able to try again.
    if (window_ == nullptr || !PostMessageW(window_, kMessage, 0, 0))
        pending_.store(false);
}

void RefreshPoster::Received() {
    pending_.store(false);
}

} // namespace Wirelog::Win32
