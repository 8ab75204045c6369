// SPDX-License-Identifier: MIT
// A gigabyte from a high-speed chip: no byte lost or repeated over the counter pattern.
#include "UsbBackendFixture.h"

using namespace WirelogTest;

TEST_F(UsbBackend, AGigabyteArrivesOnceAndInOrder) {
    Wirelog::d2xx::FakeChipConfig config;
    config.packetSize = 512;
    const auto chip = fake->AddChip(config);
    ASSERT_EQ(DeviceCount(), 1u);
    FT_HANDLE handle = Open(0);
    constexpr std::uint64_t kBytes = std::uint64_t{1} << 30;
    chip->Stream(0, kBytes);
    EXPECT_EQ(ReadPattern(handle, kBytes), kBytes);
    EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
}
