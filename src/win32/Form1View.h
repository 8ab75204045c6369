// SPDX-License-Identifier: MIT
#pragma once
// The window on Windows: a native Win32 view over the shared behaviour. It creates the
// controls from the shared design, lays them out for the user-interface font and the monitor's
// resolution, draws the log list from the behaviour's lines, and forwards every user action to
// the behaviour. What the actions do is the behaviour's alone.
#include "app/Deployment.h"
#include "form/FormBehaviour.h"
#include "form/FormView.h"
#include "win32/Desktop.h"
#include "win32/Handles.h"
#include "win32/LogList.h"
#include "win32/RecordingProgress.h"
#include "win32/RefreshPoster.h"

#include <windows.h>

#include <shellapi.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

namespace Wirelog::Win32 {

class Form1View final : public FormView {
public:
    // The behaviour's start-up duties (time base, deployment of the adapter library), then the
    // window and its controls, hidden until Load.
    explicit Form1View(const SupportLibraryDeployment& deployment,
                       Desktop desktop = SystemDesktop());
    ~Form1View() override;
    Form1View(const Form1View&) = delete;
    Form1View& operator=(const Form1View&) = delete;

    // The load step, then the first show, unless the load ended the program; then the
    // recording named for opening on load, if any.
    void Load();
    // A recording to open once the window is up, as the program's command line names it.
    void OpenRecordingOnLoad(std::filesystem::path file) { startupRecording_ = std::move(file); }
    // One message of the loop: the window sees a key press before the focused control does,
    // then the dialog keys (Tab) move the focus, then the message goes where it was sent.
    void Dispatch(MSG& message);
    // From now on the window's destruction ends the thread's message loop.
    void EndLoopWithWindow() { endLoopWithWindow_ = true; }

    HWND Window() const { return window_.get(); }
    HWND Control(std::string_view name) const;
    bool IsClosed() const { return closed_; }
    FormBehaviour& Behaviour() { return *behaviour_; }
    const LogList& Log() const { return *log_; }
    // The recording's progress window; null until a recording is first opened.
    HWND RecordingProgressWindow() const { return progress_.Handle(); }

    // FormView
    void ShowModules(const std::vector<std::string>& entries) override;
    void ShowSelectedModule(int index) override;
    void SetStartStopCaption(std::string_view caption) override;
    void SetSaveEnabled(bool enabled) override;
    bool IsAutoScrollChecked() const override;
    void LogLinesAppended(std::size_t first, std::size_t count) override;
    void LogCleared() override;
    void ScrollLogToEnd() override;
    void ShowMessage(std::string_view text) override;
    void ShowMessageWithoutBlocking(std::string_view text, std::function<void()> closed) override;
    std::optional<std::filesystem::path>
    AskSaveFileName(const SaveDialogSettings& settings) override;
    void RequestLogRefresh() override;
    void CloseWindow() override;
    std::optional<std::pair<std::size_t, std::size_t>>
    AskChannels(const std::filesystem::path& file,
                const std::vector<std::string>& channels) override;
    void ShowRecordingProgress(int percent) override;
    void HideRecordingProgress() override;
    void RequestRecordingStep() override;

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(HWND window, UINT message, WPARAM w, LPARAM l);
    void InitializeComponent();
    void CreateControls();
    void SetResolution(UINT dpi);
    void LayOut();
    void AnchorLogList();
    void Command(std::size_t control, UINT code);
    void CloseOpenBoxes();
    void OpenDroppedFile(HDROP drop);
    void StepRecording();

    Desktop desktop_;
    RefreshPoster refresh_;
    std::unique_ptr<FormBehaviour> behaviour_;
    std::unique_ptr<LogList> log_;
    WindowHandle window_;
    std::array<HWND, 17> controls_{};
    FontHandle font_;
    // The log list's distances to the right and bottom edges, kept on resizing.
    int logRightMargin_ = 0;
    int logBottomMargin_ = 0;
    HWND focusToRestore_ = nullptr;
    bool loaded_ = false;
    bool closed_ = false;
    bool endLoopWithWindow_ = false;
    std::optional<std::filesystem::path> startupRecording_;
    RecordingProgress progress_{[this] { behaviour_->CancelRecording(); }};
    bool recordingStepPending_ = false;

    // Boxes that leave the program usable: each waits on a thread of its own.
    struct OpenBox {
        std::thread thread;
        std::atomic<DWORD> threadId{0};
        std::atomic<bool> done{false};
    };
    std::mutex boxesMutex_;
    std::vector<std::unique_ptr<OpenBox>> boxes_; // guarded by boxesMutex_
    std::atomic<bool> ending_{false};
};

// WinMain's work after the apartment: the window, its load step and the message loop until the
// window is gone. Returns 0.
int RunMainWindow(Form1View& form);

// The recording the program's command line names: its first argument, if any.
std::optional<std::filesystem::path> RecordingArgument(const wchar_t* commandLine);

// The deployment of the program itself: the current directory and the library image the
// program file carries as its resource "BINARY" 255.
SupportLibraryDeployment ProgramDeployment();
std::vector<std::byte> EmbeddedSupportLibrary();

} // namespace Wirelog::Win32
