// The program's message box: what the user sees, and how messages from other threads reach
// the window thread.
#include "MessageBox.h"
#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

namespace Wirelog::testing {
namespace {

TEST(MessageBoxTest, ShowsAModalBoxWithOneOkButtonNoIconAndNoOwner) {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QList<QAbstractButton*> buttons;
    QWidget* parent = reinterpret_cast<QWidget*>(1);
    bool modal = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        user.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->buttons();
        parent = box->parentWidget();
        modal = box->isModal();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    user.start(0);
    EXPECT_EQ(MessageBox(nullptr, "RError!", kMessageCaption, kMessageOk), kMessageResultOk);
    EXPECT_EQ(title, "Wirelog");
    EXPECT_EQ(text, "RError!");
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(parent, nullptr);
    EXPECT_TRUE(modal);
}

TEST(MessageBoxTest, ShowMessageUsesTheProgramsCaptionAndNoOwner) {
    RecordedMessages messages;
    ShowMessage("Couldn't activate the selected module.");
    ASSERT_EQ(messages.All().size(), 1u);
    const MessageRequest& message = messages.All().front();
    EXPECT_EQ(message.text, "Couldn't activate the selected module.");
    EXPECT_EQ(message.caption, "Wirelog");
    EXPECT_EQ(message.owner, nullptr);
    EXPECT_EQ(message.type, 0u);
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

TEST(MessageBoxTest, ASinkIsReplacedOnlyWhileItLives) {
    std::vector<std::string> outer, inner;
    const ScopedMessageSink outerSink([&](const MessageRequest& m) { outer.push_back(m.text); });
    {
        const ScopedMessageSink innerSink(
            [&](const MessageRequest& m) { inner.push_back(m.text); });
        ShowMessage("one");
    }
    ShowMessage("two");
    EXPECT_EQ(inner, std::vector<std::string>{"one"});
    EXPECT_EQ(outer, std::vector<std::string>{"two"});
}

} // namespace
} // namespace Wirelog::testing
