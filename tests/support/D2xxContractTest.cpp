// SPDX-License-Identifier: MIT
// What the program relies on from each D2XX call of the adapter library.
#include "SimFixture.h"
#include "adapter/NotifyEvent.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

using D2xxContract = SimFixture;

TEST_F(D2xxContract, ListsAndOpensDevicesInConfigurationOrder) {
    sim.Configure(
        "hw:off;dev:desc=WIRLG000,serial=A0;dev:serial=B1;dev:desc=wirlg0001;dev:serial=" +
        std::string(100, 'S'));
    ASSERT_EQ(Count(), 4u);
    const char* descriptions[] = {"WIRLG000", "wirlg000", "wirlg0001", "wirlg000"};
    const std::string serials[] = {"A0", "B1", "SIM00003", std::string(63, 'S')};
    char text[64];
    for (DWORD i = 0; i < 4; ++i) {
        for (const DWORD what : {FT_OPEN_BY_DESCRIPTION, FT_OPEN_BY_SERIAL_NUMBER}) {
            std::memset(text, 'X', sizeof text); // so a missing terminator shows
            ASSERT_EQ(lib.ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{i}), text,
                                      FT_LIST_BY_INDEX | what),
                      FT_STATUS{FT_OK});
            ASSERT_NE(std::memchr(text, '\0', sizeof text), nullptr);
            EXPECT_EQ(text, what == FT_OPEN_BY_DESCRIPTION ? descriptions[i] : serials[i]) << i;
        }
    }
    EXPECT_NE(lib.ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{4}), text,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK})
        << "beyond the last device";
    // Open by index reaches that device only, and only once at a time.
    const FT_HANDLE handle = OpenDevice(1);
    EXPECT_EQ(lib.SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
    EXPECT_EQ(sim.Stats(0).opens, 0u) << "another device opened";
    FT_HANDLE second = nullptr;
    EXPECT_EQ(lib.Open(1, &second), FT_STATUS{FT_DEVICE_NOT_OPENED});
    ASSERT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(sim.Stats(1).closes, 1u);
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
        EXPECT_EQ(lib.SetLatencyTimer(bad, 2), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.SetEventNotification(bad, FT_EVENT_RXCHAR, nullptr),
                  FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.GetQueueStatus(bad, &count), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.Read(bad, buffer, 0, &count), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.Write(bad, buffer, 2, &count), FT_STATUS{FT_INVALID_HANDLE});
    }
    EXPECT_NE(OpenDevice(0), gone) << "a closed handle's value is never handed out again";
}

TEST_F(D2xxContract, ArrivalSignalsTheRegisteredEventObject) {
    sim.Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    Wirelog::NotifyEvent event; // as the program makes it on each platform
    ASSERT_EQ(lib.SetEventNotification(handle, FT_EVENT_RXCHAR, event.Param()), FT_STATUS{FT_OK});
    ASSERT_TRUE(sim.Inject(0, {0x02}));
    EXPECT_TRUE(event.Wait(0ms));
    Write(handle, kStart);
    EXPECT_TRUE(event.Wait(0ms)) << "its code 0 is an arrival too";
    ASSERT_EQ(lib.SetEventNotification(handle, 0, event.Param()), FT_STATUS{FT_OK});
    ASSERT_TRUE(sim.Inject(0, {0x02}));
    EXPECT_FALSE(event.Wait(0ms)) << "mask cleared";
}

#ifndef _WIN32
// Not on Windows: the child is started from /proc/self/exe.
// An exit handler registered before the library's first use runs after the library's statics
// would have been destroyed; its calls must find the state alive (ASan reports it otherwise).
// A fresh process, so that no earlier test has used the library yet.
TEST(D2xxLifetime, CallsFromAnExitHandlerFindTheLibraryAlive) {
    static constexpr char kChildMark[] = "WIRELOG_EXIT_HANDLER_CHILD";
    if (std::getenv(kChildMark) != nullptr) {
        static auto* const library =
            new Wirelog::AdapterLibrary(Wirelog::test::kAdapterLibraryPath);
        std::atexit([] {
            DWORD count = 0;
            library->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
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

} // namespace
