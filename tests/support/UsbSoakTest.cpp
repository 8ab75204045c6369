// SPDX-License-Identifier: MIT
// A gigabyte from a high-speed chip: no byte lost or repeated over the counter pattern.
#include "UsbBackendFixture.h"

using namespace WirelogTest;

TEST_F(UsbBackend, AGigabyteArrivesOnceAndInOrder) {
    Wirelog::d2xx::FakeChipConfig config;
    config.packetSize = 512;
    const auto [chip, handle] = OpenOnlyChip(config);
    constexpr std::uint64_t kBytes = std::uint64_t{1} << 30;
    chip->Stream(0, kBytes);
    EXPECT_EQ(ReadPattern(handle, kBytes), kBytes);
    EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
}
