// SPDX-License-Identifier: MIT
#include "win32/Desktop.h"

#include "win32/Text.h"

#include <vector>

namespace Wirelog::Win32 {

namespace {

constexpr wchar_t kMessageCaption[] = L"Wirelog";
// Room for the longest path Windows accepts.
constexpr std::size_t kPathCapacity = 32'768;

// A hook, even one that does nothing, keeps the dialog in its pre-Vista form.
UINT_PTR CALLBACK KeepOlderDialog(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}

// "Name\0pattern\0\0", as the dialog takes its filters.
std::wstring Filter(const SaveDialogSettings& settings) {
    std::wstring filter = Widen(settings.filterName);
    filter.push_back(L'\0');
    filter += Widen(settings.filterPattern);
    filter.push_back(L'\0');
    return filter; // the string's own terminator ends the list
}

} // namespace

Desktop SystemDesktop() {
    return {[](const std::wstring& text) {
                MessageBoxW(nullptr, text.c_str(), kMessageCaption, MB_OK);
            },
            [](OPENFILENAMEW& dialog) { return GetSaveFileNameW(&dialog) != FALSE; },
            [](const DLGTEMPLATE& dialog, HWND owner, DLGPROC procedure, LPARAM state) {
                DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &dialog, owner, procedure,
                                        state);
            }};
}

std::optional<std::filesystem::path> AskSaveFileName(const Desktop& desktop, HWND owner,
                                                     const SaveDialogSettings& settings) {
    const std::wstring title = Widen(settings.title);
    const std::wstring filter = Filter(settings);
    const std::wstring extension = Widen(settings.defaultExtension);
    const std::wstring directory = settings.initialDirectory.wstring();
    std::vector<wchar_t> file(kPathCapacity, L'\0');
    settings.fileName.wstring().copy(file.data(), kPathCapacity - 1);

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = extension.c_str();
    dialog.lpfnHook = KeepOlderDialog;
    // No check that the folder exists; the current directory stays where it is, since the
    // adapter library is bound relative to it.
    dialog.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING | OFN_OVERWRITEPROMPT |
                   OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!desktop.runSaveDialog(dialog))
        return std::nullopt;
    return std::filesystem::path(file.data());
}

} // namespace Wirelog::Win32
