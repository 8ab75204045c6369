// What the program relies on from each D2XX call, through the dlopen'ed library.
#include "D2xxLibrary.h"

#include <cstring>

using namespace WirelogTest;

namespace {

class D2xxContract : public SimFixture {
protected:
    // Fills the 64-byte buffer with garbage first, so a missing terminator shows.
    FT_STATUS Text(DWORD index, DWORD what, std::string& text) {
        char buffer[64];
        std::memset(buffer, 'X', sizeof buffer);
        const FT_STATUS status =
            lib.ListDevices(reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(index)), buffer,
                            FT_LIST_BY_INDEX | what);
        const void* end = std::memchr(buffer, '\0', sizeof buffer);
        if (status == FT_OK && end == nullptr) {
            ADD_FAILURE() << "no terminator within 64 bytes";
            return status;
        }
        text = status == FT_OK ? std::string(buffer) : std::string();
        return status;
    }
};

TEST_F(D2xxContract, ListsDescriptionsAndSerialsInConfigurationOrder) {
    Configure("hw:off;dev:desc=WIRLG000,serial=A0;dev:serial=B1;dev:desc=wirlg0001;dev:desc=");
    ASSERT_EQ(Count(), 4u);
    const char* descriptions[] = {"WIRLG000", "wirlg000", "wirlg0001", ""};
    const char* serials[] = {"A0", "B1", "SIM00003", "SIM00004"};
    for (DWORD i = 0; i < 4; ++i) {
        std::string text;
        EXPECT_EQ(Text(i, FT_OPEN_BY_DESCRIPTION, text), FT_STATUS{FT_OK});
        EXPECT_EQ(text, descriptions[i]) << i;
        EXPECT_EQ(Text(i, FT_OPEN_BY_SERIAL_NUMBER, text), FT_STATUS{FT_OK});
        EXPECT_EQ(text, serials[i]) << i;
    }
    std::string text;
    EXPECT_NE(Text(4, FT_OPEN_BY_DESCRIPTION, text), FT_STATUS{FT_OK});
    EXPECT_NE(Text(0xFFFFFFFF, FT_OPEN_BY_SERIAL_NUMBER, text), FT_STATUS{FT_OK});
}

TEST_F(D2xxContract, OverlongTextIsCutToFitTheBufferWithItsTerminator) {
    const std::string longSerial(100, 'S');
    Configure("hw:off;dev:serial=" + longSerial);
    ASSERT_EQ(Count(), 1u);
    std::string text;
    ASSERT_EQ(Text(0, FT_OPEN_BY_SERIAL_NUMBER, text), FT_STATUS{FT_OK});
    EXPECT_EQ(text, std::string(63, 'S'));
}

TEST_F(D2xxContract, ListAllFillsEveryBufferAndTheCount) {
    Configure("hw:off;dev:desc=one;dev:desc=two");
    char first[64];
    char second[64];
    char* buffers[] = {first, second, nullptr};
    DWORD count = 0;
    ASSERT_EQ(lib.ListDevices(buffers, &count, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK});
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(first, "one");
    EXPECT_STREQ(second, "two");
}

TEST_F(D2xxContract, BadArgumentsGiveAStatusNeverACrash) {
    Configure("hw:off;dev:");
    char buffer[64];
    EXPECT_NE(lib.ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS{FT_OK});
    EXPECT_NE(lib.ListDevices(nullptr, nullptr, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK});
    EXPECT_NE(lib.ListDevices(nullptr, buffer, FT_LIST_BY_INDEX | FT_OPEN_BY_LOCATION),
              FT_STATUS{FT_OK});
    EXPECT_NE(lib.ListDevices(nullptr, buffer, 0), FT_STATUS{FT_OK});
    EXPECT_NE(lib.ListDevices(nullptr, nullptr, FT_LIST_ALL | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK});

    EXPECT_NE(lib.Open(0, nullptr), FT_STATUS{FT_OK});
    for (int index : {-1, 1, 1 << 30}) {
        FT_HANDLE handle = nullptr;
        EXPECT_NE(lib.Open(index, &handle), FT_STATUS{FT_OK}) << index;
        EXPECT_EQ(handle, nullptr) << "a failed open leaves the handle alone";
    }

    const FT_HANDLE handle = OpenDevice(0);
    DWORD count = 0;
    EXPECT_NE(lib.GetQueueStatus(handle, nullptr), FT_STATUS{FT_OK});
    EXPECT_NE(lib.Read(handle, nullptr, 4, &count), FT_STATUS{FT_OK});
    EXPECT_NE(lib.Read(handle, buffer, 4, nullptr), FT_STATUS{FT_OK});
    EXPECT_NE(lib.Write(handle, nullptr, 2, &count), FT_STATUS{FT_OK});
    EXPECT_NE(lib.Write(handle, buffer, 2, nullptr), FT_STATUS{FT_OK});
    EXPECT_EQ(Stats(0).bytes_written, 0u) << "a rejected write reached the module";
}

TEST_F(D2xxContract, HandlesThatAreNullForgedOrClosedAreRejectedEverywhere) {
    Configure("hw:off;dev:");
    const FT_HANDLE closed = OpenDevice(0);
    ASSERT_EQ(lib.Close(closed), FT_STATUS{FT_OK});
    int local = 0;
    for (FT_HANDLE bad : {FT_HANDLE{nullptr}, closed, FT_HANDLE{&local}}) {
        DWORD count = 0;
        std::uint8_t buffer[4] = {};
        EXPECT_EQ(lib.Close(bad), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.SetLatencyTimer(bad, 2), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.SetEventNotification(bad, FT_EVENT_RXCHAR, nullptr),
                  FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.GetQueueStatus(bad, &count), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.Read(bad, buffer, 0, &count), FT_STATUS{FT_INVALID_HANDLE});
        EXPECT_EQ(lib.Write(bad, buffer, 2, &count), FT_STATUS{FT_INVALID_HANDLE});
    }
    // A new open never hands out the closed handle's value again.
    EXPECT_NE(OpenDevice(0), closed);
}

TEST_F(D2xxContract, OpenByIndexReachesThatDeviceOnlyAndOnlyOnce) {
    Configure("hw:off;dev:serial=A;dev:serial=B");
    ASSERT_EQ(Count(), 2u);
    const FT_HANDLE handle = OpenDevice(1);
    EXPECT_EQ(lib.SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
    EXPECT_EQ(Stats(0).open, 0u);
    EXPECT_EQ(Stats(1).open, 1u);

    FT_HANDLE second = nullptr;
    EXPECT_EQ(lib.Open(1, &second), FT_STATUS{FT_DEVICE_NOT_OPENED}) << "already open";
    EXPECT_EQ(second, nullptr);

    ASSERT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
    const WirelogSimStats stats = Stats(1);
    EXPECT_EQ(stats.open, 0u);
    EXPECT_EQ(stats.opens, 1u);
    EXPECT_EQ(stats.closes, 1u);
    OpenDevice(1); // free again once closed
}

TEST_F(D2xxContract, ReadWithinTheQueuedCountReturnsAtOnceWithThoseBytes) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    EXPECT_EQ(Queued(handle), 0u);
    std::vector<std::uint8_t> sent(40000);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_EQ(lib.Inject(0, sent.data(), static_cast<std::uint32_t>(sent.size())), 0);
    ASSERT_EQ(Queued(handle), 40000u);

    std::vector<std::uint8_t> got(32768, 0);
    DWORD returned = 0;
    ASSERT_EQ(lib.Read(handle, got.data(), 32764, &returned), FT_STATUS{FT_OK});
    ASSERT_EQ(returned, 32764u);
    EXPECT_EQ(Queued(handle), 40000u - 32764u);
    got.resize(returned);
    const std::vector<std::uint8_t> rest = ReadQueued(handle);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
    EXPECT_EQ(Queued(handle), 0u);
    ASSERT_EQ(lib.Read(handle, got.data(), 0, &returned), FT_STATUS{FT_OK});
    EXPECT_EQ(returned, 0u);
}

TEST_F(D2xxContract, ArrivalSignalsTheRegisteredEventObject) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    EVENT_HANDLE event;
    pthread_cond_init(&event.eCondVar, nullptr);
    pthread_mutex_init(&event.eMutex, nullptr);
    event.iVar = 0;
    const std::uint8_t byte = 0x02;

    ASSERT_EQ(lib.SetEventNotification(handle, FT_EVENT_RXCHAR, &event), FT_STATUS{FT_OK});
    ASSERT_EQ(lib.Inject(0, &byte, 1), 0);
    EXPECT_EQ(event.iVar, 1);

    event.iVar = 0;
    Write(handle, kStart); // the module's code 0 is an arrival too
    EXPECT_EQ(event.iVar, 1);

    event.iVar = 0;
    ASSERT_EQ(lib.SetEventNotification(handle, 0, &event), FT_STATUS{FT_OK});
    ASSERT_EQ(lib.Inject(0, &byte, 1), 0);
    EXPECT_EQ(event.iVar, 0) << "signalled after the mask was cleared";

    pthread_cond_destroy(&event.eCondVar);
    pthread_mutex_destroy(&event.eMutex);
}

TEST_F(D2xxContract, RealDevicesComeFirstAndEnumerateWithoutHardware) {
    Configure("dev:desc=sim-a;dev:desc=sim-b");
    const DWORD count = Count();
    ASSERT_GE(count, 2u);
    char text[64];
    ASSERT_EQ(lib.ListDevices(reinterpret_cast<PVOID>(std::uintptr_t{count - 1}), text,
                              FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK});
    EXPECT_STREQ(text, "sim-b");

    Configure("");
    DWORD real = 0xDEAD;
    ASSERT_EQ(lib.ListDevices(&real, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS{FT_OK});
    EXPECT_EQ(real, count - 2) << "the real devices are the same with or without simulated ones";
}

} // namespace
