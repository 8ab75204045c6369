// SPDX-License-Identifier: MIT
#pragma once
// The progress of a recording being opened: a small window owned by the main window, with a
// progress bar and a Cancel button. It appears only once the opening has taken half a second,
// so a short file shows none, and while it is shown the main window takes no input.
#include <windows.h>

#include <chrono>
#include <functional>

namespace Wirelog::Win32 {

class RecordingProgress {
public:
    // `cancel` runs when the user clicks Cancel or closes the window.
    explicit RecordingProgress(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~RecordingProgress();
    RecordingProgress(const RecordingProgress&) = delete;
    RecordingProgress& operator=(const RecordingProgress&) = delete;

    // Made on the first call, in owner's font; hidden until the opening has taken long enough.
    void Show(HWND owner, HFONT font, int percent);
    // Kept for the next opening; the owner takes input again.
    void Hide();
    // Null before the first Show, and once the owner is gone.
    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    void Create(HWND owner, HFONT font);
    void Appear(HWND owner);

    std::function<void()> cancel_;
    HWND window_ = nullptr; // destroyed with its owner at the latest
    HWND bar_ = nullptr;
    HWND disabledOwner_ = nullptr;
    HFONT font_ = nullptr; // the one its controls were given
    bool opening_ = false;
    std::chrono::steady_clock::time_point openedAt_;
};

} // namespace Wirelog::Win32
