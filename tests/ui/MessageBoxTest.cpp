// The program's message box: what the user sees, and how messages from other threads reach
// the window thread.
#include "MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace Wirelog {
namespace {

TEST(MessageBoxTest, ShowsAModalBoxWithOneOkButtonNoIconAndNoOwner) {
    QMessageBox* seen = nullptr;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        seen = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (seen == nullptr)
            return;
        user.stop();
        EXPECT_EQ(seen->windowTitle(), "Wirelog");
        EXPECT_EQ(seen->text(), "RError!");
        EXPECT_EQ(seen->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(seen->buttons().size(), 1);
        EXPECT_EQ(seen->parentWidget(), nullptr);
        QTest::mouseClick(seen->button(QMessageBox::Ok), Qt::LeftButton);
    });
    user.start(0);
    EXPECT_EQ(MessageBox(nullptr, "RError!", kMessageCaption, kMessageOk), kMessageResultOk);
    EXPECT_NE(seen, nullptr) << "no modal box was shown";
}

// A worker must never wait on the window thread for a box: the window thread may be waiting
// for that worker. The message is shown later, on the window thread.
TEST(MessageBoxTest, AMessageFromAnotherThreadIsShownOnTheWindowThreadWithoutBlocking) {
    std::vector<QThread*> shownOn;
    const ScopedMessageSink sink([&](const MessageRequest& message) {
        EXPECT_EQ(message.text, "Exception during Read");
        shownOn.push_back(QThread::currentThread());
    });
    std::thread worker([] { ShowMessage("Exception during Read"); });
    worker.join(); // returns although the window thread has not run a single event meanwhile
    EXPECT_TRUE(shownOn.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shownOn.empty(); }));
    EXPECT_EQ(shownOn, std::vector<QThread*>{QApplication::instance()->thread()});
}

// The reader's box: asked for on the reader's thread, shown without blocking any window, and
// reporting when the user has closed it.
TEST(MessageBoxTest, ABoxThatBlocksNothingReportsItsClosing) {
    int closed = 0;
    std::thread reader([&] { ShowMessageWithoutBlocking("RError!", [&] { ++closed; }); });
    reader.join();
    QPointer<QMessageBox> box;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible() && qobject_cast<QMessageBox*>(window))
                box = qobject_cast<QMessageBox*>(window);
        return !box.isNull();
    }));
    EXPECT_EQ(box->windowTitle(), "Wirelog");
    EXPECT_EQ(box->text(), "RError!");
    EXPECT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->windowModality(), Qt::NonModal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(closed, 0);
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); })) << "the closed box lingers";
}

} // namespace
} // namespace Wirelog
