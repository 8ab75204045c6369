// The window sees every key press first, whichever control has the focus, and the control
// still gets it.
#include "KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace Wirelog {
namespace {

TEST(KeyPreviewTest, TheWindowSeesEveryKeyOnceBeforeTheFocusedControl) {
    QWidget window;
    QLineEdit edit(&window);
    QPushButton button(&window);
    QLineEdit otherWindow;
    std::vector<std::pair<int, QString>> seen; // each key, and the editor's text at that time
    const KeyPreview preview(window,
                             [&](QKeyEvent& key) { seen.emplace_back(key.key(), edit.text()); });
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    edit.setFocus();
    QTest::keyClick(&edit, Qt::Key_C);
    EXPECT_EQ(edit.text(), "c") << "the key was consumed";
    // A button ignores letters, so the press travels on to the window; modifiers are keys too.
    button.setFocus();
    QTest::keyClick(&button, Qt::Key_S, Qt::ShiftModifier);
    otherWindow.show();
    QApplication::setActiveWindow(&otherWindow);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&otherWindow));
    QTest::keyClick(&otherWindow, Qt::Key_X);

    const std::vector<std::pair<int, QString>> expected{
        {Qt::Key_C, ""}, {Qt::Key_Shift, "c"}, {Qt::Key_S, "c"}};
    EXPECT_EQ(seen, expected);
}

} // namespace
} // namespace Wirelog
