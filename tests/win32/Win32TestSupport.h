// SPDX-License-Identifier: MIT
#pragma once
// The Win32 window as a test drives it: messages recorded instead of shown, the save dialog
// answered, and the window's messages pumped until a condition holds.
#include "SimControl.h"
#include "TestPlatform.h"
#include "win32/Form1View.h"
#include "win32/Text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Wirelog::Win32::testing {

// What the window would have shown the user, and how a save dialog is answered.
struct RecordedDesktop {
    std::mutex mutex;
    std::vector<std::string> messages;
    std::function<bool(OPENFILENAMEW&)> answer = [](OPENFILENAMEW&) { return false; };

    std::vector<std::string> Messages() {
        const std::lock_guard lock(mutex);
        return messages;
    }
    Desktop Seam() {
        return {[this](const std::wstring& text) {
                    const std::lock_guard lock(mutex);
                    messages.push_back(Narrow(text));
                },
                [this](OPENFILENAMEW& dialog) { return answer(dialog); }};
    }
};

// Runs the window's messages through the program's own dispatch until the condition holds.
template <typename Condition>
bool PumpUntil(Form1View& form, Condition condition,
               std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (MSG message{}; !condition();) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            form.Dispatch(message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return true;
}

inline void PumpPending(Form1View& form) {
    for (MSG message{}; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
        form.Dispatch(message);
}

// A scratch directory of the test's own, removed with it.
struct ScratchDirectory {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("wirelog-win32-" + WirelogTest::ProcessId() + "-" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ScratchDirectory() {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

inline std::wstring Text(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace Wirelog::Win32::testing
