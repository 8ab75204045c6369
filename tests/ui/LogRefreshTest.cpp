// The log refresh: stored events become rows, one insertion per refresh, and the view follows
// the newest line only when auto-scroll is on.
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace Wirelog::testing {
namespace {

// A transaction that writes `count` bytes to the EEPROM at 0x50: START, address, data, STOP.
void AppendTransaction(int count, std::int64_t timer) {
    AppendEvent(1, 0, timer);
    AppendEvent(7, 0xA0, timer);
    for (int i = 0; i < count; ++i)
        AppendEvent(9, static_cast<std::uint8_t>(i), timer);
    AppendEvent(2, 0, timer);
}

class LogRefreshTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartNewCapture();
        AppendEvent(0, 0, 0); // every capture opens with the module's announcement
        window = fixture.MakeWindow();
        log = &Child<LogView>(*window, "listBox1");
        model = log->model();
    }

    WindowFixture fixture;
    std::unique_ptr<Form1> window;
    LogView* log = nullptr;
    QAbstractItemModel* model = nullptr;
};

TEST_F(LogRefreshTest, EachRefreshAddsItsLinesInOneInsertion) {
    const QAbstractItemModelTester tester(model,
                                          QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    AppendEvent(1, 0, 1000);
    AppendEvent(7, 0xA0, 2000);
    AppendEvent(2, 0, 3000);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model), (QStringList{kMonitoring, "", kStartLine,
                                         "Address + Write + ACK, addr = 0x50", kStopLine}));
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 4);
    EXPECT_EQ(myevtTail, 4u);

    AppendEvent(2, 0, 5'003'000);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model).mid(5), QStringList{kStopLine}) << "the next refresh adds below";
    EXPECT_EQ(inserted.count(), 2);
    window->UpdateLoggingWindow();
    EXPECT_EQ(inserted.count(), 2) << "an empty refresh inserted rows";
}

// With auto-scroll the newest line ends at the bottom after each refresh; without it the view
// stays where the user left it. A refresh that finds nothing moves neither.
TEST_F(LogRefreshTest, TheViewFollowsTheNewestLineOnlyWithAutoScroll) {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QScrollBar& vertical = *log->verticalScrollBar();
    const auto newestAtTheBottom = [&] {
        const QRect newest = log->visualRect(model->index(model->rowCount() - 1, 0));
        const int page = log->viewport()->height();
        return newest.bottom() < page && newest.bottom() + newest.height() >= page;
    };
    for (const bool autoScroll : {true, false}) {
        SCOPED_TRACE(autoScroll);
        Child<QCheckBox>(*window, "cbAutoScroll").setChecked(autoScroll);
        for (int round = 0; round < 3; ++round) {
            vertical.setValue(vertical.maximum() / 2);
            const int where = vertical.value();
            const QModelIndex topRow = log->indexAt(QPoint(1, 1));
            for (int i = 0; i < 30; ++i)
                AppendTransaction(4, round * 100 + i);
            window->UpdateLoggingWindow();
            EXPECT_GT(vertical.maximum(), where);
            EXPECT_EQ(vertical.value(), autoScroll ? vertical.maximum() : where);
            EXPECT_EQ(newestAtTheBottom(), autoScroll);
            EXPECT_TRUE(autoScroll || log->indexAt(QPoint(1, 1)) == topRow);
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
