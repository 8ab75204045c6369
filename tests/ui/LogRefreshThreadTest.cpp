// The log refresh fed by another thread, as the reader feeds it during a capture.
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace Wirelog::testing {
namespace {

constexpr std::uint8_t kDataAck = 9;

class LogRefreshThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        StartNewCapture();
        window = fixture.MakeWindow();
        model = Child<LogView>(*window, "listBox1").model();
        tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        inserted = std::make_unique<QSignalSpy>(model, &QAbstractItemModel::rowsInserted);
    }

    WindowFixture fixture;
    std::unique_ptr<Form1> window;
    QAbstractItemModel* model = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<QSignalSpy> inserted;
};

// A producer keeps storing events while one refresh drains: the refresh does not stop at the
// head it saw first, and everything it drained is shown by its single insertion.
TEST_F(LogRefreshThreadTest, EventsStoredDuringARefreshAreShownByIt) {
    constexpr std::uint32_t kBacklog = 100'000;
    std::atomic<bool> refreshed{false};
    std::thread producer([&] {
        std::uint32_t n = 0;
        while (!refreshed.load() && myevtHead.load() < kEventCapacity)
            AppendEvent(kDataAck, static_cast<std::uint8_t>(n++), 0);
    });
    while (myevtHead.load() < kBacklog)
        std::this_thread::yield();
    const std::uint32_t headBefore = myevtHead.load();
    window->UpdateLoggingWindow();
    refreshed = true;
    producer.join();

    EXPECT_GT(myevtTail, headBefore) << "events stored during the refresh were left for later";
    ASSERT_EQ(inserted->count(), 1);
    ASSERT_EQ(model->rowCount(), static_cast<int>(myevtTail));
    for (const int row : {0, static_cast<int>(headBefore), model->rowCount() - 1}) {
        const auto data = static_cast<std::uint8_t>(row);
        EXPECT_TRUE(model->data(model->index(row, 0))
                        .toString()
                        .endsWith(QString::asprintf("0x%02X", data)))
            << row;
    }
}

// The reader requests a refresh after every read. Requests are merged while one is pending,
// but the last one is never lost: every stored event ends up in the list.
TEST_F(LogRefreshThreadTest, EveryEventARequestFollowsIsShownEventually) {
    constexpr int kReads = 2000;
    constexpr int kEventsPerRead = 7;
    const auto requestRefresh = window->LogRefreshRequester();
    std::thread reader([&] {
        for (int read = 0; read < kReads; ++read) {
            for (int i = 0; i < kEventsPerRead; ++i)
                AppendEvent(kDataAck, static_cast<std::uint8_t>(i), read);
            requestRefresh();
        }
    });
    const bool complete =
        QTest::qWaitFor([&] { return model->rowCount() == kReads * kEventsPerRead; }, 30'000);
    reader.join();
    EXPECT_TRUE(complete) << model->rowCount() << " rows";
    EXPECT_LE(inserted->count(), kReads);
}

// A reader that is still running while the window goes away must not reach it.
TEST_F(LogRefreshThreadTest, RequestsRacingTheWindowsEndAreHarmless) {
    const auto requestRefresh = window->LogRefreshRequester();
    std::atomic<bool> stop{false};
    std::atomic<int> requests{0};
    std::thread reader([&] {
        while (!stop.load()) {
            AppendEvent(kDataAck, 0, 0);
            requestRefresh();
            ++requests;
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests.load() > 1000 && myevtTail > 0; }));
    tester.reset();
    inserted.reset();
    window.reset();
    const std::uint32_t drainedByTheWindow = myevtTail;
    const int atDestruction = requests.load();
    while (requests.load() < atDestruction + 1000)
        QCoreApplication::processEvents();
    stop = true;
    reader.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(myevtTail, drainedByTheWindow) << "a refresh ran after the window was gone";
}

} // namespace
} // namespace Wirelog::testing
