// The window fed by other threads: the reader of a live capture, and a producer racing the
// log refresh and the window's end.
#include "EventBuffer.h"
#include "UiTestSupport.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <thread>

namespace Wirelog::testing {
namespace {

constexpr std::uint8_t kDataAck = 9;

// START and STOP in quick succession against a module streaming a busy bus. Every event the
// module completed while started is shown exactly once: each stored event gives one non-empty
// line, and the stored events account for every byte the module sent but the code byte of an
// event that the stop command cut short.
TEST_F(CaptureWindowTest, ManyStartStopCyclesShowEveryEmittedEventOnce) {
    Open("hw:off;dev:rate=300000");
    for (int cycle = 0; cycle < 500; ++cycle) {
        SCOPED_TRACE(cycle);
        Button("btnStartStop").click();
        ASSERT_TRUE(WaitForRows(1 + cycle % 7 * 30));
        Button("btnStartStop").click();
        ASSERT_TRUE(QTest::qWaitFor([] { return myevtTail == myevtHead.load(); }));

        const std::uint32_t stored = myevtHead.load();
        const QStringList rows = Rows(Log());
        ASSERT_EQ(rows.size() - rows.count(""), static_cast<qsizetype>(stored));
        std::uint64_t bytes = 0;
        for (std::uint32_t i = 0; i < stored; ++i)
            bytes += MyEvents[i].cmd >= 7 && MyEvents[i].cmd <= 16 ? 2 : 1;
        const WirelogSimStats stats = fixture.sim.Stats();
        const std::uint64_t cut = stats.events_emitted - stored;
        ASSERT_LE(cut, 1u);
        ASSERT_EQ(stats.bytes_emitted, bytes + cut);
        ASSERT_EQ(stats.bytes_read, stats.bytes_emitted);
    }
    EXPECT_EQ(fixture.sim.Stats().stop_commands, 500u);
    EXPECT_TRUE(messages.All().empty());
}

// A producer keeps storing while one refresh drains: the refresh does not stop at the head it
// saw first, and shows all it drained in one insertion.
TEST(LogRefreshThreadTest, EventsStoredDuringARefreshAreShownByIt) {
    WindowFixture fixture;
    StartNewCapture();
    const auto window = fixture.MakeWindow();
    QAbstractItemModel& model = *Child<LogView>(*window, "listBox1").model();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    std::atomic<bool> refreshed{false};
    std::thread producer([&] {
        for (std::uint32_t n = 0; !refreshed.load() && myevtHead.load() < kEventCapacity; ++n)
            AppendEvent(kDataAck, static_cast<std::uint8_t>(n), 0);
    });
    while (myevtHead.load() < 100'000)
        std::this_thread::yield();
    const std::uint32_t headBefore = myevtHead.load();
    window->UpdateLoggingWindow();
    refreshed = true;
    producer.join();

    EXPECT_GT(myevtTail, headBefore) << "events stored during the refresh were left for later";
    EXPECT_EQ(inserted.count(), 1);
    ASSERT_EQ(model.rowCount(), static_cast<int>(myevtTail));
    for (const int row : {0, static_cast<int>(headBefore), model.rowCount() - 1})
        EXPECT_TRUE(model.data(model.index(row, 0))
                        .toString()
                        .endsWith(QString::asprintf("0x%02X", static_cast<std::uint8_t>(row))));
}

// A reader still requesting refreshes while the window goes away must not reach it.
TEST(LogRefreshThreadTest, RequestsRacingTheWindowsEndAreHarmless) {
    WindowFixture fixture;
    StartNewCapture();
    auto window = fixture.MakeWindow();
    const auto requestRefresh = window->LogRefreshRequester();
    std::atomic<bool> stop{false};
    std::atomic<int> requests{0};
    std::thread reader([&] {
        for (; !stop.load(); ++requests) {
            AppendEvent(kDataAck, 0, 0);
            requestRefresh();
        }
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests.load() > 1000 && myevtTail > 0; }));
    window.reset();
    const std::uint32_t drainedByTheWindow = myevtTail;
    for (const int atDestruction = requests.load(); requests.load() < atDestruction + 1000;)
        QCoreApplication::processEvents();
    stop = true;
    reader.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(myevtTail, drainedByTheWindow) << "a refresh ran after the window was gone";
}

} // namespace
} // namespace Wirelog::testing
