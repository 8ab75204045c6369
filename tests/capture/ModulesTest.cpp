// SPDX-License-Identifier: MIT
// Which devices are modules, how the list names them, and what an entry opens.
#include "SimControl.h"
#include "adapter/AdapterLibrary.h"
#include "capture/CaptureControl.h"

#include <gtest/gtest.h>

namespace Wirelog {
namespace {

using Entries = std::vector<std::string>;

TEST(ModulesTest, AnEntrysLeadingDigitsNameItsDevice) {
    EXPECT_EQ(LeadingDeviceIndex("12 (s/n SIM00001)"), 12);
    EXPECT_EQ(LeadingDeviceIndex("2147483647"), 2147483647);
    for (const char* none : {"", " 1 (s/n X)", "(s/n 1)", "2147483648"})
        EXPECT_EQ(LeadingDeviceIndex(none), std::nullopt) << none;
}

TEST(ModulesTest, OpenPortOpensTheEntrysDeviceAndClosePortClosesItOnce) {
    test::SimControl sim;
    sim.Configure("hw:off;dev:desc=other;dev:serial=M;dev:open=fail");
    AdapterLibrary library(test::kAdapterLibraryPath);
    CaptureControl capture(library, {});
    const Entries entries = capture.Load().entries;
    ASSERT_EQ(entries, (Entries{"1 (s/n M)", "2 (s/n SIM00003)"}));

    capture.OpenPort("x1 (s/n M)");
    EXPECT_FALSE(capture.IsPortOpen());
    bool reset = false;
    EXPECT_FALSE(capture.StartCapture(entries[1], [&] { reset = true; }));
    EXPECT_FALSE(reset) << "a module that cannot be opened changes nothing";
    EXPECT_EQ(capture.LiveReaderThreads(), 0u);

    capture.OpenPort(entries[0]);
    ASSERT_TRUE(capture.IsPortOpen());
    capture.ClosePort();
    capture.ClosePort();
    EXPECT_FALSE(capture.IsPortOpen());
    EXPECT_EQ(sim.Stats(1).opens, 1u);
    EXPECT_EQ(sim.Stats(1).closes, 1u);
    EXPECT_EQ(sim.Stats(1).bytes_written, 0u) << "a test open sends no command";
    EXPECT_THROW(CaptureControl(library, {}), std::logic_error) << "one per program";
}

} // namespace
} // namespace Wirelog
