// The window sees every key press first, whichever control has the focus, and the control
// still gets it.
#include "KeyPreview.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace Wirelog {
namespace {

class KeyPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(&edit);
        layout->addWidget(&button);
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    QWidget window;
    QLineEdit edit{&window};
    QPushButton button{QStringLiteral("button"), &window};
    // What the focused editor held when the window saw each key.
    std::vector<std::pair<int, QString>> seen;
    KeyPreview preview{window,
                       [this](QKeyEvent& event) { seen.emplace_back(event.key(), edit.text()); }};
};

TEST_F(KeyPreviewTest, TheWindowSeesTheKeyBeforeTheFocusedControlWhichStillGetsIt) {
    edit.setFocus();
    QTest::keyClick(&edit, Qt::Key_C);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(int(Qt::Key_C), QString()));
    EXPECT_EQ(edit.text(), "c");
}

TEST_F(KeyPreviewTest, AKeyTheControlPassesOnIsSeenOnce) {
    button.setFocus();
    // A button ignores letters; the press travels on to the window. Modifier keys are key
    // presses of their own.
    QTest::keyClick(&button, Qt::Key_S, Qt::ShiftModifier);
    QTest::keyClick(&button, Qt::Key_S, Qt::ControlModifier);
    std::vector<int> keys;
    for (const auto& [key, text] : seen)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<int>{Qt::Key_Shift, Qt::Key_S, Qt::Key_Control, Qt::Key_S}));
}

TEST_F(KeyPreviewTest, KeysOfOtherWindowsAreNotSeen) {
    QLineEdit other;
    other.show();
    QApplication::setActiveWindow(&other);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    other.setFocus();
    QTest::keyClick(&other, Qt::Key_C);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(other.text(), "c");
}

} // namespace
} // namespace Wirelog
