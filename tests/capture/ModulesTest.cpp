// Which devices are modules, how the list names them, and what an entry opens.
#include "Modules.h"
#include "AdapterLibrary.h"
#include "CaptureControl.h"
#include "SimControl.h"

#include <gtest/gtest.h>

namespace Wirelog {
namespace {

TEST(ModulesTest, ListsOnlyExactDescriptionsUnderTheirDeviceIndex) {
    test::SimControl sim;
    sim.Configure("hw:off;dev:desc=WIRLG000,serial=A;dev:serial=B;dev:desc=wirlg0001,serial=C;"
                  "dev:desc=wirlg00,serial=D;dev:serial=E;dev:desc= wirlg000,serial=F");
    AdapterLibrary library(test::kAdapterLibraryPath);
    const ModuleList list = ListModules(library);
    EXPECT_EQ(list.countStatus, FT_OK);
    EXPECT_EQ(list.entries, (std::vector<std::string>{"1 (s/n B)", "4 (s/n E)"}));

    sim.Configure("hw:off");
    EXPECT_TRUE(ListModules(library).entries.empty());
}

TEST(ModulesTest, AnUnboundLibraryListsNothing) {
    int reports = 0;
    AdapterLibrary library("/nonexistent/wirlg000.dll", [&](const std::string&) { ++reports; });
    const ModuleList list = ListModules(library);
    EXPECT_NE(list.countStatus, FT_OK);
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(reports, 1);
}

TEST(ModulesTest, LeadingDigitsNameTheDevice) {
    EXPECT_EQ(LeadingDeviceIndex("12 (s/n SIM00001)"), 12);
    EXPECT_EQ(LeadingDeviceIndex("007"), 7);
    EXPECT_EQ(LeadingDeviceIndex("2147483647 (s/n X)"), 2147483647);
    EXPECT_EQ(LeadingDeviceIndex(""), std::nullopt);
    EXPECT_EQ(LeadingDeviceIndex(" 1 (s/n X)"), std::nullopt);
    EXPECT_EQ(LeadingDeviceIndex("(s/n 1)"), std::nullopt);
    EXPECT_EQ(LeadingDeviceIndex("2147483648"), std::nullopt) << "beyond a signed 32-bit index";
    EXPECT_EQ(ModuleEntry(3, "SIM00004"), "3 (s/n SIM00004)");
}

TEST(ModulesTest, OpenPortOpensTheEntrysDeviceAndClosePortClosesItOnce) {
    test::SimControl sim;
    sim.Configure("hw:off;dev:desc=other;dev:serial=M;dev:open=fail");
    AdapterLibrary library(test::kAdapterLibraryPath);
    CaptureControl capture(library, {});
    const ModuleList list = capture.Load();
    ASSERT_EQ(list.entries, (std::vector<std::string>{"1 (s/n M)", "2 (s/n SIM00003)"}));
    EXPECT_NE(hEvent, nullptr);

    capture.OpenPort("x1 (s/n M)");
    EXPECT_FALSE(capture.IsPortOpen());
    capture.OpenPort(list.entries[1]);
    EXPECT_FALSE(capture.IsPortOpen()) << "the module that fails to open";

    capture.OpenPort(list.entries[0]);
    ASSERT_TRUE(capture.IsPortOpen());
    EXPECT_EQ(sim.Stats(1).open, 1u);
    capture.ClosePort();
    capture.ClosePort();
    EXPECT_FALSE(capture.IsPortOpen());
    EXPECT_EQ(sim.Stats(1).closes, 1u);
    EXPECT_EQ(sim.Stats(1).bytes_written, 0u) << "a test open sends no command";
}

} // namespace
} // namespace Wirelog
