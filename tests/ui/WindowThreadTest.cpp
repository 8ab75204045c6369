// SPDX-License-Identifier: MIT
// The window fed by another thread: a producer racing the log refresh and the window's end.
#include "UiTestSupport.h"
#include "events/EventBuffer.h"

#include <atomic>
#include <thread>

namespace Wirelog::testing {
namespace {

using WindowThreadTest = UiTest;

// A reader still requesting refreshes while the window goes away must not reach it.
TEST_F(WindowThreadTest, RefreshRequestsRacingTheWindowsEndAreHarmless) {
    Open("hw:off");
    StartNewCapture();
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
