// SPDX-License-Identifier: MIT
#pragma once
// The Win32 window as a test drives it: messages recorded instead of shown, the save dialog
// answered, the window's messages pumped until a condition holds, a scratch directory.
#include "SimControl.h"
#include "TestPlatform.h"
#include "win32/Form1View.h"
#include "win32/Text.h"

#include <gtest/gtest.h>

#include <chrono>

namespace Wirelog::Win32::testing {

// Window thread only: these tests never have the reader show a message. The window's own
// dialogs are the real ones, made modeless so the test can answer them.
struct RecordedDesktop {
    std::vector<std::string> messages;
    std::function<bool(OPENFILENAMEW&)> answer = [](OPENFILENAMEW&) { return false; };
    std::function<void(HWND dialog)> answerDialog = [](HWND dialog) {
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    };

    Desktop Seam() {
        return {[this](const std::wstring& text) { messages.push_back(Narrow(text)); },
                [this](OPENFILENAMEW& dialog) { return answer(dialog); },
                [this](const DLGTEMPLATE& dialog, HWND owner, DLGPROC procedure, LPARAM state) {
                    const WindowHandle shown(CreateDialogIndirectParamW(
                        GetModuleHandleW(nullptr), &dialog, owner, procedure, state));
                    answerDialog(shown.get());
                }};
    }
};

// Runs the window's messages through the program's own dispatch until the condition holds.
template <typename Condition> bool PumpUntil(Form1View& form, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (MSG message{}; !condition() && std::chrono::steady_clock::now() < deadline;) {
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            form.Dispatch(message);
        else
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return condition();
}

// Removed afterwards as far as it can be: a library a test bound stays loaded, and in use.
struct ScratchDirectory {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("wirelog-win32-" + WirelogTest::ProcessId() + "-" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::error_code ignored;
    ScratchDirectory() { std::filesystem::create_directories(path); }
    ~ScratchDirectory() { std::filesystem::remove_all(path, ignored); }
};

inline std::wstring Text(HWND control) {
    wchar_t text[256]{};
    GetWindowTextW(control, text, 256);
    return text;
}

} // namespace Wirelog::Win32::testing
