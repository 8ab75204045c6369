#include "SimConfig.h"

#include <gtest/gtest.h>

using namespace Wirelog::d2xx;

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

TEST(SimConfig, MalformedTextIsRefusedWhole) {
    for (const char* bad : {"dev:desc", "dev:colour=red", "dev:rate=0", "dev:rate=-4",
                            "dev:rate=1k", "dev:rate=1000000001", "dev:stream=fast",
                            "dev:stream=replay", "dev:read=slow", "dev:open=yes", "dev:block_ms=",
                            "dev:unplug=9999999999999999999999", "hw:on", "dev:;bogus", "dev:=x"}) {
        EXPECT_FALSE(ParseSimConfig(bad)) << bad;
    }
}

} // namespace
