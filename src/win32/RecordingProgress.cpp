// SPDX-License-Identifier: MIT
#include "win32/RecordingProgress.h"

#include "form/FormTexts.h"
#include "win32/Text.h"

#include <commctrl.h>

namespace Wirelog::Win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"WirelogRecordingProgress";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr auto kQuietTime = std::chrono::milliseconds(500);
// The client area and its controls at 96 dots per inch.
constexpr SIZE kClient{300, 96};
constexpr RECT kLabel{12, 12, 276, 16};
constexpr RECT kBar{12, 34, 276, 18};
constexpr RECT kCancel{200, 62, 88, 24};

void RegisterWindowClass() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW; // replaced once the window is made
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass); // fails harmlessly the second time
}

HWND Child(HWND parent, const wchar_t* className, DWORD style, RECT place, int id,
           const wchar_t* text, HFONT font, UINT dpi) {
    const auto scaled = [dpi](LONG value) {
        return MulDiv(value, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    };
    HWND child = CreateWindowExW(
        0, className, text, WS_CHILD | WS_VISIBLE | style, scaled(place.left), scaled(place.top),
        scaled(place.right), scaled(place.bottom), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

} // namespace

RecordingProgress::~RecordingProgress() {
    if (window_ != nullptr)
        DestroyWindow(window_);
}

void RecordingProgress::Create(HWND owner, HFONT font) {
    RegisterWindowClass();
    font_ = font;
    const UINT dpi = GetDpiForWindow(owner);
    RECT frame{0, 0, MulDiv(kClient.cx, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI),
               MulDiv(kClient.cy, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI)};
    AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
    window_ = CreateWindowExW(kExStyle, kWindowClass, Widen(kMessageCaption).c_str(), kStyle, 0, 0,
                              frame.right - frame.left, frame.bottom - frame.top, owner, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
    Child(window_, L"STATIC", SS_LEFT | SS_NOPREFIX, kLabel, -1, L"Opening the recording...", font,
          dpi);
    bar_ = Child(window_, PROGRESS_CLASSW, 0, kBar, -1, L"", font, dpi);
    SendMessageW(bar_, PBM_SETRANGE32, 0, 100);
    Child(window_, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, kCancel, IDCANCEL, L"Cancel", font, dpi);
}

void RecordingProgress::Show(HWND owner, HFONT font, int percent) {
    // The owner's font is new after a change of monitor resolution; the old one is gone.
    if (window_ != nullptr && font != font_ && !IsWindowVisible(window_))
        DestroyWindow(window_);
    if (window_ == nullptr)
        Create(owner, font);
    const auto now = std::chrono::steady_clock::now();
    if (!opening_) {
        opening_ = true;
        openedAt_ = now;
    }
    SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
    if (!IsWindowVisible(window_) && now - openedAt_ >= kQuietTime)
        Appear(owner);
    // Painted now: the opening's steps keep the queue busy.
    UpdateWindow(window_);
}

// Centred over the owner, which takes no input meanwhile.
void RecordingProgress::Appear(HWND owner) {
    RECT ownerPlace{}, place{};
    GetWindowRect(owner, &ownerPlace);
    GetWindowRect(window_, &place);
    const LONG width = place.right - place.left, height = place.bottom - place.top;
    SetWindowPos(window_, nullptr, (ownerPlace.left + ownerPlace.right - width) / 2,
                 (ownerPlace.top + ownerPlace.bottom - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EnableWindow(owner, FALSE);
    disabledOwner_ = owner;
    ShowWindow(window_, SW_SHOWNORMAL);
    SetFocus(GetDlgItem(window_, IDCANCEL));
}

void RecordingProgress::Hide() {
    opening_ = false;
    // The owner first, so it is the window that takes the activation back.
    if (disabledOwner_ != nullptr)
        EnableWindow(disabledOwner_, TRUE);
    disabledOwner_ = nullptr;
    if (window_ != nullptr) {
        ShowWindow(window_, SW_HIDE);
        SendMessageW(bar_, PBM_SETPOS, 0, 0);
    }
}

LRESULT CALLBACK RecordingProgress::Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* progress = reinterpret_cast<RecordingProgress*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(w) == IDCANCEL && HIWORD(w) == BN_CLICKED)
            progress->cancel_();
        return 0;
    case WM_CLOSE:
        progress->cancel_();
        return 0;
    case WM_NCDESTROY:
        progress->window_ = nullptr;
        progress->bar_ = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
}

} // namespace Wirelog::Win32
