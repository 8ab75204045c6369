// SPDX-License-Identifier: MIT
// Wirelog: the window program. It takes no command line.
#include "ui/MainLoop.h"
#include "ui/Form1.h"

#include <QApplication>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int RunWirelog() {
    // QApplication wants an argument vector that outlives it; the program's own is ignored.
    char programName[] = "wirelog";
    char* arguments[] = {programName, nullptr};
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);
    // The classic, unthemed look.
    QApplication::setStyle(QStringLiteral("Windows"));
    // Message boxes shown before or without the window carry the icon too.
    QApplication::setWindowIcon(Wirelog::ProgramIcon());
    Wirelog::Form1 window;
    return Wirelog::RunMainWindow(window);
}

} // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return RunWirelog();
}
#else
int main() {
    return RunWirelog();
}
#endif
