// SPDX-License-Identifier: MIT
// The program's message box: what the user sees, and how messages from other threads reach
// the window thread.
#include "app/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace Wirelog {
namespace {

// The box as the user sees it, closed by its one button.
void ExpectTheBoxAndClickOk(QMessageBox& box) {
    EXPECT_EQ(box.windowTitle(), "Wirelog");
    EXPECT_EQ(box.text(), "RError!");
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons().size(), 1);
    EXPECT_EQ(box.parentWidget(), nullptr);
    QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
}

TEST(MessageBoxTest, ShowsAModalBoxWithOneOkButtonNoIconAndNoOwner) {
    bool seen = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = true;
            user.stop();
            ExpectTheBoxAndClickOk(*box);
        }
    });
    user.start(0);
    EXPECT_EQ(MessageBox(nullptr, "RError!", kMessageCaption, kMessageOk), kMessageResultOk);
    EXPECT_TRUE(seen) << "no modal box was shown";
}

// The reader's box: asked for on the reader's thread, which must never wait for the window
// thread (that thread may be waiting for the reader), so the box comes later, on the window
// thread; it blocks no window and reports when the user has closed it.
TEST(MessageBoxTest, ABoxThatBlocksNothingReportsItsClosing) {
    int closed = 0;
    std::thread reader([&] { ShowMessageWithoutBlocking("RError!", [&] { ++closed; }); });
    reader.join();
    const auto shown = [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
                return QPointer<QMessageBox>(box);
        return QPointer<QMessageBox>();
    };
    EXPECT_TRUE(shown().isNull()) << "shown on the reader's thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown().isNull(); }));
    const QPointer<QMessageBox> box = shown();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(closed, 0);
    ExpectTheBoxAndClickOk(*box);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); })) << "the closed box lingers";
}

} // namespace
} // namespace Wirelog
