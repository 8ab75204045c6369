// Runs the window tests headless: the offscreen platform unless one is chosen, one
// QApplication for the whole run, and the program's own style.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
