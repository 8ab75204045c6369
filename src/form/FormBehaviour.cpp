// SPDX-License-Identifier: MIT
#include "form/FormBehaviour.h"

#include "adapter/AdapterLibrary.h"
#include "capture/CaptureControl.h"
#include "capture/Modules.h"
#include "decode/LogDrain.h"
#include "decode/LogFile.h"
#include "decode/OutputFile.h"
#include "decode/TimeBase.h"
#include "decode/ViewTWI.h"
#include "form/FormTexts.h"
#include "form/RecordingLoader.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace Wirelog {

namespace {

// File names travel as UTF-8, as the adapter binding and the messages take them.
std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path InitialSaveDirectory() {
#ifdef _WIN32
    return "C:\\";
#else
    const char* home = std::getenv("HOME");
    return home != nullptr && *home != '\0' ? home : "/";
#endif
}

} // namespace

FormBehaviour::FormBehaviour(FormView& view, const SupportLibraryDeployment& deployment)
    : view_(view), caption_(kStartCaption),
      adapter_(std::make_unique<AdapterLibrary>(
          Utf8(SupportLibraryPath(deployment)),
          [this](const std::string& report) { ReportAdapterFailure(report); })) {
    InitTimeBase();
    if (DeploySupportLibrary(deployment) == DeployResult::Failed) {
        view_.ShowMessage(kDeploymentFailedMessage);
        _isRunning = false;
    }
    // Made whatever the deployment's outcome: it calls the adapter only when the load step asks
    // it to, which a failed deployment never reaches.
    capture_ = std::make_unique<CaptureControl>(
        *adapter_,
        ReaderCallbacks{.requestRefresh = [this] { view_.RequestLogRefresh(); },
                        .showMessage =
                            [this](const std::string& text, std::function<void()> closed) {
                                view_.ShowMessageWithoutBlocking(text, std::move(closed));
                            },
                        // The window frames every read into the event buffer itself.
                        .takeRead = {}});
}

FormBehaviour::~FormBehaviour() {
    Dispose();
}

void FormBehaviour::Dispose() {
    // No stop command: the module keeps streaming, and the reader closes it as it ends.
    capture_->StopThread();
}

// The binding reports on the thread whose call failed; only the window thread may wait for the
// user.
void FormBehaviour::ReportAdapterFailure(const std::string& text) {
    if (std::this_thread::get_id() == windowThread_)
        view_.ShowMessage(text);
    else
        view_.ShowMessageWithoutBlocking(text, [] {});
}

void FormBehaviour::Form1_Load() {
    if (!_isRunning) {
        view_.ShowMessage(kModuleNotActivated);
        view_.CloseWindow();
        return;
    }
    ShowModules(capture_->Load());
}

void FormBehaviour::FillDeviceList() {
    ShowModules(capture_->FillDeviceList());
}

// The only entry is selected, which test-opens it; with two or more the user chooses.
void FormBehaviour::ShowModules(const ModuleList& modules) {
    modules_ = modules.entries;
    selectedModule_ = -1;
    view_.ShowModules(modules_);
    if (modules_.size() == 1) {
        view_.ShowSelectedModule(0);
        lbDevices_SelectedIndexChanged(0);
    }
}

std::string FormBehaviour::SelectedEntry() const {
    if (selectedModule_ < 0 || static_cast<std::size_t>(selectedModule_) >= modules_.size())
        return {};
    return modules_[static_cast<std::size_t>(selectedModule_)];
}

void FormBehaviour::SetCaption(std::string_view caption) {
    caption_ = caption;
    view_.SetStartStopCaption(caption_);
}

void FormBehaviour::SetSaveEnabled(bool enabled) {
    saveEnabled_ = enabled;
    view_.SetSaveEnabled(enabled);
}

void FormBehaviour::ClearLog() {
    lines_.clear();
    longestLine_ = 0;
    view_.LogCleared();
}

void FormBehaviour::EndCaptureWithoutStopCommand() {
    capture_->ClosePort();
    capture_->StopThread();
    SetCaption(kStartCaption);
}

void FormBehaviour::bscan_Click() {
    EndCaptureWithoutStopCommand();
    FillDeviceList();
}

// A selection that stays where it was is no change: a list may report a click on the chosen
// entry.
void FormBehaviour::lbDevices_SelectedIndexChanged(int selectedIndex) {
    if (selectedIndex == selectedModule_)
        return;
    selectedModule_ = selectedIndex;
    EndCaptureWithoutStopCommand();
    capture_->OpenPort(SelectedEntry());
    if (capture_->IsPortOpen())
        capture_->ClosePort();
    else
        view_.ShowMessage(kModuleNotActivated);
}

// The operating-mode list is hidden and never filled, so nothing ever selects in it or clears
// its selection; the PWM controls this would disable again are created disabled and stay so.
void FormBehaviour::lbMode_SelectedIndexChanged() {
    EndCaptureWithoutStopCommand();
}

void FormBehaviour::bStartStop_Click() {
    EndRecording(); // a capture needs the event buffer and the decoder
    if (caption_ != kStartCaption) {
        capture_->StopCapture();
        SetCaption(kStartCaption);
        SetSaveEnabled(true);
        return;
    }
    // The log and the decoder start afresh only once a module is open.
    const bool started = capture_->StartCapture(SelectedEntry(), [this] {
        ClearLog();
        ResetDecoder();
    });
    if (!started) {
        view_.ShowMessage(kModuleNotActivated);
        return;
    }
    SetCaption(kStopCaption);
    SetSaveEnabled(false);
}

void FormBehaviour::Form_KeyDown(const KeyDown& key) {
    if (key.alt || key.ctrl)
        return;
    if (key.key == kClearKey)
        ClearLog();
    else if (key.key == kStartStopKey)
        bStartStop_Click();
}

// Ends the capture first, so the list is final. The button keeps its state: only STOP enables
// Save Log again.
void FormBehaviour::bSave_Click() {
    EndCaptureWithoutStopCommand();
    const std::optional<std::filesystem::path> path =
        view_.AskSaveFileName({.title = kSaveDialogTitle,
                               .filterName = kSaveFilterName,
                               .filterPattern = kSaveFilterPattern,
                               .defaultExtension = kSaveDefaultExtension,
                               .initialDirectory = InitialSaveDirectory(),
                               .fileName = lastSaved_});
    if (!path)
        return;
    lastSaved_ = *path; // offered again next time
    SaveLogTo(*path);
}

// Written as the command line writes its -o file: a regular file is replaced only once the
// whole log is written, so a failed save leaves an earlier file as it was, never a truncated one;
// a device or FIFO is written directly.
void FormBehaviour::SaveLogTo(const std::filesystem::path& path) {
    OutputFile file;
    std::string error;
    const bool saved =
        file.Open(path, error) &&
        WriteLogFile(lines_, [&file](std::string_view chunk) { return file.Write(chunk); }) &&
        file.Commit(error);
    if (saved)
        return;
    if (error.empty()) // a failed Write is only explained by Commit
        file.Commit(error);
    view_.ShowMessage("Couldn't save the log to \"" + Utf8(path) + "\": " + error +
                      ". An existing file of that name is left as it was.");
}

void FormBehaviour::UpdateLoggingWindow() {
    const std::size_t first = lines_.size();
    DrainEvents(lines_);
    if (lines_.size() == first)
        return;
    for (std::size_t i = first; i < lines_.size(); ++i)
        longestLine_ = std::max(longestLine_, lines_[i].size());
    view_.LogLinesAppended(first, lines_.size() - first);
    if (view_.IsAutoScrollChecked())
        view_.ScrollLogToEnd();
}

void FormBehaviour::OpenRecording(const std::filesystem::path& file) {
    if (caption_ != kStartCaption) {
        view_.ShowMessage(kRecordingWhileCapturing);
        return;
    }
    EndRecording();
    try {
        StartRecording(file);
    } catch (const RecordingError& error) {
        EndRecording();
        view_.ShowMessage(kRecordingFailedMessage + ("\"" + Utf8(file) + "\": ") + error.what());
    }
}

void FormBehaviour::StartRecording(const std::filesystem::path& file) {
    const RecordingKind kind = ProbeRecording(file);
    std::string scl = "SCL", sda = "SDA";
    if (kind.logicCapture && !kind.channelsNamed) {
        const auto chosen = view_.AskChannels(file, kind.channels);
        if (!chosen || chosen->first >= kind.channels.size() ||
            chosen->second >= kind.channels.size())
            return;
        scl = kind.channels[chosen->first];
        sda = kind.channels[chosen->second];
    }
    recording_ = std::make_unique<RecordingLoader>(file, kind, scl, sda);
    recordingFile_ = file;
    recordingLines_.emplace();
    view_.ShowRecordingProgress(0);
    view_.RequestRecordingStep();
}

void FormBehaviour::ContinueRecording() {
    if (!recording_)
        return; // cancelled since the step was asked for
    bool more = false;
    try {
        more = recording_->Step(*recordingLines_);
    } catch (const RecordingError& error) {
        const std::string file = Utf8(recordingFile_);
        EndRecording();
        view_.ShowMessage(kRecordingFailedMessage + ("\"" + file + "\": ") + error.what());
        return;
    }
    if (more) {
        view_.ShowRecordingProgress(static_cast<int>(recording_->Progress() * 100));
        view_.RequestRecordingStep();
        return;
    }
    // The whole file is in: its lines take the list's place at once.
    std::swap(lines_, *recordingLines_);
    longestLine_ = 0;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        longestLine_ = std::max(longestLine_, lines_[i].size());
    EndRecording();
    view_.LogCleared();
    if (!lines_.empty())
        view_.LogLinesAppended(0, lines_.size());
    if (view_.IsAutoScrollChecked())
        view_.ScrollLogToEnd();
}

void FormBehaviour::CancelRecording() {
    EndRecording();
}

void FormBehaviour::EndRecording() {
    if (!recording_)
        return;
    recording_.reset();
    recordingLines_.reset();
    InitTimeBase(); // the recording's ticks were not the counter's
    view_.HideRecordingProgress();
}

} // namespace Wirelog
