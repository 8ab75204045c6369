// WIRELOG_SIM=demo, read at the library's first use (ctest sets it for this process).
#include "D2xxLibrary.h"

using namespace WirelogTest;

namespace {

TEST(Environment, DemoGivesOneModuleListedAfterTheRealDevices) {
    const D2xxLibrary& lib = D2xxLibrary::Get();
    ASSERT_EQ(lib.DeviceCount(), 1);
    DWORD count = 0;
    ASSERT_EQ(lib.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS{FT_OK});
    ASSERT_GE(count, 1u);
    const auto last = reinterpret_cast<PVOID>(std::uintptr_t{count - 1});
    char text[64];
    ASSERT_EQ(lib.ListDevices(last, text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION),
              FT_STATUS{FT_OK});
    EXPECT_STREQ(text, "wirlg000");
    ASSERT_EQ(lib.ListDevices(last, text, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_STATUS{FT_OK});
    EXPECT_STREQ(text, "SIM00001");

    FT_HANDLE handle = nullptr;
    ASSERT_EQ(lib.Open(static_cast<int>(count - 1), &handle), FT_STATUS{FT_OK});
    EXPECT_EQ(lib.SetLatencyTimer(handle, 2), FT_STATUS{FT_OK});
    DWORD written = 0;
    ASSERT_EQ(lib.Write(handle, const_cast<std::uint8_t*>(kStart), 2, &written), FT_STATUS{FT_OK});
    // Code 0 at once, then the bus-idle report and traffic within milliseconds.
    DWORD queued = 0;
    ASSERT_TRUE(
        WaitFor([&] { return lib.GetQueueStatus(handle, &queued) == FT_OK && queued >= 20; }));
    std::uint8_t bytes[2] = {};
    DWORD got = 0;
    ASSERT_EQ(lib.Read(handle, bytes, 2, &got), FT_STATUS{FT_OK});
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x05);
    EXPECT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
}

} // namespace
