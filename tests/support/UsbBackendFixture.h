// SPDX-License-Identifier: MIT
#pragma once
// The adapter library's entry points linked into the test with a fake USB layer installed, so
// the D2XX calls reach the real-module code path and a fake chip.
#include "FakeUsbChip.h"
#include "FtdiBackend.h"
#include "TestPlatform.h"
#include "adapter/NotifyEvent.h"
#include "ftd2xx.h"
#include "wirelog_ext.h"
#include "wirelog_sim.h"

#include <gtest/gtest.h>

namespace WirelogTest {

class UsbBackend : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(WirelogSim_Configure(""), 0);
        Wirelog::d2xx::SetUsbLayer(fake);
    }
    void TearDown() override {
        Wirelog::d2xx::SetUsbLayer(std::make_shared<Wirelog::d2xx::FakeUsb>());
    }

    DWORD DeviceCount() {
        DWORD count = 0;
        EXPECT_EQ(FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS{FT_OK});
        return count;
    }

    struct Opened {
        std::shared_ptr<Wirelog::d2xx::FakeChip> chip;
        FT_HANDLE handle;
    };
    // The one chip attached, opened; arrivals signal `event` when one is given.
    Opened OpenOnlyChip(const Wirelog::d2xx::FakeChipConfig& config = {},
                        Wirelog::NotifyEvent* event = nullptr) {
        fake->RemoveAll();
        const auto chip = fake->AddChip(config);
        EXPECT_EQ(DeviceCount(), 1u);
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(FT_Open(0, &handle), FT_STATUS{FT_OK});
        if (event != nullptr) {
            EXPECT_EQ(FT_SetEventNotification(handle, FT_EVENT_RXCHAR, event->Param()),
                      FT_STATUS{FT_OK});
        }
        return {chip, handle};
    }

    // Reads what arrives, up to limit bytes, until nothing more comes or the device reports
    // an error, checking the chip's counter pattern; returns how many bytes matched in order.
    std::uint64_t ReadPattern(FT_HANDLE handle, std::uint64_t limit) {
        std::vector<std::uint8_t> buffer(65536);
        std::uint64_t position = 0;
        while (position < limit) {
            DWORD queued = 0, got = 0;
            FT_STATUS status = FT_OK;
            WaitFor([&] {
                return (status = FT_GetQueueStatus(handle, &queued)) != FT_OK || queued > 0;
            });
            const auto want = static_cast<DWORD>(
                std::min<std::uint64_t>({queued, buffer.size(), limit - position}));
            if (status != FT_OK || want == 0 || FT_Read(handle, buffer.data(), want, &got) != FT_OK)
                break;
            for (DWORD i = 0; i < got; ++i, ++position) {
                if (buffer[i] != Wirelog::d2xx::FakeChip::PatternByte(position)) {
                    ADD_FAILURE() << "byte " << position << " is off the pattern";
                    return position;
                }
            }
        }
        return position;
    }

    std::shared_ptr<Wirelog::d2xx::FakeUsb> fake = std::make_shared<Wirelog::d2xx::FakeUsb>();
};

} // namespace WirelogTest
