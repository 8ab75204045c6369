// SPDX-License-Identifier: MIT
#include "win32/ChannelDialog.h"

#include "form/FormTexts.h"
#include "win32/Text.h"

#include <algorithm>

namespace Wirelog::Win32 {

namespace {

// The predefined control classes, by the atoms a dialog template names them with.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;
constexpr WORD kQuestion = 1000;
constexpr WORD kLabel = 0xFFFF;

struct DialogState {
    std::wstring question;
    const std::vector<std::wstring>* channels = nullptr;
    std::optional<std::pair<std::size_t, std::size_t>> answer;
};

// A dialog template as the words DialogBoxIndirectParamW reads: the dialog, then each control
// on a double-word boundary. Sizes are in dialog units.
class DialogTemplate {
public:
    DialogTemplate(std::wstring_view title, short width, short height, WORD controls) {
        const DWORD style =
            DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        AddDword(style);
        AddDword(0);
        words_.push_back(controls);
        for (const short value : {short{0}, short{0}, width, height})
            words_.push_back(static_cast<WORD>(value));
        words_.push_back(0); // no menu
        words_.push_back(0); // the standard dialog class
        AddText(title);
        words_.push_back(8); // points
        AddText(L"MS Shell Dlg");
    }

    void AddControl(WORD kind, DWORD style, RECT place, WORD id, std::wstring_view text = {}) {
        if (words_.size() % 2 != 0)
            words_.push_back(0);
        AddDword(style | WS_CHILD | WS_VISIBLE);
        AddDword(0);
        for (const LONG value : {place.left, place.top, place.right, place.bottom})
            words_.push_back(static_cast<WORD>(value));
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(kind);
        AddText(text);
        words_.push_back(0); // no creation data
    }

    const DLGTEMPLATE& Get() const { return *reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void AddDword(DWORD value) {
        words_.push_back(LOWORD(value));
        words_.push_back(HIWORD(value));
    }
    void AddText(std::wstring_view text) {
        words_.insert(words_.end(), text.begin(), text.end());
        words_.push_back(0);
    }

    // The allocator's alignment is wider than the double word the template needs.
    std::vector<WORD> words_;
};

// The question and its two labels, the two lists, OK and Cancel.
DialogTemplate ChannelTemplate() {
    DialogTemplate dialog(Widen(kMessageCaption), 200, 102, 7);
    dialog.AddControl(kStaticClass, SS_LEFT | SS_NOPREFIX, {7, 7, 186, 32}, kQuestion);
    dialog.AddControl(kStaticClass, SS_LEFT, {7, 45, 30, 8}, kLabel, L"SCL");
    dialog.AddControl(kComboBoxClass, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                      {40, 43, 153, 100}, kSclChannelList);
    dialog.AddControl(kStaticClass, SS_LEFT, {7, 63, 30, 8}, kLabel, L"SDA");
    dialog.AddControl(kComboBoxClass, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                      {40, 61, 153, 100}, kSdaChannelList);
    dialog.AddControl(kButtonClass, BS_DEFPUSHBUTTON | WS_TABSTOP, {89, 82, 50, 14}, IDOK, L"OK");
    dialog.AddControl(kButtonClass, BS_PUSHBUTTON | WS_TABSTOP, {143, 82, 50, 14}, IDCANCEL,
                      L"Cancel");
    return dialog;
}

std::size_t Chosen(HWND dialog, int list) {
    return static_cast<std::size_t>(SendDlgItemMessageW(dialog, list, CB_GETCURSEL, 0, 0));
}

// The same channel for both lines is no bus.
void AllowOnlyTwoChannels(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDOK),
                 Chosen(dialog, kSclChannelList) != Chosen(dialog, kSdaChannelList));
}

void Initialize(HWND dialog, DialogState& state) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&state));
    SetDlgItemTextW(dialog, kQuestion, state.question.c_str());
    for (const int list : {kSclChannelList, kSdaChannelList})
        for (const std::wstring& channel : *state.channels)
            SendDlgItemMessageW(dialog, list, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(channel.c_str()));
    SendDlgItemMessageW(dialog, kSclChannelList, CB_SETCURSEL, 0, 0);
    SendDlgItemMessageW(dialog, kSdaChannelList, CB_SETCURSEL, state.channels->size() > 1 ? 1 : 0,
                        0);
    AllowOnlyTwoChannels(dialog);
}

INT_PTR CALLBACK ChannelProcedure(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        Initialize(dialog, *reinterpret_cast<DialogState*>(l));
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (HIWORD(w) == CBN_SELCHANGE) {
        AllowOnlyTwoChannels(dialog);
    } else if (LOWORD(w) == IDOK && IsWindowEnabled(GetDlgItem(dialog, IDOK))) {
        state->answer = std::pair(Chosen(dialog, kSclChannelList), Chosen(dialog, kSdaChannelList));
        EndDialog(dialog, IDOK);
    } else if (LOWORD(w) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    }
    return TRUE;
}

} // namespace

std::optional<std::pair<std::size_t, std::size_t>>
AskChannels(const Desktop& desktop, HWND owner, const std::wstring& fileName,
            const std::vector<std::wstring>& channels) {
    if (channels.empty())
        return std::nullopt;
    DialogState state{fileName + L" has no channels named SCL and SDA.\r\nWhich channels carry "
                                 L"the bus?",
                      &channels,
                      {}};
    const DialogTemplate dialog = ChannelTemplate();
    desktop.runDialog(dialog.Get(), owner, &ChannelProcedure, reinterpret_cast<LPARAM>(&state));
    return state.answer;
}

} // namespace Wirelog::Win32
