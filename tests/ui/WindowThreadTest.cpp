// SPDX-License-Identifier: MIT
// The window fed by other threads: the reader of a live capture, and a producer racing the
// log refresh and the window's end.
#include "UiTestSupport.h"
#include "events/EventBuffer.h"
#include "events/EventCodes.h"

#include <atomic>
#include <thread>

namespace Wirelog::testing {
namespace {

using WindowThreadTest = UiTest;

// START and STOP in quick succession against a module streaming a busy bus. Every event the
// module completed while started is shown exactly once: each stored event gives one non-empty
// line, and the stored events account for every byte the module sent but the code byte of an
// event that the stop command cut short.
TEST_F(WindowThreadTest, ManyStartStopCyclesShowEveryEmittedEventOnce) {
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
            bytes += TakesValueByte(MyEvents[i].cmd) ? 2 : 1;
        const WirelogSimStats stats = sim.Stats(0);
        const std::uint64_t cut = stats.events_emitted - stored;
        ASSERT_LE(cut, 1u);
        ASSERT_EQ(stats.bytes_emitted, bytes + cut);
        ASSERT_EQ(stats.bytes_read, stats.bytes_emitted);
    }
    EXPECT_TRUE(messages.all.empty());
}

// A reader still requesting refreshes while the window goes away must not reach it.
TEST_F(WindowThreadTest, RefreshRequestsRacingTheWindowsEndAreHarmless) {
    StartNewCapture();
    window = MakeWindow();
    const auto requestRefresh = window->LogRefreshRequester();
    std::atomic<bool> stop{false};
    std::atomic<int> requests{0};
    std::thread reader([&] {
        for (; !stop.load(); ++requests) {
            AppendEvent(9, 0, 0);
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
