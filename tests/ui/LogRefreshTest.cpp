// SPDX-License-Identifier: MIT
// The log refresh: stored events become rows, one insertion per refresh, and the view follows
// the newest line only when auto-scroll is on (it starts off).
#include "UiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>

namespace Wirelog::testing {
namespace {

// With auto-scroll the view ends at the newest line after each refresh; without it the view
// stays where the user left it. A refresh that finds nothing moves neither and inserts nothing.
TEST_F(UiTest, TheLogViewFollowsTheNewestLineOnlyWithAutoScroll) {
    Open("hw:off");
    ShowEvents({0});
    const QAbstractItemModelTester tester(&Log(),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&Log(), &QAbstractItemModel::rowsInserted);
    QScrollBar& vertical = *Child<LogView>(*window, "listBox1").verticalScrollBar();
    for (const bool autoScroll : {false, true}) {
        SCOPED_TRACE(autoScroll);
        if (autoScroll)
            Child<QCheckBox>(*window, "cbAutoScroll").click();
        for (int round = 0; round < 3; ++round) {
            vertical.setValue(vertical.maximum() / 2);
            const int where = vertical.value();
            const int rows = Log().rowCount();
            for (int i = 0; i < 30; ++i)
                for (const std::uint8_t code : {1, 7, 9, 2})
                    AppendEvent(code, 0xA0, round * 100 + i);
            window->UpdateLoggingWindow();
            EXPECT_EQ(Log().rowCount(), rows + 30 * 5);
            ASSERT_TRUE(QTest::qWaitFor([&] { return vertical.maximum() > where; }));
            EXPECT_EQ(vertical.value(), autoScroll ? vertical.maximum() : where);
            vertical.setValue(where);
            window->UpdateLoggingWindow();
            EXPECT_EQ(vertical.value(), where) << "an empty refresh moved the view";
        }
    }
    EXPECT_EQ(inserted.count(), 6) << "one insertion per refresh that finds events";
}

} // namespace
} // namespace Wirelog::testing
