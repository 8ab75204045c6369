// SPDX-License-Identifier: MIT
#pragma once
// The window's behaviour, once for every window toolkit: what loading, SCAN, a module
// selection, START/STOP, the C and S keys, Save Log, the log refresh and the window's disposal
// do, every text they show and every rule of the window's state. It holds the adapter
// binding, the capture and the log's lines, and reaches the screen only through a FormView.
//
// The state the user sees: the START/STOP caption is the capture state ("START" idle, "STOP"
// capturing); Save Log is disabled from a start to the toggle's stop; every operation that ends
// a capture sets the caption back to "START".
//
// Window thread only, except where a method says otherwise. The reader thread reaches the
// window only through FormView::RequestLogRefresh and FormView::ShowMessageWithoutBlocking.
#include "app/Deployment.h"
#include "decode/LogLines.h"
#include "form/FormView.h"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace Wirelog {

// Kept out of this header: the adapter's declarations bring the Windows headers with them.
class AdapterLibrary;
class CaptureControl;
class RecordingLoader;
struct ModuleList;

class FormBehaviour {
public:
    // The window's start-up duties, in order: the time base, then the deployment of the adapter
    // library (on failure: the deployment message through the view, and _isRunning false). The
    // adapter library is bound from the file "wirlg000.dll" in deployment.directory, whatever
    // that file is. The view must be able to show a message when this runs; it is told nothing
    // else until Form1_Load.
    FormBehaviour(FormView& view, const SupportLibraryDeployment& deployment);
    // Dispose.
    ~FormBehaviour();

    FormBehaviour(const FormBehaviour&) = delete;
    FormBehaviour& operator=(const FormBehaviour&) = delete;

    // The load step, run by the view once just before the window first appears. After a failed
    // deployment it reports that no module can be activated and closes the window; otherwise
    // it lists the modules.
    void Form1_Load();

    // Rebuilds the module list: the only entry is selected, which test-opens it; with two or
    // more the user chooses.
    void FillDeviceList();

    // The view's events. A selection change gives the list's new selected index (-1: none);
    // one that does not change the selection does nothing.
    void bscan_Click();
    void lbDevices_SelectedIndexChanged(int selectedIndex);
    void lbMode_SelectedIndexChanged();
    void bStartStop_Click();
    void bSave_Click();
    // C clears the log, S toggles the capture, unless Alt or Ctrl is held. Every press counts,
    // repeats included; the view still gives the key to the focused control.
    void Form_KeyDown(const KeyDown& key);

    // Moves every event stored since the last refresh into the log, and with auto-scroll shows
    // the newest line. Run on the window thread for FormView::RequestLogRefresh.
    void UpdateLoggingWindow();

    // Opens a recording into the log list, as a capture would fill it: a logic capture (.sr,
    // VCD, CSV; its lines taken by the names SCL and SDA, else asked for) or a recorded module
    // stream (timed read batches). It runs in steps through FormView::RequestRecordingStep,
    // with progress; the list changes only once the whole file has decoded, so a cancel or a bad
    // file (a message names it and the problem) leaves the list as it was. Refused while a
    // capture runs.
    void OpenRecording(const std::filesystem::path& file);
    // One step of the open recording; the last one fills the list.
    void ContinueRecording();
    void CancelRecording();
    bool IsOpeningRecording() const { return recording_ != nullptr; }

    // The window's disposal: ends the reader without the stop command (the reader closes the
    // module as it ends). Once done, the view gets no further call from a reader. Runs again,
    // harmlessly, from the destructor.
    void Dispose();

    // The log list's rows and the length of the longest, for the views to draw.
    const LogLines& Lines() const { return lines_; }
    std::size_t LongestLine() const { return longestLine_; }

    // What the view was last told, for the views and the tests.
    const std::vector<std::string>& ModuleEntries() const { return modules_; }
    int SelectedModule() const { return selectedModule_; }
    std::string_view StartStopCaption() const { return caption_; }
    bool IsSaveEnabled() const { return saveEnabled_; }

private:
    void ShowModules(const ModuleList& modules);
    std::string SelectedEntry() const;
    // What SCAN, a selection and Save Log do to a running capture: no stop command.
    void EndCaptureWithoutStopCommand();
    void SetCaption(std::string_view caption);
    void SetSaveEnabled(bool enabled);
    void ClearLog();
    void SaveLogTo(const std::filesystem::path& path);
    // A report of the adapter binding, on whichever thread made the failing call.
    void ReportAdapterFailure(const std::string& text);
    void StartRecording(const std::filesystem::path& file);
    // Drops the recording being opened and its lines, and gives the decoder back its time base.
    void EndRecording();

    FormView& view_;
    const std::thread::id windowThread_ = std::this_thread::get_id();
    std::vector<std::string> modules_;
    int selectedModule_ = -1;
    std::string caption_;
    bool saveEnabled_ = true;
    std::filesystem::path lastSaved_; // offered again by the next save dialog
    LogLines lines_;
    std::size_t longestLine_ = 0;
    // A recording being opened, and the lines it has given so far (their memory goes with it:
    // a cleared store keeps its pages).
    std::unique_ptr<RecordingLoader> recording_;
    std::filesystem::path recordingFile_;
    std::optional<LogLines> recordingLines_;
    // Before the capture, which calls it until it is gone.
    std::unique_ptr<AdapterLibrary> adapter_;
    // Last, so that it goes first: every reader is joined before anything it reaches goes.
    std::unique_ptr<CaptureControl> capture_;
};

} // namespace Wirelog
