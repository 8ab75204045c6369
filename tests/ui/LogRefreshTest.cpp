// The log refresh: stored events become rows, one insertion per refresh, and the view follows
// the newest line only when auto-scroll is on.
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>

namespace Wirelog::testing {
namespace {

class LogRefreshTest : public UiTest {
protected:
    void SetUp() override {
        window = MakeWindow();
        ShowEvents({0}); // every capture opens with the module's announcement
    }
};

TEST_F(LogRefreshTest, EachRefreshAddsItsLinesInOneInsertion) {
    const QAbstractItemModelTester tester(&Log(),
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(&Log(), &QAbstractItemModel::rowsInserted);
    AppendEvent(1, 0, 1000);
    AppendEvent(7, 0xA0, 2000);
    AppendEvent(2, 0, 3000);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(Log()), (QStringList{kMonitoring, "", kStartLine,
                                        "Address + Write + ACK, addr = 0x50", kStopLine}));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 4);
    AppendEvent(2, 0, 5'003'000);
    window->UpdateLoggingWindow();
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(Log()).mid(5), QStringList{kStopLine});
    EXPECT_EQ(inserted.count(), 2) << "one insertion per refresh that finds events";
}

// With auto-scroll the newest line ends at the bottom after each refresh; without it the view
// stays where the user left it. A refresh that finds nothing moves neither.
TEST_F(LogRefreshTest, TheViewFollowsTheNewestLineOnlyWithAutoScroll) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto& log = Child<LogView>(*window, "listBox1");
    QScrollBar& vertical = *log.verticalScrollBar();
    for (const bool autoScroll : {true, false}) {
        SCOPED_TRACE(autoScroll);
        Child<QCheckBox>(*window, "cbAutoScroll").setChecked(autoScroll);
        for (int round = 0; round < 3; ++round) {
            vertical.setValue(vertical.maximum() / 2);
            const int where = vertical.value();
            for (int i = 0; i < 30; ++i)
                for (const std::uint8_t code : {1, 7, 9, 9, 2})
                    AppendEvent(code, 0xA0, round * 100 + i);
            window->UpdateLoggingWindow();
            EXPECT_GT(vertical.maximum(), where);
            EXPECT_EQ(vertical.value(), autoScroll ? vertical.maximum() : where);
            const QRect newest = log.visualRect(Log().index(Log().rowCount() - 1, 0));
            EXPECT_EQ(newest.bottom() < log.viewport()->height() &&
                          newest.bottom() + newest.height() >= log.viewport()->height(),
                      autoScroll);
            vertical.setValue(where);
            window->UpdateLoggingWindow();
            EXPECT_EQ(vertical.value(), where) << "an empty refresh moved the view";
        }
    }
}

TEST(CoalescedCallTest, ARequestDuringTheRunQueuesOneMoreRun) {
    int runs = 0;
    std::function<void()> again;
    CoalescedCall call([&] {
        if (++runs == 1)
            again();
    });
    again = call.Requester();
    call.Request();
    call.Request();
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 2);
}

} // namespace
} // namespace Wirelog::testing
