// SPDX-License-Identifier: MIT
// The program's message box: what the user sees, and how messages from other threads reach
// the window thread.
#include "ui/MessageBox.h"

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

QPointer<QMessageBox> VisibleBox() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(window); box && box->isVisible())
            return box;
    return nullptr;
}

// The box as the user sees it, standing on its own, closed by its OK button.
void ExpectTheBoxAndClickOk(QMessageBox& box) {
    EXPECT_EQ(box.windowTitle(), "Wirelog");
    EXPECT_EQ(box.text(), "RError!");
    EXPECT_EQ(box.parentWidget(), nullptr);
    QTest::mouseClick(box.button(QMessageBox::Ok), Qt::LeftButton);
}

// On the window thread the box is modal and the call returns once the user has closed it. The
// reader's box is asked for on the reader's thread, which must never wait for the window thread
// (that thread may be waiting for the reader), so the box comes later, on the window thread; it
// blocks no window and reports when the user has closed it.
TEST(MessageBoxTest, AModalBoxOnTheWindowThreadAndOneThatBlocksNothingFromAnother) {
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (const QPointer<QMessageBox> box = VisibleBox()) {
            user.stop();
            EXPECT_EQ(QApplication::activeModalWidget(), box);
            ExpectTheBoxAndClickOk(*box);
        }
    });
    user.start(0);
    EXPECT_EQ(MessageBox(nullptr, "RError!", kMessageCaption, kMessageOk), kMessageResultOk);
    EXPECT_FALSE(user.isActive()) << "no box was shown";

    int closed = 0;
    std::thread reader([&] { ShowMessageWithoutBlocking("RError!", [&] { ++closed; }); });
    reader.join();
    EXPECT_TRUE(VisibleBox().isNull()) << "shown on the reader's thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !VisibleBox().isNull(); }));
    const QPointer<QMessageBox> box = VisibleBox();
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(closed, 0);
    ExpectTheBoxAndClickOk(*box);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); })) << "the closed box lingers";
}

} // namespace
} // namespace Wirelog
