// SPDX-License-Identifier: MIT
// The adapter library's D2XX calls as the program relies on them, and its simulated module
// (commands, stream, replay, configuration), through the program's own binding of the built
// file. The simulator's faults on demand are exercised through the program in the capture and
// command-line tests.
#include "SimControl.h"
#include "TestPlatform.h"
#include "adapter/AdapterLibrary.h"
#include "adapter/NotifyEvent.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
const Bytes kStart = {0x01, 0xFE};
const Bytes kStop = {0xF0, 0x0F};

// Simulated devices are numbered after the real ones; every test hides the real ones.
class D2xxContract : public ::testing::Test {
protected:
    void TearDown() override {
        for (FT_HANDLE handle : opened_)
            lib.Close(handle);
        sim.Configure("hw:off");
        std::remove(path_.c_str());
    }
    DWORD Count() {
        DWORD count = 0xDEAD;
        EXPECT_EQ(lib.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS{FT_OK});
        return count;
    }
    FT_HANDLE OpenDevice(int index) {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(lib.Open(index, &handle), FT_STATUS{FT_OK});
        EXPECT_NE(handle, nullptr);
        opened_.push_back(handle);
        return handle;
    }
    void Write(FT_HANDLE handle, Bytes command) {
        DWORD written = 0;
        ASSERT_EQ(lib.Write(handle, command.data(), static_cast<DWORD>(command.size()), &written),
                  FT_STATUS{FT_OK});
        ASSERT_EQ(written, command.size());
    }
    DWORD Queued(FT_HANDLE handle) {
        DWORD queued = 0;
        EXPECT_EQ(lib.GetQueueStatus(handle, &queued), FT_STATUS{FT_OK});
        return queued;
    }
    // Reads what is queued now, the way the reader does: never more than is waiting.
    Bytes ReadQueued(FT_HANDLE handle) {
        Bytes bytes(Queued(handle));
        DWORD got = 0;
        EXPECT_EQ(lib.Read(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got),
                  FT_STATUS{FT_OK});
        EXPECT_EQ(got, bytes.size());
        bytes.resize(got);
        return bytes;
    }

    std::string WriteFile(const std::string& text) {
        path_ = ::testing::TempDir() + "wirelog_sim_" + ProcessId() + ".txt";
        std::ofstream(path_) << text;
        return path_;
    }

    Wirelog::test::SimControl sim;
    Wirelog::AdapterLibrary lib{Wirelog::test::kAdapterLibraryPath};

private:
    std::vector<FT_HANDLE> opened_;
    std::string path_;
};

using SimModule = D2xxContract;

// A serial longer than the caller's buffer is cut and terminated. Which devices are modules, and
// in what order, the module list's tests check through the same calls.
TEST_F(D2xxContract, ListingCutsALongSerialAndADeviceOpensOnceAtATime) {
    sim.Configure("hw:off;dev:;dev:serial=" + std::string(100, 'S'));
    ASSERT_EQ(Count(), 2u);
    char text[64];
    std::memset(text, 'X', sizeof text); // so a missing terminator shows
    ASSERT_EQ(lib.ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{1}), text,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_STATUS{FT_OK});
    ASSERT_NE(std::memchr(text, '\0', sizeof text), nullptr);
    EXPECT_EQ(text, std::string(63, 'S'));
    EXPECT_NE(lib.ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{2}), text,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK})
        << "beyond the last device";
    // Open by index reaches that device only, and only once at a time.
    const FT_HANDLE handle = OpenDevice(1);
    EXPECT_EQ(lib.SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
    FT_HANDLE second = nullptr;
    EXPECT_EQ(lib.Open(1, &second), FT_STATUS{FT_DEVICE_NOT_OPENED});
    ASSERT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
    OpenDevice(1); // free again once closed
}

TEST_F(D2xxContract, AnUnpluggedDeviceFailsEveryCallButOneCloseThenItsHandleIsStale) {
    sim.Configure("hw:off;dev:serial=GONE,stream=idle;dev:serial=STAYS");
    for (int index : {-1, 2, 1 << 30}) {
        FT_HANDLE handle = nullptr;
        EXPECT_NE(lib.Open(index, &handle), FT_STATUS{FT_OK}) << index;
        EXPECT_EQ(handle, nullptr) << "a failed open leaves the handle alone";
    }
    const FT_HANDLE gone = OpenDevice(0);
    sim.Unplug(0);
    DWORD count = 0;
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(lib.GetQueueStatus(gone, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.Read(gone, buffer, 1, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.Write(gone, buffer, 2, &count), FT_STATUS{FT_IO_ERROR});
    EXPECT_EQ(lib.SetLatencyTimer(gone, 2), FT_STATUS{FT_IO_ERROR});
    ASSERT_EQ(Count(), 1u) << "an unplugged device leaves the list";
    char serial[64];
    ASSERT_EQ(lib.ListDevices(nullptr, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_STATUS{FT_OK});
    EXPECT_STREQ(serial, "STAYS");
    ASSERT_EQ(lib.Close(gone), FT_STATUS{FT_OK});
    int local = 0;
    for (FT_HANDLE bad : {FT_HANDLE{nullptr}, gone, FT_HANDLE{&local}}) {
        EXPECT_EQ(lib.Close(bad), FT_STATUS{FT_INVALID_HANDLE});
        // Every other call finds its port through the same lookup.
        EXPECT_EQ(lib.GetQueueStatus(bad, &count), FT_STATUS{FT_INVALID_HANDLE});
    }
    EXPECT_NE(OpenDevice(0), gone) << "a closed handle's value is never handed out again";
}

#ifndef _WIN32
// Not on Windows: the child is started from /proc/self/exe.
// An exit handler registered before the library's first use runs after the library's statics
// would have been destroyed; its calls must find the state alive (ASan reports it otherwise).
// A fresh process, so that no earlier test has used the library yet.
TEST(D2xxLifetime, CallsFromAnExitHandlerFindTheLibraryAlive) {
    static constexpr char kChildMark[] = "WIRELOG_EXIT_HANDLER_CHILD";
    if (std::getenv(kChildMark) != nullptr) {
        std::atexit([] {
            DWORD count = 0;
            Wirelog::AdapterLibrary(Wirelog::test::kAdapterLibraryPath)
                .ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
            Wirelog::test::SimControl().Configure("demo");
            std::_Exit(count == 0 ? 3 : 0);
        });
        Wirelog::test::SimControl().Configure("hw:off;dev:serial=A");
        std::exit(4);
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const int status = std::system(
        (std::string(kChildMark) + "=1 '" + self + "' --gtest_filter='D2xxLifetime.*'").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}
#endif

// A start command's code 0 arrives with the command, so a stream that began shows at once.
TEST_F(SimModule, StreamsAndSignalsArrivalFromTheStartCommandToTheStopCommandOnly) {
    sim.Configure("hw:off;dev:rate=200000");
    const FT_HANDLE handle = OpenDevice(0);
    Wirelog::NotifyEvent event; // as the program makes it on each platform
    ASSERT_EQ(lib.SetEventNotification(handle, FT_EVENT_RXCHAR, event.Param()), FT_STATUS{FT_OK});
    EXPECT_FALSE(event.Wait(0ms)) << "a module that was not started sent something";
    Write(handle, kStart);
    EXPECT_TRUE(event.Wait(0ms)) << "its code 0 is an arrival";
    ASSERT_TRUE(WaitFor([&] { return Queued(handle) >= 1000; }));
    EXPECT_TRUE(event.Wait(0ms)) << "and so are the stream's bytes";

    Write(handle, kStop);
    const WirelogSimStats stopped = sim.Stats(0);
    EXPECT_EQ(ReadQueued(handle).size(), stopped.bytes_queued) << "queued bytes stay readable";
    // Nothing may arrive, so there is no condition to wait on: a fixed quiet spell.
    const auto stop = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return Clock::now() - stop > 20ms; }));
    EXPECT_EQ(Queued(handle), 0u) << "sent after the stop command";
    ASSERT_EQ(lib.SetEventNotification(handle, 0, event.Param()), FT_STATUS{FT_OK});
    event.Wait(0ms); // whatever the stream signalled before its end
    Write(handle, kStart);
    EXPECT_FALSE(event.Wait(0ms)) << "mask cleared";
}

// A timed-batch recording, and a logic capture (a Wii Nunchuk's first write sampled at 1 MHz,
// its START at 645.807 ms and STOP at 646.743 ms) replayed through the bus monitor.
TEST_F(SimModule, ReplayGivesTheBytesNoEarlierThanTheirTimeAndBadConfigurationsFail) {
    const std::string capture = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init.vcd";
    const struct {
        std::string config;
        std::chrono::milliseconds last;
        Bytes bytes;
    } rows[] = {
        {"hw:off;dev:file=" + WriteFile("# a recorded capture\n0 00\n2140 05\n\n"
                                        "40000 01 07 A0 09\n40000 10\n90000 02\n150000\n"
                                        "150000 01 08 78 02\n"),
         150ms,
         {0x00, 0x05, 0x01, 0x07, 0xA0, 0x09, 0x10, 0x02, 0x01, 0x08, 0x78, 0x02}},
        {capture, 646ms, {0x00, 0x05, 0x01, 0x07, 0xA4, 0x09, 0x40, 0x09, 0x00, 0x02}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.config);
        sim.Configure(row.config);
        const FT_HANDLE handle = OpenDevice(0);
        const auto started = Clock::now();
        Write(handle, kStart);
        Bytes got;
        ASSERT_TRUE(WaitFor([&] {
            const Bytes more = ReadQueued(handle);
            got.insert(got.end(), more.begin(), more.end());
            return got.size() >= row.bytes.size();
        }));
        EXPECT_GE(Clock::now() - started, row.last) << "the last batch came before its time";
        EXPECT_EQ(got, row.bytes);
    }
    // The capture's lines by option or environment; a line the capture lacks gives no device.
    sim.Configure("hw:off;dev:file=" + capture + ",scl=0,sda=sda");
    static char sda[] = "WIRELOG_SIM_SDA=DATA", noSda[] = "WIRELOG_SIM_SDA=";
    putenv(sda);
    EXPECT_THROW(sim.Configure(capture), std::runtime_error);
    putenv(noSda);

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
