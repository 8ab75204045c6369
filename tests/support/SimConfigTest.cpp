#include "SimConfig.h"

#include <gtest/gtest.h>

using namespace Wirelog::Adapter;

namespace {

TEST(SimConfig, ShortFormsGiveOneModule) {
    const auto demo = ParseSimConfig("demo");
    ASSERT_TRUE(demo);
    ASSERT_EQ(demo->devices.size(), 1u);
    EXPECT_FALSE(demo->hideHardware);
    EXPECT_EQ(demo->devices[0].description, "wirlg000");
    EXPECT_EQ(demo->devices[0].serial, "SIM00001");
    EXPECT_EQ(demo->devices[0].stream, StreamKind::Demo);

    const auto replay = ParseSimConfig("/tmp/some capture.txt");
    ASSERT_TRUE(replay);
    ASSERT_EQ(replay->devices.size(), 1u);
    EXPECT_EQ(replay->devices[0].stream, StreamKind::Replay);
    EXPECT_EQ(replay->devices[0].file, "/tmp/some capture.txt");
    EXPECT_EQ(replay->devices[0].description, "wirlg000");

    const auto none = ParseSimConfig("");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->devices.empty());
}

TEST(SimConfig, ClausesSetEveryKeyAndNumberDefaultSerialsByPosition) {
    const auto config =
        ParseSimConfig("hw:off;dev:desc=WIRLG000,rate=5000;;dev:stream=idle,open=fail,status=fail,"
                       "read=block,block_ms=20;dev:file=a.txt,serial=X,read=half,unplug=7");
    ASSERT_TRUE(config);
    EXPECT_TRUE(config->hideHardware);
    ASSERT_EQ(config->devices.size(), 3u);
    const auto& first = config->devices[0];
    EXPECT_EQ(first.description, "WIRLG000");
    EXPECT_EQ(first.serial, "SIM00001");
    EXPECT_EQ(first.bytesPerSecond, 5000u);
    const auto& second = config->devices[1];
    EXPECT_EQ(second.serial, "SIM00002");
    EXPECT_EQ(second.stream, StreamKind::Idle);
    EXPECT_TRUE(second.faults.openFails);
    EXPECT_TRUE(second.faults.statusFails);
    EXPECT_EQ(second.faults.read, ReadFault::Block);
    EXPECT_EQ(second.faults.blockMilliseconds, 20u);
    const auto& third = config->devices[2];
    EXPECT_EQ(third.stream, StreamKind::Replay);
    EXPECT_EQ(third.file, "a.txt");
    EXPECT_EQ(third.serial, "X");
    EXPECT_EQ(third.faults.read, ReadFault::Half);
    ASSERT_TRUE(third.faults.unplugAfterBytes);
    EXPECT_EQ(*third.faults.unplugAfterBytes, 7u);
}

TEST(SimConfig, MalformedTextIsRefusedWhole) {
    for (const char* bad :
         {"dev:desc", "dev:colour=red", "dev:rate=0", "dev:rate=-4", "dev:rate=1k",
          "dev:stream=fast", "dev:stream=replay", "dev:read=slow", "dev:open=yes",
          "dev:block_ms=", "dev:unplug=9999999999999999999999", "hw:on", "dev:;bogus", "dev:=x"}) {
        EXPECT_FALSE(ParseSimConfig(bad)) << bad;
    }
}

TEST(SimFaults, ReplaceAllFaultsOrNone) {
    SimFaults faults;
    faults.statusFails = true;
    ASSERT_TRUE(ParseSimFaults("read=zero,unplug=3", faults));
    EXPECT_FALSE(faults.statusFails) << "faults not named are cleared";
    EXPECT_EQ(faults.read, ReadFault::Zero);
    EXPECT_EQ(faults.unplugAfterBytes, 3u);

    EXPECT_FALSE(ParseSimFaults("read=fail,desc=x", faults)) << "not a fault key";
    EXPECT_EQ(faults.read, ReadFault::Zero) << "a refused text changed the faults";

    ASSERT_TRUE(ParseSimFaults("", faults));
    EXPECT_EQ(faults.read, ReadFault::None);
    EXPECT_FALSE(faults.unplugAfterBytes);
}

} // namespace
