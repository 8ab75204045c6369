// SPDX-License-Identifier: MIT
#pragma once
// The window's side effects on the desktop that tests replace: the message box, the save dialog
// and the modal dialogs of its own. The program's are MessageBoxW, GetSaveFileNameW and
// DialogBoxIndirectParamW.
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
    // Runs the dialog the template describes, modal to owner, until its procedure ends it; the
    // procedure's WM_INITDIALOG gets `state`, and keeps the answer there.
    std::function<void(const DLGTEMPLATE& dialog, HWND owner, DLGPROC procedure, LPARAM state)>
        runDialog;
};

Desktop SystemDesktop();

// The older common save dialog (not the Vista-style one) set up as the settings say; the
// chosen path, or nothing when the user cancels.
std::optional<std::filesystem::path> AskSaveFileName(const Desktop& desktop, HWND owner,
                                                     const SaveDialogSettings& settings);

} // namespace Wirelog::Win32
