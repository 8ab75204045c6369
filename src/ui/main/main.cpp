// SPDX-License-Identifier: MIT
// Wirelog: the window program. Its one argument, when given, is a recording to open.
#include "ui/Form1.h"
#include "ui/MainLoop.h"

#include <QApplication>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int RunWirelog(int argumentCount, char** arguments) {
    // Qt reads the arguments from the vector on Linux and from the process's own command line
    // (as UTF-16) on Windows; either way arguments() has them.
    QApplication application(argumentCount, arguments);
    // The classic, unthemed look.
    QApplication::setStyle(QStringLiteral("Windows"));
    // Message boxes shown before or without the window carry the icon too.
    QApplication::setWindowIcon(Wirelog::ProgramIcon());
    Wirelog::Form1 window;
    if (const QStringList given = QCoreApplication::arguments(); given.size() > 1)
        window.OpenRecordingOnLoad(given.at(1));
    return Wirelog::RunMainWindow(window);
}

} // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The C runtime's own vector: Qt takes the Unicode command line when it matches.
    return RunWirelog(__argc, __argv);
}
#else
int main(int argc, char** argv) {
    return RunWirelog(argc, argv);
}
#endif
