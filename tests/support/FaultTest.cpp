// Faults on demand, each surfacing as the status the program tests.
#include "D2xxLibrary.h"

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

using Faults = SimFixture;

const std::uint8_t kBytes[] = {0x01, 0x07, 0xA0, 0x09, 0x11, 0x02};

TEST_F(Faults, OpenFailureLeavesTheHandleNullAndTheDeviceListed) {
    Configure("hw:off;dev:open=fail");
    EXPECT_EQ(Count(), 1u);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(lib.Open(0, &handle), FT_STATUS{FT_DEVICE_NOT_OPENED});
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(Stats(0).opens, 0u);

    ASSERT_EQ(lib.SetFaults(0, ""), 0);
    OpenDevice(0);
}

TEST_F(Faults, QueueStatusFailureReportsNothingQueued) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    ASSERT_EQ(lib.Inject(0, kBytes, sizeof kBytes), 0);
    ASSERT_EQ(lib.SetFaults(0, "status=fail"), 0);
    DWORD queued = 1234;
    EXPECT_EQ(lib.GetQueueStatus(handle, &queued), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(queued, 0u) << "a stale count would send the caller into a blocking read";
    ASSERT_EQ(lib.SetFaults(0, ""), 0);
    EXPECT_EQ(Queued(handle), sizeof kBytes) << "the bytes were kept";
}

TEST_F(Faults, ReadFaultsFailOrShortenWithoutLosingBytes) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    ASSERT_EQ(lib.Inject(0, kBytes, sizeof kBytes), 0);
    std::uint8_t buffer[sizeof kBytes] = {};
    DWORD got = 99;

    ASSERT_EQ(lib.SetFaults(0, "read=fail"), 0);
    EXPECT_EQ(lib.Read(handle, buffer, sizeof kBytes, &got), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(got, 0u);

    ASSERT_EQ(lib.SetFaults(0, "read=zero"), 0);
    got = 99;
    EXPECT_EQ(lib.Read(handle, buffer, sizeof kBytes, &got), FT_STATUS{FT_OK});
    EXPECT_EQ(got, 0u);

    ASSERT_EQ(lib.SetFaults(0, "read=half"), 0);
    EXPECT_EQ(lib.Read(handle, buffer, 5, &got), FT_STATUS{FT_OK});
    ASSERT_EQ(got, 2u);
    EXPECT_EQ(buffer[0], kBytes[0]);
    EXPECT_EQ(buffer[1], kBytes[1]);

    ASSERT_EQ(lib.SetFaults(0, ""), 0);
    EXPECT_EQ(Queued(handle), sizeof kBytes - 2);
    EXPECT_EQ(ReadQueued(handle),
              std::vector<std::uint8_t>(std::begin(kBytes) + 2, std::end(kBytes)));
}

TEST_F(Faults, BlockingReadTakesAtLeastItsTimeThenDelivers) {
    Configure("hw:off;dev:stream=idle,read=block,block_ms=300");
    const FT_HANDLE handle = OpenDevice(0);
    ASSERT_EQ(lib.Inject(0, kBytes, sizeof kBytes), 0);
    std::uint8_t buffer[sizeof kBytes] = {};
    DWORD got = 0;
    const auto before = Clock::now();
    EXPECT_EQ(lib.Read(handle, buffer, sizeof kBytes, &got), FT_STATUS{FT_OK});
    EXPECT_GE(Clock::now() - before, 300ms);
    EXPECT_EQ(got, sizeof kBytes);
}

TEST_F(Faults, AVanishedDeviceFailsEveryCallAndLeavesTheList) {
    Configure("hw:off;dev:serial=GONE,stream=idle;dev:serial=STAYS");
    const FT_HANDLE handle = OpenDevice(0);
    Write(handle, kStart);
    ASSERT_EQ(lib.Unplug(0), 0);

    DWORD count = 0;
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(lib.GetQueueStatus(handle, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.Read(handle, buffer, 1, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.Write(handle, buffer, 2, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.SetLatencyTimer(handle, 2), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(Stats(0).present, 0u);

    ASSERT_EQ(Count(), 1u);
    char serial[64];
    ASSERT_EQ(lib.ListDevices(nullptr, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_STATUS{FT_OK});
    EXPECT_STREQ(serial, "STAYS");

    EXPECT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(lib.Close(handle), FT_STATUS{FT_INVALID_HANDLE});
}

TEST_F(Faults, UnplugAfterABytesCountCutsTheStreamThere) {
    Configure("hw:off;dev:rate=1000000,unplug=5000");
    const FT_HANDLE handle = OpenDevice(0);
    Write(handle, kStart);
    std::uint64_t read = 0;
    ASSERT_TRUE(WaitFor([&] {
        DWORD queued = 0;
        if (lib.GetQueueStatus(handle, &queued) != FT_OK) {
            return true;
        }
        std::vector<std::uint8_t> buffer(queued);
        DWORD got = 0;
        if (lib.Read(handle, buffer.data(), queued, &got) == FT_OK) {
            read += got;
        }
        return false;
    }));
    EXPECT_LE(read, 5000u);
    EXPECT_EQ(Stats(0).bytes_emitted, 5000u);
    EXPECT_EQ(Count(), 0u);
}

TEST_F(Faults, ReconfiguringTurnsOldHandlesIntoVanishedDevices) {
    Configure("hw:off;dev:");
    const FT_HANDLE handle = OpenDevice(0);
    Configure("hw:off;dev:;dev:");
    DWORD queued = 0;
    EXPECT_EQ(lib.GetQueueStatus(handle, &queued), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(Count(), 2u);
    OpenDevice(0);
}

TEST_F(Faults, MalformedFaultsAndUnknownDevicesAreRejected) {
    Configure("hw:off;dev:");
    const WirelogSimStats before = Stats(0);
    for (const char* bad : {"read=sometimes", "open=maybe", "unplug=x", "nonsense", "=1"}) {
        EXPECT_EQ(lib.SetFaults(0, bad), -1) << bad;
    }
    EXPECT_EQ(lib.SetFaults(1, ""), -1);
    EXPECT_EQ(lib.SetFaults(-1, ""), -1);
    EXPECT_EQ(lib.SetFaults(0, nullptr), -1);
    EXPECT_EQ(lib.Inject(0, kBytes, sizeof kBytes), -1) << "injected into a closed device";
    EXPECT_EQ(lib.Unplug(3), -1);
    EXPECT_EQ(lib.GetStats(0, nullptr), -1);
    WirelogSimStats stats{};
    EXPECT_EQ(lib.GetStats(1, &stats), -1);
    EXPECT_EQ(Stats(0).present, before.present);
    OpenDevice(0); // a rejected fault text left the device as it was
}

} // namespace
