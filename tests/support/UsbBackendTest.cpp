// SPDX-License-Identifier: MIT
// Real-module code path through the public D2XX calls, with a fake FTDI chip in place of USB:
// the library's entry points are linked in and the fake is installed through SetUsbLayer.
#include "UsbBackendFixture.h"

#include <atomic>
#include <thread>

using namespace WirelogTest;
using Wirelog::d2xx::FakeChip;
using Wirelog::d2xx::FakeChipConfig;
using Wirelog::d2xx::FakeChipStats;

namespace {

FakeChipConfig Chip(std::uint8_t address, std::uint16_t product, int channels,
                    std::string description, std::optional<std::string> serial,
                    bool denied = false) {
    FakeChipConfig config;
    config.address = address;
    config.product = product;
    config.channels = channels;
    config.description = std::move(description);
    config.serial = std::move(serial);
    config.accessDenied = denied;
    return config;
}

struct ListingCase {
    const char* name;
    std::vector<FakeChipConfig> chips;
    std::vector<std::string> descriptions;
    std::vector<std::string> serials;
};

TEST_F(UsbBackend, ListsEveryChannelWithTheNamesD2xxGivesThem) {
    const ListingCase cases[] = {
        {"serial", {Chip(2, 0x6001, 1, "wirlg000", "FT01")}, {"wirlg000"}, {"FT01"}},
        {"no serial string", {Chip(2, 0x6001, 1, "wirlg000", std::nullopt)}, {"wirlg000"}, {""}},
        {"no access: kernel strings",
         {Chip(2, 0x6001, 1, "wirlg000", "FT01", true)},
         {"wirlg000"},
         {"FT01"}},
        {"two chips, one dual, any product id",
         {Chip(2, 0x6010, 2, "Dual RS232-HS", "FT77"), Chip(3, 0x7777, 1, "odd", "X1")},
         {"Dual RS232-HS A", "Dual RS232-HS B", "odd"},
         {"FT77A", "FT77B", "X1"}},
        {"quad channel",
         {Chip(4, 0x6011, 4, "Q", "S")},
         {"Q A", "Q B", "Q C", "Q D"},
         {"SA", "SB", "SC", "SD"}},
    };
    for (const ListingCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake->RemoveAll();
        for (const FakeChipConfig& chip : c.chips)
            fake->AddChip(chip);
        EXPECT_EQ(ListTexts(FT_OPEN_BY_DESCRIPTION), c.descriptions);
        EXPECT_EQ(ListTexts(FT_OPEN_BY_SERIAL_NUMBER), c.serials);
    }
}

TEST_F(UsbBackend, OpenTakesTheChosenChannelResetsTheChipAndGivesItBack) {
    const auto chip = fake->AddChip(Chip(2, 0x6010, 2, "Dual", "FT77"));
    ASSERT_EQ(DeviceCount(), 2u);
    FT_HANDLE handle = Open(1);
    EXPECT_EQ(FT_SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
    FakeChipStats stats = chip->Stats();
    EXPECT_EQ(stats.claimedChannel, 1);
    EXPECT_EQ(stats.bitModeResets, 1);
    EXPECT_EQ(stats.purges, 1);
    EXPECT_EQ(stats.latency, 2);
    EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(chip->Stats().releases, 1);
}

TEST_F(UsbBackend, OpenWithoutAccessFailsNamingTheUdevRule) {
    fake->AddChip(Chip(2, 0x6001, 1, "wirlg000", "FT01", true));
    ASSERT_EQ(DeviceCount(), 1u);
    FT_HANDLE handle = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(FT_Open(0, &handle), FT_STATUS{FT_DEVICE_NOT_OPENED});
    EXPECT_NE(testing::internal::GetCapturedStderr().find("70-wirelog.rules"), std::string::npos);
}

TEST_F(UsbBackend, OpenRefusesAnotherDeviceAtTheListedAddress) {
    const struct {
        const char* name;
        FakeChipConfig newcomer;
    } cases[] = {
        {"other serial", Chip(2, 0x6001, 1, "wirlg000", "FT02")},
        {"no serial", Chip(2, 0x6001, 1, "wirlg000", std::nullopt)},
        {"other product", Chip(2, 0x6014, 1, "wirlg000", "FT01")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake->RemoveAll();
        fake->AddChip(Chip(2, 0x6001, 1, "wirlg000", "FT01"));
        ASSERT_EQ(DeviceCount(), 1u);
        fake->RemoveAll();
        const auto newcomer = fake->AddChip(c.newcomer);
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(FT_Open(0, &handle), FT_STATUS{FT_DEVICE_NOT_FOUND});
        EXPECT_EQ(newcomer->Stats().takes, 0);
    }
}

TEST_F(UsbBackend, EveryByteArrivesOnceAndInOrder) {
    const struct {
        std::size_t packet;
        std::uint64_t bytes;
    } cases[] = {{64, 1 << 20}, {512, 4 << 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.packet);
        FakeChipConfig config;
        config.packetSize = c.packet;
        const std::uint64_t overrunsBefore = WirelogExt_OverrunCount();
        const auto [chip, handle] = OpenOnlyChip(config);
        chip->Stream(0, c.bytes);
        EXPECT_EQ(ReadPattern(handle, c.bytes), c.bytes);
        EXPECT_EQ(WirelogExt_OverrunCount(), overrunsBefore);
        EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
    }
}

// A transfer completes only when full or ended by a short packet; at a steady rate the chip
// always has a full packet, so a long transfer would hold bytes back until it filled.
TEST_F(UsbBackend, BytesAndTheEventComeInSmallPiecesAtEveryRate) {
    for (const double rate : {1000.0, 100000.0, 300000.0}) {
        SCOPED_TRACE(rate);
        FakeChipConfig config;
        config.bufferSize = 1 << 20; // a slow (sanitized) host must not overrun the chip here
        Event event;
        const auto [chip, handle] = OpenOnlyChip(config, &event);
        ASSERT_EQ(FT_SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
        chip->Stream(rate);
        ASSERT_TRUE(event.WaitSignalled());
        const auto tenth = static_cast<std::uint64_t>(rate / 10);
        EXPECT_EQ(ReadPattern(handle, tenth), tenth);
        EXPECT_LT(chip->Stats().largestTransfer, 1024u);
        EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
    }
}

// Close takes every submitted transfer back and ends a read waiting on another thread.
TEST_F(UsbBackend, CloseRacingAReaderEndsItsCallsWithAStatus) {
    const auto chip = fake->AddChip({});
    chip->Stream(200000);
    for (int round = 0; round < 10; ++round) {
        ASSERT_EQ(DeviceCount(), 1u);
        FT_HANDLE handle = Open(0);
        std::atomic<std::uint64_t> read{0};
        std::atomic<FT_STATUS> last{FT_OK};
        std::thread reader([&] {
            std::vector<std::uint8_t> buffer(4096);
            DWORD got = 0;
            // Asks for more than is queued, so the close usually meets a waiting read.
            while ((last = FT_Read(handle, buffer.data(), 4096, &got)) == FT_OK)
                read += got;
        });
        ASSERT_TRUE(WaitFor([&] { return read > 0; }));
        EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
        EXPECT_EQ(chip->PendingTransfers(), 0u);
        reader.join();
        EXPECT_EQ(last, FT_STATUS{FT_INVALID_HANDLE});
    }
    EXPECT_EQ(chip->Stats().releases, 10);
}

TEST_F(UsbBackend, UnplugLeavesReceivedBytesReadableThenEveryCallReportsIt) {
    const auto [chip, handle] = OpenOnlyChip();
    constexpr DWORD kBytes = 10000;
    chip->Stream(0, kBytes);
    DWORD queued = 0;
    ASSERT_TRUE(
        WaitFor([&] { return FT_GetQueueStatus(handle, &queued) == FT_OK && queued == kBytes; }));
    chip->Unplug();
    ASSERT_TRUE(WaitFor([&] { return chip->PendingTransfers() == 0; }));
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_STATUS{FT_OK});
    EXPECT_EQ(queued, kBytes);
    std::vector<std::uint8_t> buffer(2 * kBytes);
    DWORD count = 0;
    EXPECT_EQ(FT_Read(handle, buffer.data(), 2 * kBytes, &count), FT_STATUS{FT_OK});
    EXPECT_EQ(count, kBytes); // a short read at the end
    EXPECT_EQ(buffer[kBytes - 1], FakeChip::PatternByte(kBytes - 1));
    std::uint8_t byte = 0;
    EXPECT_EQ(FT_GetQueueStatus(handle, &queued), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(FT_Read(handle, &byte, 1, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(FT_Write(handle, &byte, 1, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(FT_SetLatencyTimer(handle, 2), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(DeviceCount(), 0u);
}

TEST_F(UsbBackend, OverrunsTheChipReportsAreCounted) {
    Event event;
    const auto [chip, handle] = OpenOnlyChip({}, &event);
    const std::uint64_t before = WirelogExt_OverrunCount();
    {
        // Holding the event's lock stalls the receive path at its next signal, as a host
        // that falls behind.
        std::unique_lock stall(event);
        chip->Stream(200000);
        ASSERT_TRUE(WaitFor([&] { return chip->Stats().bytesDropped > 0; }));
    }
    ASSERT_TRUE(WaitFor([&] { return WirelogExt_OverrunCount() > before; }));
    EXPECT_EQ(FT_Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(WirelogExt_OverrunCount() - before, chip->Stats().overrunPackets);
}

} // namespace
