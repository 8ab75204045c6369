// SPDX-License-Identifier: MIT
// What the program relies on from each D2XX call, through the dlopen'ed library.
#include "D2xxLibrary.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>

using namespace WirelogTest;

namespace {

using D2xxContract = SimFixture;

TEST_F(D2xxContract, ListsAndOpensDevicesInConfigurationOrder) {
    Configure("hw:off;dev:desc=WIRLG000,serial=A0;dev:serial=B1;dev:desc=wirlg0001;dev:serial=" +
              std::string(100, 'S'));
    ASSERT_EQ(Count(), 4u);
    const char* descriptions[] = {"WIRLG000", "wirlg000", "wirlg0001", "wirlg000"};
    const std::string serials[] = {"A0", "B1", "SIM00003", std::string(63, 'S')};
    for (DWORD i = 0; i < 5; ++i) {
        for (const DWORD what : {FT_OPEN_BY_DESCRIPTION, FT_OPEN_BY_SERIAL_NUMBER}) {
            char text[64];
            std::memset(text, 'X', sizeof text); // so a missing terminator shows
            const FT_STATUS status = lib.FT_ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{i}),
                                                        text, FT_LIST_BY_INDEX | what);
            if (i == 4) {
                EXPECT_NE(status, FT_STATUS{FT_OK}) << "beyond the last device";
                continue;
            }
            ASSERT_EQ(status, FT_STATUS{FT_OK});
            ASSERT_NE(std::memchr(text, '\0', sizeof text), nullptr);
            EXPECT_EQ(text, what == FT_OPEN_BY_DESCRIPTION ? descriptions[i] : serials[i]) << i;
        }
    }
    // Open by index reaches that device only, and only once at a time.
    const FT_HANDLE handle = OpenDevice(1);
    EXPECT_EQ(lib.FT_SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
    EXPECT_EQ(Stats(0).opens, 0u) << "another device opened";
    FT_HANDLE second = nullptr;
    EXPECT_EQ(lib.FT_Open(1, &second), FT_STATUS{FT_DEVICE_NOT_OPENED});
    ASSERT_EQ(lib.FT_Close(handle), FT_STATUS{FT_OK});
    EXPECT_EQ(Stats(1).closes, 1u);
    OpenDevice(1); // free again once closed
}

TEST_F(D2xxContract, BadArgumentsAndHandlesGiveAStatusNeverACrash) {
    Configure("hw:off;dev:");
    char buffer[64] = {};
    const struct {
        PVOID arg1, arg2;
        DWORD flags;
    } lists[] = {{nullptr, nullptr, FT_LIST_NUMBER_ONLY},
                 {nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION},
                 {nullptr, buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION},
                 {nullptr, buffer, 0},
                 {nullptr, nullptr, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION}};
    for (const auto& list : lists)
        EXPECT_NE(lib.FT_ListDevices(list.arg1, list.arg2, list.flags), FT_STATUS{FT_OK});
    EXPECT_NE(lib.FT_Open(0, nullptr), FT_STATUS{FT_OK});
    for (int index : {-1, 1, 1 << 30}) {
        FT_HANDLE handle = nullptr;
        EXPECT_NE(lib.FT_Open(index, &handle), FT_STATUS{FT_OK}) << index;
        EXPECT_EQ(handle, nullptr) << "a failed open leaves the handle alone";
    }

    const FT_HANDLE handle = OpenDevice(0);
    DWORD count = 0;
    EXPECT_NE(lib.FT_GetQueueStatus(handle, nullptr), FT_STATUS{FT_OK});
    EXPECT_NE(lib.FT_Read(handle, nullptr, 4, &count), FT_STATUS{FT_OK});
    EXPECT_NE(lib.FT_Read(handle, buffer, 4, nullptr), FT_STATUS{FT_OK});
    EXPECT_NE(lib.FT_Write(handle, nullptr, 2, &count), FT_STATUS{FT_OK});
    EXPECT_NE(lib.FT_Write(handle, buffer, 2, nullptr), FT_STATUS{FT_OK});
    EXPECT_EQ(Stats(0).bytes_written, 0u) << "a rejected write reached the module";

    const FT_HANDLE closed = handle;
    ASSERT_EQ(lib.FT_Close(closed), FT_STATUS{FT_OK});
    int local = 0;
    for (FT_HANDLE bad : {FT_HANDLE{nullptr}, closed, FT_HANDLE{&local}}) {
        EXPECT_EQ(lib.FT_Close(bad), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.FT_SetLatencyTimer(bad, 2), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.FT_SetEventNotification(bad, FT_EVENT_RXCHAR, nullptr),
                  FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.FT_GetQueueStatus(bad, &count), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.FT_Read(bad, buffer, 0, &count), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.FT_Write(bad, buffer, 2, &count), FT_STATUS{FT_INVALID_HANDLE});
    }
    EXPECT_NE(OpenDevice(0), closed) << "a closed handle's value is never handed out again";
}

TEST_F(D2xxContract, ReadWithinTheQueuedCountReturnsAtOnceWithThoseBytes) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    Bytes sent(40000);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_EQ(lib.WirelogSim_Inject(0, sent.data(), static_cast<std::uint32_t>(sent.size())), 0);
    ASSERT_EQ(Queued(handle), 40000u);
    Bytes got(32764);
    DWORD returned = 0;
    ASSERT_EQ(lib.FT_Read(handle, got.data(), 32764, &returned), FT_STATUS{FT_OK});
    ASSERT_EQ(returned, 32764u);
    EXPECT_EQ(Queued(handle), 40000u - 32764u);
    const Bytes rest = ReadQueued(handle);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
    ASSERT_EQ(lib.FT_Read(handle, got.data(), 0, &returned), FT_STATUS{FT_OK});
    EXPECT_EQ(returned, 0u);
}

TEST_F(D2xxContract, ArrivalSignalsTheRegisteredEventObject) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    EVENT_HANDLE event;
    pthread_cond_init(&event.eCondVar, nullptr);
    pthread_mutex_init(&event.eMutex, nullptr);
    const std::uint8_t byte = 0x02;
    const auto signalled = [&](auto arrive) {
        event.iVar = 0;
        arrive();
        return event.iVar;
    };
    ASSERT_EQ(lib.FT_SetEventNotification(handle, FT_EVENT_RXCHAR, &event), FT_STATUS{FT_OK});
    EXPECT_EQ(signalled([&] { lib.WirelogSim_Inject(0, &byte, 1); }), 1);
    EXPECT_EQ(signalled([&] { Write(handle, kStart); }), 1) << "its code 0 is an arrival too";
    ASSERT_EQ(lib.FT_SetEventNotification(handle, 0, &event), FT_STATUS{FT_OK});
    EXPECT_EQ(signalled([&] { lib.WirelogSim_Inject(0, &byte, 1); }), 0) << "mask cleared";
    pthread_cond_destroy(&event.eCondVar);
    pthread_mutex_destroy(&event.eMutex);
}

// An exit handler registered before the library's first use runs after the library's statics
// would have been destroyed; its calls must find the state alive (ASan reports it otherwise).
// A fresh process, so that no earlier test has used the library yet.
TEST(D2xxLifetime, CallsFromAnExitHandlerFindTheLibraryAlive) {
    static constexpr char kChildMark[] = "WIRELOG_EXIT_HANDLER_CHILD";
    if (std::getenv(kChildMark) != nullptr) {
        static D2xxLibrary* const library = new D2xxLibrary;
        std::atexit([] {
            DWORD count = 0;
            library->FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
            library->WirelogSim_Configure("demo");
            std::_Exit(count == 0 ? 3 : 0);
        });
        library->WirelogSim_Configure("hw:off;dev:serial=A");
        std::exit(4);
    }
    std::string filter = "--gtest_filter=D2xxLifetime.*";
    std::string self = "/proc/self/exe";
    char* argv[] = {self.data(), filter.data(), nullptr};
    std::vector<std::string> environment{std::string(kChildMark) + "=1"};
    for (char** variable = environ; *variable != nullptr; ++variable)
        environment.emplace_back(*variable);
    std::vector<char*> envp;
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
