// SPDX-License-Identifier: MIT
// The simulated module: its commands, its stream, replay, and faults on demand, each fault
// surfacing as the status the program tests.
#include "D2xxLibrary.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

class SimModule : public SimFixture {
protected:
    std::string WriteFile(const std::string& text) {
        path_ = ::testing::TempDir() + "wirelog_sim_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::ofstream(path_) << text;
        return path_;
    }
    void TearDown() override {
        SimFixture::TearDown();
        std::remove(path_.c_str());
    }
    // Reads as the bytes come until at least `count` have come; false when they do not.
    bool ReadAtLeast(FT_HANDLE handle, std::size_t count, Bytes& got) {
        return WaitFor([&] {
            const Bytes more = ReadQueued(handle);
            got.insert(got.end(), more.begin(), more.end());
            return got.size() >= count;
        });
    }

private:
    std::string path_;
};

TEST_F(SimModule, StreamsFromTheStartCommandToTheStopCommandOnly) {
    Configure("hw:off;dev:rate=200000");
    const FT_HANDLE handle = OpenDevice(0);
    DWORD written = 0;
    // Mangled commands, then a start command split across two writes.
    std::uint8_t bytes[] = {0x01, 0xFF, 0xF0, 0x01, 0x0F, 0xFE, 0x0F, 0x01, 0xFE};
    ASSERT_EQ(lib.FT_Write(handle, bytes, 7, &written), FT_STATUS{FT_OK});
    EXPECT_EQ(written, 7u);
    const auto opened = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return Clock::now() - opened > 20ms; }));
    EXPECT_EQ(Queued(handle), 0u) << "a module that was not started sent something";
    ASSERT_EQ(lib.FT_Write(handle, bytes + 7, 1, &written), FT_STATUS{FT_OK});
    ASSERT_EQ(lib.FT_Write(handle, bytes + 8, 1, &written), FT_STATUS{FT_OK});
    ASSERT_TRUE(WaitFor([&] { return Queued(handle) >= 1000; }));
    EXPECT_EQ(ReadQueued(handle)[0], 0x00) << "code 0 first";
    EXPECT_EQ(Stats(0).streaming, 1u);

    Write(handle, kStop);
    const WirelogSimStats stopped = Stats(0);
    EXPECT_EQ(stopped.streaming, 0u);
    EXPECT_EQ(stopped.start_commands, 1u);
    EXPECT_EQ(stopped.stop_commands, 1u);
    EXPECT_EQ(stopped.bytes_written, 11u);
    EXPECT_EQ(ReadQueued(handle).size(), stopped.bytes_queued) << "queued bytes stay readable";
    EXPECT_EQ(stopped.bytes_read + stopped.bytes_queued, stopped.bytes_emitted);
    const auto after = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return Clock::now() - after > 20ms; }));
    EXPECT_EQ(Queued(handle), 0u) << "sent after the stop command";
}

TEST_F(SimModule, ReplayGivesTheFileBytesNoEarlierThanTheirStamps) {
    Configure("hw:off;dev:file=" + WriteFile("# a recorded capture\n0 00\n2140 05\n\n"
                                             "40000 01 07 A0 09\n40000 10\n90000 02\n150000\n"
                                             "150000 01 08 78 02\n"));
    const FT_HANDLE handle = OpenDevice(0);
    const auto started = Clock::now();
    Write(handle, kStart);
    Bytes got;
    ASSERT_TRUE(ReadAtLeast(handle, 12, got));
    EXPECT_GE(Clock::now() - started, 150ms) << "the last batch came before its stamp";
    EXPECT_EQ(got, (Bytes{0x00, 0x05, 0x01, 0x07, 0xA0, 0x09, 0x10, 0x02, 0x01, 0x08, 0x78, 0x02}));
    // 00, 05, 01, 07 A0, 09 10, 02, 01, 08 78, 02: events as the reader frames them.
    EXPECT_EQ(Stats(0).events_emitted, 9u);

    EXPECT_NE(lib.WirelogSim_Configure("hw:off;dev:file=/nonexistent/capture.txt"), 0);
    EXPECT_NE(lib.WirelogSim_Configure(("hw:off;dev:file=" + WriteFile("10 00\n5 01\n")).c_str()),
              0);
    EXPECT_NE(lib.WirelogSim_Configure("hw:off;dev:stream=replay"), 0) << "replay without a file";
}

TEST_F(SimModule, LogicCaptureReplaysThroughTheBusMonitorAtItsPace) {
    // A Wii Nunchuk's first write, sampled at 1 MHz: the bus idle at 100 us, the START at
    // 645.807 ms, the STOP at 646.743 ms.
    // (Its VCD export: builds without libzip refuse sessions.)
    const std::string capture = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init.vcd";
    Configure(capture);
    const FT_HANDLE handle = OpenDevice(0);
    const auto started = Clock::now();
    Write(handle, kStart);
    Bytes got;
    ASSERT_TRUE(ReadAtLeast(handle, 10, got));
    EXPECT_GE(Clock::now() - started, 646ms) << "the STOP came before its time";
    EXPECT_EQ(got, (Bytes{0x00, 0x05, 0x01, 0x07, 0xA4, 0x09, 0x40, 0x09, 0x00, 0x02}));
    EXPECT_EQ(Stats(0).events_emitted, 7u);

    // The lines by option or environment; a line the capture lacks gives no device.
    EXPECT_EQ(lib.WirelogSim_Configure(("hw:off;dev:file=" + capture + ",scl=0,sda=sda").c_str()),
              0);
    EXPECT_NE(lib.WirelogSim_Configure(("hw:off;dev:file=" + capture + ",scl=CLK").c_str()), 0);
#ifdef _WIN32
    _putenv_s("WIRELOG_SIM_SDA", "DATA");
#else
    setenv("WIRELOG_SIM_SDA", "DATA", 1);
#endif
    EXPECT_NE(lib.WirelogSim_Configure(capture.c_str()), 0);
#ifdef _WIN32
    _putenv_s("WIRELOG_SIM_SDA", "");
#else
    unsetenv("WIRELOG_SIM_SDA");
#endif
}

TEST_F(SimModule, FaultsFailOrShortenCallsWithoutLosingBytes) {
    const Bytes sent = {0x01, 0x07, 0xA0, 0x09, 0x11, 0x02};
    const struct {
        const char* fault;
        FT_STATUS status;
        DWORD got; // of the 5 bytes asked for
    } rows[] = {{"status=fail", FT_IO_ERROR, 0},
                {"read=fail", FT_IO_ERROR, 0},
                {"read=zero", FT_OK, 0},
                {"read=half", FT_OK, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        Configure("hw:off;dev:stream=idle");
        const FT_HANDLE handle = OpenDevice(0);
        ASSERT_EQ(lib.WirelogSim_Inject(0, sent.data(), 6), 0);
        ASSERT_EQ(lib.WirelogSim_SetFaults(0, row.fault), 0);
        Bytes buffer(5);
        DWORD got = 99;
        const bool onStatus = std::string(row.fault).starts_with("status");
        EXPECT_EQ(onStatus ? lib.FT_GetQueueStatus(handle, &got)
                           : lib.FT_Read(handle, buffer.data(), 5, &got),
                  row.status);
        EXPECT_EQ(got, row.got) << "a stale count would send the caller into a blocking read";
        ASSERT_EQ(lib.WirelogSim_SetFaults(0, ""), 0);
        const Bytes rest = ReadQueued(handle);
        buffer.resize(got);
        buffer.insert(buffer.end(), rest.begin(), rest.end());
        EXPECT_EQ(buffer, sent);
    }

    for (const char* bad : {"read=sometimes", "open=maybe", "unplug=x", "=1"})
        EXPECT_EQ(lib.WirelogSim_SetFaults(0, bad), -1) << bad;
    for (const char* bad : {"dev:colour=red", "dev:rate=1k", "dev:stream=fast", "hw:on", "dev:;x"})
        EXPECT_NE(lib.WirelogSim_Configure(bad), 0) << bad;
}

TEST_F(SimModule, AnUnpluggedDeviceFailsEveryCallButOneCloseAndLeavesTheList) {
    Configure("hw:off;dev:serial=GONE,stream=idle;dev:serial=STAYS");
    const FT_HANDLE handle = OpenDevice(0);
    ASSERT_EQ(lib.WirelogSim_Unplug(0), 0);
    DWORD count = 0;
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(lib.FT_GetQueueStatus(handle, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.FT_Read(handle, buffer, 1, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.FT_Write(handle, buffer, 2, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.FT_SetLatencyTimer(handle, 2), FT_STATUS{FT_IO_ERROR});
    ASSERT_EQ(Count(), 1u);
    char serial[64];
    ASSERT_EQ(lib.FT_ListDevices(nullptr, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_STATUS{FT_OK});
    EXPECT_STREQ(serial, "STAYS");
    EXPECT_EQ(lib.FT_Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(lib.FT_Close(handle), FT_STATUS{FT_INVALID_HANDLE});
}

} // namespace
