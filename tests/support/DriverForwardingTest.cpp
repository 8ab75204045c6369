// SPDX-License-Identifier: MIT
// On Windows, real modules are FTDI's driver's devices: the adapter library forwards listing,
// opening, notification, reads and closing to ftd2xx.dll. A stand-in driver built with the
// tests takes the place of the system's through the library's test hook.
#include "SimControl.h"
#include "adapter/AdapterLibrary.h"
#include "adapter/NotifyEvent.h"
#include "capture/Modules.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace Wirelog {
namespace {

using namespace std::chrono_literals;

TEST(DriverForwarding, ListingOpeningArrivalReadingAndClosingGoThroughTheDriver) {
    const std::filesystem::path driver = std::filesystem::absolute(WIRELOG_STAND_IN_DRIVER);
    ASSERT_TRUE(SetEnvironmentVariableW(L"WIRELOG_D2XX_DRIVER", driver.c_str()));
    test::SimControl().Configure(""); // no simulated devices; real ones are listed
    AdapterLibrary library(test::kAdapterLibraryPath);

    const ModuleList modules = ListModules(library);
    EXPECT_EQ(modules.entries, std::vector<std::string>{"1 (s/n FT000002)"});

    FT_HANDLE handle = nullptr;
    ASSERT_EQ(library.Open(1, &handle), FT_STATUS{FT_OK});

    NotifyEvent arrival; // CreateEventA, waited with WaitForSingleObject
    ASSERT_EQ(library.SetEventNotification(handle, FT_EVENT_RXCHAR, arrival.Param()),
              FT_STATUS{FT_OK});
    std::uint8_t start[2] = {0x01, 0xFE};
    DWORD count = 0;
    ASSERT_EQ(library.Write(handle, start, 2, &count), FT_STATUS{FT_OK});
    ASSERT_TRUE(arrival.Wait(10s)) << "the driver signals the program's event itself";
    ASSERT_EQ(library.GetQueueStatus(handle, &count), FT_STATUS{FT_OK});
    ASSERT_EQ(count, 2u);
    std::vector<std::uint8_t> bytes(2, 0xFF);
    ASSERT_EQ(library.Read(handle, bytes.data(), 2, &count), FT_STATUS{FT_OK});
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x00, 0x05}));

    EXPECT_EQ(library.Close(handle), FT_STATUS{FT_OK});
    EXPECT_NE(library.Read(handle, bytes.data(), 2, &count), FT_STATUS{FT_OK}) << "closed for good";
    ASSERT_EQ(library.Open(1, &handle), FT_STATUS{FT_OK}) << "the driver's device was closed";
    EXPECT_EQ(library.Close(handle), FT_STATUS{FT_OK});
}

} // namespace
} // namespace Wirelog
