// SPDX-License-Identifier: MIT
#pragma once
// The window's own texts, shared by every view and by the behaviour.
namespace Wirelog {

// Every message box's caption.
inline constexpr char kMessageCaption[] = "Wirelog";
inline constexpr char kWindowCaption[] = "Wirelog (TM) Protocol Analyzer - v1.003";
inline constexpr char kStartCaption[] = "START";
inline constexpr char kStopCaption[] = "STOP";
inline constexpr char kModuleNotActivated[] = "Couldn't activate the selected module.";

inline constexpr char kSaveDialogTitle[] = "Save Bus Activity Log";
inline constexpr char kSaveFilterName[] = "Log Files";
inline constexpr char kSaveFilterPattern[] = "*.log";
inline constexpr char kSaveDefaultExtension[] = "txt";

// Opening a recording: the message names the file, then the problem.
inline constexpr char kRecordingFailedMessage[] = "Couldn't open the recording ";
inline constexpr char kRecordingWhileCapturing[] = "Stop the capture before opening a recording.";

// The letters of the window's keyboard commands, as FormView's KeyDown gives them.
inline constexpr int kClearKey = 'C';
inline constexpr int kStartStopKey = 'S';

} // namespace Wirelog
