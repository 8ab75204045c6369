// SPDX-License-Identifier: MIT
// Runs the window tests headless: the offscreen platform unless one is chosen, one
// QApplication for the whole run, the program's own style, and Qt's own settings (the file
// dialog's history) kept apart from the user's.
#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
