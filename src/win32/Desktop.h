// SPDX-License-Identifier: MIT
#pragma once
// The window's side effects on the desktop that tests replace: the message box and the save
// dialog. The program's are MessageBoxW and GetSaveFileNameW.
#include <windows.h>

#include <commdlg.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "form/FormView.h"

namespace Wirelog::Win32 {

struct Desktop {
    // A modal box with the caption "Wirelog" and one OK button; returns once it is closed. Any
    // thread.
    std::function<void(const std::wstring& text)> showMessage;
    // Shows the dialog described; true when the user confirmed a name, which is then in
    // dialog.lpstrFile.
    std::function<bool(OPENFILENAMEW& dialog)> runSaveDialog;
};

Desktop SystemDesktop();

// The older common save dialog (not the Vista-style one) set up as the settings say; the
// chosen path, or nothing when the user cancels.
std::optional<std::filesystem::path> AskSaveFileName(const Desktop& desktop, HWND owner,
                                                     const SaveDialogSettings& settings);

} // namespace Wirelog::Win32
