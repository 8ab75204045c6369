// SPDX-License-Identifier: MIT
// The simulated module: its commands, its stream, replay and its configuration. Its faults on
// demand are exercised through the program in the capture and command-line tests.
#include "SimFixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

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
    // Nothing may arrive, so there is no condition to wait on: a fixed quiet spell.
    void ExpectQuiet(FT_HANDLE handle, const char* why) {
        const auto from = Clock::now();
        ASSERT_TRUE(WaitFor([&] { return Clock::now() - from > 20ms; }));
        EXPECT_EQ(Queued(handle), 0u) << why;
    }

private:
    std::string path_;
};

TEST_F(SimModule, StreamsFromTheStartCommandToTheStopCommandOnly) {
    sim.Configure("hw:off;dev:rate=200000");
    const FT_HANDLE handle = OpenDevice(0);
    // Mangled commands, then a start command split across two writes.
    Write(handle, {0x01, 0xFF, 0xF0, 0x01, 0x0F, 0xFE, 0x0F});
    ExpectQuiet(handle, "a module that was not started sent something");
    Write(handle, {0x01});
    Write(handle, {0xFE});
    ASSERT_TRUE(WaitFor([&] { return Queued(handle) >= 1000; }));
    EXPECT_EQ(ReadQueued(handle)[0], 0x00) << "code 0 first";

    Write(handle, kStop);
    const WirelogSimStats stopped = sim.Stats(0);
    EXPECT_EQ(ReadQueued(handle).size(), stopped.bytes_queued) << "queued bytes stay readable";
    EXPECT_EQ(stopped.bytes_read + stopped.bytes_queued, stopped.bytes_emitted);
    ExpectQuiet(handle, "sent after the stop command");
}

// A timed-batch recording, and a logic capture (a Wii Nunchuk's first write sampled at 1 MHz,
// its START at 645.807 ms and STOP at 646.743 ms) replayed through the bus monitor.
TEST_F(SimModule, ReplayGivesTheBytesNoEarlierThanTheirTime) {
    const std::string capture = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init.vcd";
    const struct {
        std::string config;
        std::chrono::milliseconds last;
        Bytes bytes;
        std::uint64_t events;
    } rows[] = {
        {"hw:off;dev:file=" + WriteFile("# a recorded capture\n0 00\n2140 05\n\n"
                                        "40000 01 07 A0 09\n40000 10\n90000 02\n150000\n"
                                        "150000 01 08 78 02\n"),
         150ms,
         {0x00, 0x05, 0x01, 0x07, 0xA0, 0x09, 0x10, 0x02, 0x01, 0x08, 0x78, 0x02},
         9},
        {capture, 646ms, {0x00, 0x05, 0x01, 0x07, 0xA4, 0x09, 0x40, 0x09, 0x00, 0x02}, 7},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.config);
        sim.Configure(row.config);
        const FT_HANDLE handle = OpenDevice(0);
        const auto started = Clock::now();
        Write(handle, kStart);
        Bytes got;
        ASSERT_TRUE(ReadAtLeast(handle, row.bytes.size(), got));
        EXPECT_GE(Clock::now() - started, row.last) << "the last batch came before its time";
        EXPECT_EQ(got, row.bytes);
        EXPECT_EQ(sim.Stats(0).events_emitted, row.events) << "events as the reader frames them";
    }
    // The capture's lines by option or environment; a line the capture lacks gives no device.
    sim.Configure("hw:off;dev:file=" + capture + ",scl=0,sda=sda");
    static char sda[] = "WIRELOG_SIM_SDA=DATA", noSda[] = "WIRELOG_SIM_SDA=";
    putenv(sda);
    EXPECT_THROW(sim.Configure(capture), std::runtime_error);
    putenv(noSda);
}

TEST_F(SimModule, BadConfigurationsAndFaultsAreRefused) {
    const std::string capture = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init.vcd";
    for (const std::string& bad : std::vector<std::string>{
             "hw:off;dev:file=/nonexistent/capture.txt",
             "hw:off;dev:file=" + WriteFile("10 00\n5 01\n"), "hw:off;dev:stream=replay",
             "hw:off;dev:file=" + capture + ",scl=CLK", "dev:colour=red", "dev:rate=1k",
             "dev:stream=fast", "hw:on", "dev:;x"})
        EXPECT_THROW(sim.Configure(bad), std::runtime_error) << bad;
    sim.Configure("hw:off;dev:");
    for (const char* bad : {"read=sometimes", "open=maybe", "unplug=x", "=1"})
        EXPECT_THROW(sim.SetFaults(0, bad), std::runtime_error) << bad;
}

} // namespace
