// SPDX-License-Identifier: MIT
#pragma once
// What the window's behaviour (FormBehaviour) asks of a window toolkit: each view (Qt, Win32)
// implements this once and forwards its events to the behaviour. The behaviour decides; a view
// only shows what it is told and reports what the user does.
//
// Every method runs on the window thread unless it says otherwise. None of them calls back
// into the behaviour: a view reports user actions only from its own event handling.
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Wirelog {

// A key press as the window's keyboard commands see it. Letter keys are given by their
// upper-case ASCII code ('C', 'S') whatever Shift does, as both Qt's key codes and Windows'
// virtual-key codes give them; any other key by a code that is not a letter's.
struct KeyDown {
    int key = 0;
    bool alt = false;
    bool ctrl = false;
};

// How the Save Log dialog is set up, each time it is shown.
struct SaveDialogSettings {
    std::string_view title;            // "Save Bus Activity Log"
    std::string_view filterName;       // "Log Files"
    std::string_view filterPattern;    // "*.log": only matching names are listed
    std::string_view defaultExtension; // "txt", for a name typed without one
    std::filesystem::path initialDirectory;
    std::filesystem::path fileName; // offered in the name field; empty the first time
};

class FormView {
public:
    virtual ~FormView() = default;

    // The module list: replaces every entry, with none selected. Reports no selection change.
    virtual void ShowModules(const std::vector<std::string>& entries) = 0;
    // Marks the entry at index as the list's selection (-1: none). Reports no selection change:
    // the behaviour runs what a change does itself.
    virtual void ShowSelectedModule(int index) = 0;

    // The START/STOP button's caption ("START" or "STOP").
    virtual void SetStartStopCaption(std::string_view caption) = 0;
    virtual void SetSaveEnabled(bool enabled) = 0;
    // The auto-scroll check box, read by the log refresh.
    virtual bool IsAutoScrollChecked() const = 0;

    // The log list. Its rows are FormBehaviour::Lines(), read by the view when it draws them;
    // these say how that store changed. Lines [first, first + count) were appended.
    virtual void LogLinesAppended(std::size_t first, std::size_t count) = 0;
    // Every line was removed.
    virtual void LogCleared() = 0;
    // Shows the last full page of lines, the newest at the bottom.
    virtual void ScrollLogToEnd() = 0;

    // A modal box with the caption "Wirelog", no icon, one OK button and no owner window;
    // returns once the user has closed it.
    virtual void ShowMessage(std::string_view text) = 0;
    // The same box, but leaving the program usable while it is open. Callable from any thread;
    // returns at once. `closed` runs, on any thread, once the user has closed the box; a box
    // still open when the program ends is closed without it.
    virtual void ShowMessageWithoutBlocking(std::string_view text,
                                            std::function<void()> closed) = 0;

    // The modal save dialog; the path the user confirmed, or nothing when cancelled. Queued log
    // refreshes may run while it is open.
    virtual std::optional<std::filesystem::path>
    AskSaveFileName(const SaveDialogSettings& settings) = 0;

    // Asks the window thread for one run of FormBehaviour::UpdateLoggingWindow. Callable from
    // any thread, several at once; requests still pending may be merged, but the last one must
    // not be lost. The behaviour makes no request once it is destroyed.
    virtual void RequestLogRefresh() = 0;

    // Ends the program: the message loop ends and the window closes; a window not yet shown
    // never appears.
    virtual void CloseWindow() = 0;

    // Opening a recording (FormBehaviour::OpenRecording).
    // A small modal dialog of its own asking which of a logic capture's channels are SCL and
    // SDA; their positions in `channels`, or nothing when the user cancels.
    virtual std::optional<std::pair<std::size_t, std::size_t>>
    AskChannels(const std::filesystem::path& file, const std::vector<std::string>& channels) = 0;
    // The share of the file read so far, 0 to 100, with a way to cancel that calls
    // FormBehaviour::CancelRecording; a view may wait a moment before showing it, so a short
    // file shows none. Hidden again by HideRecordingProgress.
    virtual void ShowRecordingProgress(int percent) = 0;
    virtual void HideRecordingProgress() = 0;
    // Asks the window thread for one FormBehaviour::ContinueRecording once the events already
    // queued (a cancel, a repaint) are handled.
    virtual void RequestRecordingStep() = 0;
};

} // namespace Wirelog
