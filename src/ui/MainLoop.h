// SPDX-License-Identifier: MIT
#pragma once
// Runs the program's message loop around its main window.

class QWidget;

namespace Wirelog {

// Shows window from inside the running loop, so that everything the window does just before
// its first show (its load step) happens with the loop already running; returns 0 once the
// loop has ended.
int RunMainWindow(QWidget& window);

} // namespace Wirelog
