// The log refresh: stored events become rows, one insertion per refresh, and the view follows
// the newest line only when auto-scroll is on.
#include "EventBuffer.h"
#include "LogModel.h"
#include "UiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace Wirelog::testing {
namespace {

const QString kMonitoring = "*** I2C Monitoring activated, waiting for idle bus... ***";
const QString kStart = "START (valid)";
const QString kStop = "STOP (*** BUS IS IDLE ***)";

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
        // Every capture opens with the module's announcement.
        AppendEvent(0, 0, 0);
        window = fixture.MakeWindow();
        log = &Child<LogView>(*window, "listBox1");
        model = log->model();
        tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        inserted = std::make_unique<QSignalSpy>(model, &QAbstractItemModel::rowsInserted);
    }

    void ShowWithAutoScroll(bool on) {
        Child<QCheckBox>(*window, "cbAutoScroll").setChecked(on);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    QScrollBar& Vertical() { return *log->verticalScrollBar(); }

    bool NewestLineAtTheBottom() {
        const QRect newest = log->visualRect(model->index(model->rowCount() - 1, 0));
        const int page = log->viewport()->height();
        return newest.bottom() < page && newest.bottom() + newest.height() >= page;
    }

    WindowFixture fixture;
    std::unique_ptr<Form1> window;
    LogView* log = nullptr;
    QAbstractItemModel* model = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<QSignalSpy> inserted;
};

TEST_F(LogRefreshTest, TheFirstCaptureShowsExactlyItsLinesInOneInsertion) {
    AppendEvent(1, 0, 1000);
    AppendEvent(7, 0xA0, 2000);
    AppendEvent(2, 0, 3000);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model),
              (QStringList{kMonitoring, "", kStart, "Address + Write + ACK, addr = 0x50", kStop}));
    ASSERT_EQ(inserted->count(), 1);
    EXPECT_EQ(inserted->at(0).at(1).toInt(), 0);
    EXPECT_EQ(inserted->at(0).at(2).toInt(), 4);
    EXPECT_EQ(myevtTail, 4u);
}

TEST_F(LogRefreshTest, EveryTransactionStartGetsOneSeparatorLine) {
    const std::set<int> separatorCodes{1, 3, 6, 13, 14, 15};
    // After the announcement every other code, then separator codes back to back.
    std::vector<std::uint8_t> codes;
    for (int code = 1; code <= 18; ++code)
        codes.push_back(static_cast<std::uint8_t>(code));
    for (const std::uint8_t code : {1, 1, 13, 14, 15, 6, 3, 3})
        codes.push_back(code);
    for (const std::uint8_t code : codes)
        AppendEvent(code, 0x10, 0);
    codes.insert(codes.begin(), 0);
    window->UpdateLoggingWindow();

    const QStringList rows = Rows(*model);
    int row = 0;
    for (const std::uint8_t code : codes) {
        SCOPED_TRACE(int(code));
        ASSERT_LT(row, rows.size());
        if (separatorCodes.count(code) != 0) {
            EXPECT_EQ(rows[row++], "");
        }
        ASSERT_LT(row, rows.size());
        EXPECT_FALSE(rows[row++].isEmpty()) << "an event's own line is never empty";
    }
    EXPECT_EQ(row, rows.size());
}

TEST_F(LogRefreshTest, RefreshesAppendBelowEarlierLines) {
    AppendTransaction(1, 1000);
    window->UpdateLoggingWindow();
    const QStringList first = Rows(*model);
    AppendTransaction(2, 5'001'000); // five milliseconds after the STOP
    window->UpdateLoggingWindow();
    const QStringList all = Rows(*model);
    ASSERT_EQ(all.size(), first.size() + 6);
    EXPECT_EQ(all.mid(0, first.size()), first);
    EXPECT_EQ(all[first.size() + 1], "START (valid) [Gap from last Stop = 5mS]");
    EXPECT_EQ(inserted->count(), 2);
}

TEST_F(LogRefreshTest, AnEmptyDrainAppendsNothingAndLeavesTheViewAlone) {
    ShowWithAutoScroll(true);
    for (int i = 0; i < 40; ++i)
        AppendTransaction(3, i);
    window->UpdateLoggingWindow();
    Vertical().setValue(Vertical().maximum() / 3);
    const int where = Vertical().value();
    const int rows = model->rowCount();
    inserted->clear();

    window->UpdateLoggingWindow();
    EXPECT_EQ(inserted->count(), 0);
    EXPECT_EQ(model->rowCount(), rows);
    EXPECT_EQ(Vertical().value(), where);
}

TEST_F(LogRefreshTest, WithAutoScrollTheNewestLineEndsAtTheBottom) {
    ShowWithAutoScroll(true);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 30; ++i)
            AppendTransaction(4, round * 100 + i);
        window->UpdateLoggingWindow();
        EXPECT_GT(Vertical().maximum(), 0);
        EXPECT_EQ(Vertical().value(), Vertical().maximum());
        EXPECT_TRUE(NewestLineAtTheBottom());
    }
}

TEST_F(LogRefreshTest, WithoutAutoScrollTheViewStaysWhereTheUserLeftIt) {
    ShowWithAutoScroll(false);
    for (int i = 0; i < 30; ++i)
        AppendTransaction(4, i);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Vertical().value(), 0) << "a new list starts at its top";
    Vertical().setValue(Vertical().maximum() / 2);
    const int where = Vertical().value();
    const QModelIndex topRow = log->indexAt(QPoint(1, 1));

    for (int i = 0; i < 30; ++i)
        AppendTransaction(4, i);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Vertical().value(), where);
    EXPECT_EQ(log->indexAt(QPoint(1, 1)), topRow);
    EXPECT_FALSE(NewestLineAtTheBottom());
}

TEST_F(LogRefreshTest, ClearingEmptiesTheListAndLaterEventsStillArrive) {
    AppendTransaction(2, 0);
    window->UpdateLoggingWindow();
    auto& logModel = dynamic_cast<LogModel&>(*model);
    logModel.Clear();
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(logModel.Lines().size(), 0u);
    AppendEvent(5, 0, 0);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model), QStringList{"*** Bus is now idle ***"});
}

// The first line after a clear can be a separator: the C key clears the log in the middle of a
// capture, and the next transaction starts with an empty line.
TEST_F(LogRefreshTest, ALogClearedMidCaptureTakesATransactionStartNext) {
    window->UpdateLoggingWindow();
    dynamic_cast<LogModel&>(*model).Clear();
    AppendEvent(1, 0, 0);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model), (QStringList{"", kStart}));
}

TEST_F(LogRefreshTest, RequestsFromTheWindowThreadAreMergedUntilTheyRun) {
    AppendTransaction(1, 0);
    const auto request = window->LogRefreshRequester();
    for (int i = 0; i < 100; ++i)
        request();
    EXPECT_EQ(model->rowCount(), 0) << "a request runs later, from the event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount() == 6; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(inserted->count(), 1);
}

TEST(CoalescedCallTest, ARequestDuringTheRunQueuesOneMoreRun) {
    QObject context;
    int runs = 0;
    std::function<void()> again;
    CoalescedCall call(context, [&] {
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

TEST(CoalescedCallTest, RequestsOutlivingTheWindowDoNothing) {
    WindowFixture fixture;
    auto window = fixture.MakeWindow();
    StartNewCapture();
    AppendEvent(0, 0, 0);
    AppendTransaction(1, 0);
    const auto request = window->LogRefreshRequester();
    request(); // queued, never delivered
    window.reset();
    request();
    QCoreApplication::processEvents();
    EXPECT_EQ(myevtTail, 0u) << "no refresh ran after the window was gone";
}

} // namespace
} // namespace Wirelog::testing
