// SPDX-License-Identifier: MIT
#include "win32/Form1View.h"

#include "form/Design.h"
#include "form/FormTexts.h"
#include "win32/ChannelDialog.h"
#include "win32/Text.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

namespace Wirelog::Win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"WirelogForm1";
constexpr UINT kLoadMessage = WM_APP + 2;
constexpr UINT kRecordingStepMessage = WM_APP + 3;
constexpr UINT kOpenStartupRecordingMessage = WM_APP + 4;
constexpr UINT_PTR kRecordingStepTimer = 1;
constexpr int kFirstControlId = 100;
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kWindowExStyle = WS_EX_CONTROLPARENT;

std::size_t IndexOf(std::string_view name) {
    const auto found = std::ranges::find(kControls, name, &ControlDesign::name);
    return static_cast<std::size_t>(found - kControls.begin());
}

// The Win32 class and styles of each kind of control.
std::pair<const wchar_t*, DWORD> ClassAndStyle(const ControlDesign& design) {
    const bool tabStop = std::ranges::find(kTabOrder, design.name) != kTabOrder.end();
    const DWORD common = WS_CHILD | (tabStop ? WS_TABSTOP : 0);
    switch (design.kind) {
    case ControlKind::Label:
        return {L"STATIC", common | SS_LEFT | SS_NOPREFIX};
    case ControlKind::Button:
        return {L"BUTTON", common | BS_PUSHBUTTON};
    case ControlKind::CheckBox:
        return {L"BUTTON", common | BS_AUTOCHECKBOX};
    case ControlKind::TextBox:
        return {L"EDIT", common | WS_BORDER | ES_AUTOHSCROLL};
    case ControlKind::ListBox:
        return {L"LISTBOX", common | WS_BORDER | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT};
    case ControlKind::LogList:
        break;
    }
    return {nullptr, 0};
}

void RegisterWindowClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcW; // replaced per window once it is made
    windowClass.hInstance = GetModuleHandleW(nullptr);
    // The window has no icon of its own; the program file's icon is for the shell.
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass); // fails harmlessly for a second window
}

// The user-interface font at the given resolution: the system's message font.
FontHandle UserInterfaceFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    return FontHandle(CreateFontIndirectW(&metrics.lfMessageFont));
}

// A font's character cell: the average width of the 52 Latin letters, rounded, by the font's
// height.
DesignCell CharacterCell(HDC dc) {
    static constexpr wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    constexpr int kCount = 52;
    SIZE extent{};
    GetTextExtentPoint32W(dc, kLetters, kCount, &extent);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    return {(static_cast<int>(extent.cx) + kCount / 2) / kCount,
            static_cast<int>(metrics.tmHeight)};
}

// The caption's own size, and for a check box its box and the gap before the text.
SIZE TextSize(HDC dc, const ControlDesign& design, UINT dpi) {
    const std::wstring caption = Widen(design.caption);
    SIZE extent{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    if (design.kind == ControlKind::CheckBox) {
        const int box = GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
        extent.cx += box + 2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi);
        extent.cy = std::max<LONG>(extent.cy, box);
    }
    return extent;
}

// The log list is a system list box: files dropped on it go to the window.
LRESULT CALLBACK ForwardDroppedFiles(HWND list, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                     DWORD_PTR) {
    if (message == WM_DROPFILES)
        return SendMessageW(GetParent(list), message, w, l);
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(list, &ForwardDroppedFiles, 0);
    return DefSubclassProc(list, message, w, l);
}

} // namespace

Form1View::Form1View(const SupportLibraryDeployment& deployment, Desktop desktop)
    : desktop_(std::move(desktop)), behaviour_(std::make_unique<FormBehaviour>(*this, deployment)),
      log_(std::make_unique<LogList>(behaviour_->Lines())) {
    InitializeComponent();
}

Form1View::~Form1View() {
    behaviour_->Dispose();
    CloseOpenBoxes();
    window_.reset();
    // Before the log list it draws from, and before everything else it may still tell.
    behaviour_.reset();
}

HWND Form1View::Control(std::string_view name) const {
    const std::size_t index = IndexOf(name);
    return index < controls_.size() ? controls_[index] : nullptr;
}

void Form1View::InitializeComponent() {
    RegisterWindowClass();
    window_.reset(CreateWindowExW(kWindowExStyle, kWindowClass, Widen(kWindowCaption).c_str(),
                                  kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, nullptr, nullptr, GetModuleHandleW(nullptr),
                                  nullptr));
    SetWindowLongPtrW(Window(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(Window(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProcedure));
    refresh_.Attach(Window());
    CreateControls();
    SetWindowSubclass(log_->Handle(), &ForwardDroppedFiles, 0, 0);
    DragAcceptFiles(log_->Handle(), TRUE);
    SetResolution(GetDpiForWindow(Window()));
}

// In tab order, which for Win32 is the order of creation; the controls never overlap, so their
// stacking order shows nowhere.
void Form1View::CreateControls() {
    std::vector<std::size_t> order;
    for (const std::string_view name : kTabOrder)
        order.push_back(IndexOf(name));
    for (std::size_t i = 0; i < kControls.size(); ++i)
        if (std::ranges::find(order, i) == order.end())
            order.push_back(i);
    for (const std::size_t i : order) {
        const ControlDesign& design = kControls[i];
        const int id = kFirstControlId + static_cast<int>(i);
        HWND control = nullptr;
        if (design.kind == ControlKind::LogList) {
            control = log_->Create(Window(), id);
        } else {
            const auto [className, style] = ClassAndStyle(design);
            const DWORD exStyle =
                design.kind == ControlKind::ListBox || design.kind == ControlKind::TextBox
                    ? WS_EX_CLIENTEDGE
                    : 0;
            control =
                CreateWindowExW(exStyle, className, Widen(design.caption).c_str(), style, 0, 0, 0,
                                0, Window(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleW(nullptr), nullptr);
        }
        EnableWindow(control, design.enabled);
        ShowWindow(control, design.shown ? SW_SHOWNA : SW_HIDE);
        controls_[i] = control;
    }
}

// Fonts follow the monitor's resolution; the layout follows the fonts.
void Form1View::SetResolution(UINT dpi) {
    font_ = UserInterfaceFont(dpi);
    for (std::size_t i = 0; i < controls_.size(); ++i)
        if (kControls[i].kind != ControlKind::LogList)
            SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    log_->SetResolution(dpi);
    log_->ShowCount(behaviour_->LongestLine());
    LayOut();
}

void Form1View::LayOut() {
    const UINT dpi = GetDpiForWindow(Window());
    const WindowDC dc(Window());
    const SelectedObject selected(dc.get(), font_.get());
    const DesignScale scale(CharacterCell(dc.get()));
    for (std::size_t i = 0; i < kControls.size(); ++i) {
        const ControlDesign& design = kControls[i];
        DesignRect place = scale.Rect(design.place);
        if (design.sizedToText) {
            const SIZE text = TextSize(dc.get(), design, dpi);
            place.width = text.cx;
            place.height = text.cy;
        }
        MoveWindow(controls_[i], place.x, place.y, place.width, place.height, TRUE);
    }
    const int clientWidth = scale.X(kDesignClientWidth);
    const int clientHeight = scale.Y(kDesignClientHeight);
    const DesignRect log = scale.Rect(kControls[IndexOf("listBox1")].place);
    logRightMargin_ = clientWidth - (log.x + log.width);
    logBottomMargin_ = clientHeight - (log.y + log.height);
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, dpi);
    SetWindowPos(Window(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    AnchorLogList();
}

// Only the log list follows the window's size; everything else stays at the top left.
void Form1View::AnchorLogList() {
    RECT client{};
    GetClientRect(Window(), &client);
    HWND log = log_->Handle();
    RECT place{};
    GetWindowRect(log, &place);
    MapWindowPoints(HWND_DESKTOP, Window(), reinterpret_cast<POINT*>(&place), 2);
    MoveWindow(log, place.left, place.top,
               std::max(0, static_cast<int>(client.right - place.left) - logRightMargin_),
               std::max(0, static_cast<int>(client.bottom - place.top) - logBottomMargin_), TRUE);
}

void Form1View::Load() {
    if (loaded_)
        return;
    loaded_ = true;
    behaviour_->Form1_Load();
    if (closed_)
        return; // the load ended the program; the window never appears
    ShowWindow(Window(), SW_SHOWDEFAULT);
    UpdateWindow(Window());
    SetFocus(Control("bscan"));
    // Once the window is up, so the progress and any message have it to stand over.
    if (startupRecording_)
        PostMessageW(Window(), kOpenStartupRecordingMessage, 0, 0);
}

void Form1View::Dispatch(MSG& message) {
    HWND window = Window();
    const bool keyDown = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
    if (keyDown && window != nullptr && (message.hwnd == window || IsChild(window, message.hwnd)))
        behaviour_->Form_KeyDown({static_cast<int>(message.wParam), GetKeyState(VK_MENU) < 0,
                                  GetKeyState(VK_CONTROL) < 0});
    if (window != nullptr && IsDialogMessageW(window, &message))
        return;
    // Escape and Space reach the progress window's Cancel.
    if (HWND progress = progress_.Handle();
        progress != nullptr && IsDialogMessageW(progress, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

LRESULT CALLBACK Form1View::WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    auto* form = reinterpret_cast<Form1View*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr)
        return DefWindowProcW(window, message, w, l);
    return form->Handle(window, message, w, l);
}

LRESULT Form1View::Handle(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case WM_COMMAND:
        if (l != 0)
            Command(static_cast<std::size_t>(LOWORD(w) - kFirstControlId), HIWORD(w));
        return 0;
    case WM_DRAWITEM:
        log_->Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(l));
        return TRUE;
    case WM_SIZE:
        AnchorLogList();
        return 0;
    case WM_DPICHANGED: {
        SetResolution(HIWORD(w));
        const RECT& suggested = *reinterpret_cast<const RECT*>(l);
        SetWindowPos(window, nullptr, suggested.left, suggested.top,
                     suggested.right - suggested.left, suggested.bottom - suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_ACTIVATE:
        if (LOWORD(w) == WA_INACTIVE)
            focusToRestore_ = GetFocus();
        break;
    case WM_SETFOCUS:
        SetFocus(focusToRestore_ != nullptr && IsChild(window, focusToRestore_) ? focusToRestore_
                                                                                : Control("bscan"));
        return 0;
    case RefreshPoster::kMessage:
        refresh_.Received();
        behaviour_->UpdateLoggingWindow();
        return 0;
    case kLoadMessage:
        Load();
        return 0;
    case kOpenStartupRecordingMessage:
        if (startupRecording_)
            behaviour_->OpenRecording(*std::exchange(startupRecording_, std::nullopt));
        return 0;
    case WM_DROPFILES:
        OpenDroppedFile(reinterpret_cast<HDROP>(w));
        return 0;
    case kRecordingStepMessage:
        StepRecording();
        return 0;
    case WM_TIMER:
        if (w != kRecordingStepTimer)
            break;
        KillTimer(window, kRecordingStepTimer);
        recordingStepPending_ = false;
        behaviour_->ContinueRecording();
        return 0;
    case WM_CLOSE:
        closed_ = true;
        behaviour_->Dispose();
        refresh_.Attach(nullptr);
        window_.reset();
        return 0;
    case WM_DESTROY:
        refresh_.Attach(nullptr);
        if (endLoopWithWindow_)
            PostQuitMessage(0);
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
}

void Form1View::Command(std::size_t control, UINT code) {
    if (control >= kControls.size())
        return;
    const std::string_view name = kControls[control].name;
    if (code == BN_CLICKED) {
        if (name == "bscan")
            behaviour_->bscan_Click();
        else if (name == "btnStartStop")
            behaviour_->bStartStop_Click();
        else if (name == "bSave")
            behaviour_->bSave_Click();
    } else if (code == LBN_SELCHANGE) {
        if (name == "lbDevices")
            behaviour_->lbDevices_SelectedIndexChanged(
                static_cast<int>(SendMessageW(controls_[control], LB_GETCURSEL, 0, 0)));
        else if (name == "lbMode")
            behaviour_->lbMode_SelectedIndexChanged();
    }
}

void Form1View::ShowModules(const std::vector<std::string>& entries) {
    HWND list = Control("lbDevices");
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& entry : entries)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(entry).c_str()));
}

void Form1View::ShowSelectedModule(int index) {
    SendMessageW(Control("lbDevices"), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Form1View::SetStartStopCaption(std::string_view caption) {
    SetWindowTextW(Control("btnStartStop"), Widen(caption).c_str());
}

void Form1View::SetSaveEnabled(bool enabled) {
    EnableWindow(Control("bSave"), enabled);
}

bool Form1View::IsAutoScrollChecked() const {
    return SendMessageW(Control("cbAutoScroll"), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form1View::LogLinesAppended(std::size_t, std::size_t) {
    log_->ShowCount(behaviour_->LongestLine());
}

void Form1View::LogCleared() {
    log_->ShowCount(behaviour_->LongestLine());
}

void Form1View::ScrollLogToEnd() {
    log_->ScrollToEnd();
}

void Form1View::ShowMessage(std::string_view text) {
    desktop_.showMessage(Widen(text));
}

// A box without an owner on a thread of its own: modal only to that thread.
void Form1View::ShowMessageWithoutBlocking(std::string_view text, std::function<void()> closed) {
    const std::lock_guard lock(boxesMutex_);
    // The boxes the user has closed are done with; a reader that keeps failing adds many.
    std::erase_if(boxes_, [](const std::unique_ptr<OpenBox>& done) {
        if (!done->done.load())
            return false;
        done->thread.join();
        return true;
    });
    auto box = std::make_unique<OpenBox>();
    box->thread =
        std::thread([this, &state = *box, text = Widen(text), closed = std::move(closed)] {
            state.threadId.store(GetCurrentThreadId());
            desktop_.showMessage(text);
            if (!ending_.load())
                closed();
            state.done.store(true);
        });
    boxes_.push_back(std::move(box));
}

// Boxes still open when the program ends are closed without telling their waiters. A box
// whose thread has not made its window yet is asked again until it has.
void Form1View::CloseOpenBoxes() {
    ending_.store(true);
    const std::lock_guard lock(boxesMutex_);
    constexpr auto kRetry = std::chrono::milliseconds(20);
    for (const std::unique_ptr<OpenBox>& box : boxes_) {
        while (!box->done.load()) {
            EnumThreadWindows(
                box->threadId.load(),
                [](HWND boxWindow, LPARAM) {
                    PostMessageW(boxWindow, WM_CLOSE, 0, 0);
                    return TRUE;
                },
                0);
            std::this_thread::sleep_for(kRetry);
        }
        box->thread.join();
    }
    boxes_.clear();
}

std::optional<std::filesystem::path>
Form1View::AskSaveFileName(const SaveDialogSettings& settings) {
    return Win32::AskSaveFileName(desktop_, Window(), settings);
}

void Form1View::RequestLogRefresh() {
    refresh_.Request();
}

void Form1View::CloseWindow() {
    closed_ = true;
    if (Window() != nullptr)
        PostMessageW(Window(), WM_CLOSE, 0, 0);
}

std::optional<std::pair<std::size_t, std::size_t>>
Form1View::AskChannels(const std::filesystem::path& file,
                       const std::vector<std::string>& channels) {
    std::vector<std::wstring> names;
    for (const std::string& channel : channels)
        names.push_back(Widen(channel));
    return Win32::AskChannels(desktop_, Window(), file.filename().wstring(), names);
}

void Form1View::ShowRecordingProgress(int percent) {
    progress_.Show(Window(), font_.get(), percent);
}

void Form1View::HideRecordingProgress() {
    progress_.Hide();
}

// One step at a time: a step asked for while one is pending is the same step.
void Form1View::RequestRecordingStep() {
    if (recordingStepPending_ || Window() == nullptr)
        return;
    // A full queue still takes a timer: the step must not be lost.
    recordingStepPending_ =
        PostMessageW(Window(), kRecordingStepMessage, 0, 0) != FALSE ||
        SetTimer(Window(), kRecordingStepTimer, USER_TIMER_MINIMUM, nullptr) != 0;
}

// Posted messages come before input and painting, so a step with either waiting goes after
// them, as a timer, which comes last: Cancel stays clickable and the window stays painted.
void Form1View::StepRecording() {
    if (HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT)) != 0 &&
        SetTimer(Window(), kRecordingStepTimer, USER_TIMER_MINIMUM, nullptr) != 0)
        return;
    recordingStepPending_ = false;
    behaviour_->ContinueRecording();
}

// The first file dropped; a drop of several opens only one recording.
void Form1View::OpenDroppedFile(HDROP drop) {
    std::wstring file(DragQueryFileW(drop, 0, nullptr, 0), L'\0');
    DragQueryFileW(drop, 0, file.data(), static_cast<UINT>(file.size() + 1));
    DragFinish(drop);
    if (!file.empty())
        behaviour_->OpenRecording(file);
}

std::optional<std::filesystem::path> RecordingArgument(const wchar_t* commandLine) {
    int count = 0;
    const std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(
        CommandLineToArgvW(commandLine, &count), &LocalFree);
    if (arguments == nullptr || count < 2)
        return std::nullopt;
    return std::filesystem::path(arguments.get()[1]);
}

int RunMainWindow(Form1View& form) {
    form.EndLoopWithWindow();
    if (form.Window() == nullptr)
        return 0;
    PostMessageW(form.Window(), kLoadMessage, 0, 0);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        form.Dispatch(message);
    return 0;
}

} // namespace Wirelog::Win32
