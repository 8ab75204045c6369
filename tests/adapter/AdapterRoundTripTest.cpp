// Every adapter call through the binding into the real adapter library and its simulated
// modules: what goes in arrives, what comes back is what the caller relies on.
#include "AdapterLibrary.h"
#include "NotifyEvent.h"
#include "SimControl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Wirelog {
namespace {

using namespace std::chrono_literals;

class AdapterRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim.Configure("hw:off;dev:serial=FIRST,stream=idle;dev:desc=other,serial=SECOND;"
                      "dev:open=fail");
    }

    std::string Text(std::uint32_t index, DWORD which, FT_STATUS& status) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        status = library.ListDevices(reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(index)),
                                     buffer, FT_LIST_BY_INDEX | which);
        return std::string(buffer, strnlen(buffer, sizeof buffer));
    }

    test::SimControl sim;
    std::vector<std::string> reports;
    AdapterLibrary library{test::kAdapterLibraryPath,
                           [this](const std::string& text) { reports.push_back(text); }};
};

TEST_F(AdapterRoundTripTest, ListsCountDescriptionsAndSerials) {
    DWORD count = 0;
    ASSERT_EQ(library.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 3u);

    FT_STATUS status;
    EXPECT_EQ(Text(0, FT_OPEN_BY_DESCRIPTION, status), "wirlg000");
    EXPECT_EQ(status, FT_OK);
    EXPECT_EQ(Text(0, FT_OPEN_BY_SERIAL_NUMBER, status), "FIRST");
    EXPECT_EQ(Text(1, FT_OPEN_BY_DESCRIPTION, status), "other");
    EXPECT_EQ(Text(1, FT_OPEN_BY_SERIAL_NUMBER, status), "SECOND");
    Text(3, FT_OPEN_BY_DESCRIPTION, status);
    EXPECT_NE(status, FT_OK) << "an index past the end";
    EXPECT_TRUE(reports.empty());
}

TEST_F(AdapterRoundTripTest, OpenCommandReceiveAndClose) {
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(library.Open(0, &handle), FT_OK);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(library.SetLatencyTimer(handle, 2), FT_OK);

    NotifyEvent event;
    EXPECT_EQ(library.SetEventNotification(handle, FT_EVENT_RXCHAR, event.Param()), FT_OK);
    std::uint8_t start[2] = {0x01, 0xFE};
    DWORD written = 0;
    ASSERT_EQ(library.Write(handle, start, 2, &written), FT_OK);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(sim.Stats(0).start_commands, 1u);

    // The start command's code 0 arrives, then what the module is made to send.
    ASSERT_TRUE(event.Wait(10s)) << "the library signals our event object on arrival";
    ASSERT_TRUE(sim.Inject(0, {0x07, 0xA0, 0x02}));
    DWORD queued = 0;
    ASSERT_EQ(library.GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(queued, 4u);
    std::uint8_t buffer[8] = {};
    DWORD received = 0;
    ASSERT_EQ(library.Read(handle, buffer, queued, &received), FT_OK);
    ASSERT_EQ(received, 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 4),
              (std::vector<std::uint8_t>{0x00, 0x07, 0xA0, 0x02}));

    std::uint8_t stop[2] = {0xF0, 0x0F};
    library.Write(handle, stop, 2, &written);
    EXPECT_EQ(sim.Stats(0).stop_commands, 1u);
    EXPECT_EQ(library.Close(handle), FT_OK);
    EXPECT_EQ(sim.Stats(0).open, 0u);
    EXPECT_NE(library.GetQueueStatus(handle, &queued), FT_OK) << "a closed handle";
    EXPECT_TRUE(reports.empty());
}

TEST_F(AdapterRoundTripTest, FailuresSurfaceAsStatuses) {
    FT_HANDLE handle = nullptr;
    EXPECT_NE(library.Open(2, &handle), FT_OK);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(library.Open(7, &handle), FT_OK);

    ASSERT_EQ(library.Open(0, &handle), FT_OK);
    sim.SetFaults(0, "status=fail,read=fail");
    DWORD queued = 0;
    EXPECT_NE(library.GetQueueStatus(handle, &queued), FT_OK);
    std::uint8_t buffer[4];
    DWORD received = 0;
    EXPECT_NE(library.Read(handle, buffer, 1, &received), FT_OK);
    library.Close(handle);
}

} // namespace
} // namespace Wirelog
