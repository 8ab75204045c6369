// SPDX-License-Identifier: MIT
// The window fed by its reader: refresh requests racing the window's end.
#include "UiTestSupport.h"
#include "events/EventBuffer.h"

namespace Wirelog::testing {
namespace {

using WindowThreadTest = UiTest;

// The window goes away while its reader streams and asks for refreshes: no refresh reaches the
// window after that, and the reader, stopped without the stop command, closes the module.
TEST_F(WindowThreadTest, ACaptureRunningWhenTheWindowGoesAwayNeverReachesIt) {
    Open("hw:off;dev:rate=300000");
    Button("btnStartStop").click();
    ASSERT_TRUE(WaitForRows(1000));
    window.reset();
    AppendEvent(9, 0, 0); // for a late refresh to take
    const std::uint32_t drainedByTheWindow = myevtTail;
    QCoreApplication::processEvents();
    EXPECT_EQ(myevtTail, drainedByTheWindow) << "a refresh ran after the window was gone";
    EXPECT_TRUE(sim.Stats(0).open == 0 && sim.Stats(0).stop_commands == 0);
}

} // namespace
} // namespace Wirelog::testing
