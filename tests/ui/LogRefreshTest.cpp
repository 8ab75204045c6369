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

    // The next refresh adds below, in one more insertion; the gap counts from the last STOP.
    AppendEvent(1, 0, 5'003'000);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model).mid(5), (QStringList{"", "START (valid) [Gap from last Stop = 5mS]"}));
    EXPECT_EQ(inserted->count(), 2);
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

// C clears the log in the middle of a capture: what is stored afterwards still arrives, and the
// next line may well be a transaction's separator.
TEST_F(LogRefreshTest, AClearedLogTakesTheEventsThatFollow) {
    AppendTransaction(2, 0);
    window->UpdateLoggingWindow();
    auto& logModel = dynamic_cast<LogModel&>(*model);
    logModel.Clear();
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(logModel.Lines().size(), 0u);
    AppendEvent(1, 0, 0);
    window->UpdateLoggingWindow();
    EXPECT_EQ(Rows(*model), (QStringList{"", kStart}));
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
