// SPDX-License-Identifier: MIT
// Which devices are modules, how the list names them, and what an entry opens.
#include "capture/Modules.h"
#include "SimControl.h"
#include "adapter/AdapterLibrary.h"
#include "capture/CaptureControl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

namespace Wirelog {
namespace {

using Entries = std::vector<std::string>;

TEST(ModulesTest, AnEntrysLeadingDigitsNameItsDevice) {
    EXPECT_EQ(LeadingDeviceIndex("12 (s/n SIM00001)"), 12);
    EXPECT_EQ(LeadingDeviceIndex("2147483647"), 2147483647);
    for (const char* none : {"", " 1 (s/n X)", "(s/n 1)", "2147483648"})
        EXPECT_EQ(LeadingDeviceIndex(none), std::nullopt) << none;
}

TEST(ModulesTest, OpenPortOpensTheEntrysDeviceAndClosePortClosesItOnce) {
    test::SimControl sim;
    sim.Configure("hw:off;dev:desc=other;dev:serial=M");
    AdapterLibrary library(test::kAdapterLibraryPath);
    CaptureControl capture(library, {});
    const Entries entries = capture.Load().entries;
    ASSERT_EQ(entries, Entries{"1 (s/n M)"});

    capture.OpenPort(entries[0]);
    ASSERT_TRUE(capture.IsPortOpen());
    capture.ClosePort();
    capture.ClosePort();
    EXPECT_FALSE(capture.IsPortOpen());
    EXPECT_EQ(sim.Stats(1).opens, 1u);
    EXPECT_EQ(sim.Stats(1).closes, 1u);
    EXPECT_EQ(sim.Stats(1).bytes_written, 0u) << "a test open sends no command";
}

// A listing adapter scripted per device: its description and serial, where nullptr fails the
// read and "!" throws, as a faulty adapter library surfaces as a C++ exception.
class ScriptedListing final : public Adapter {
public:
    const char* count = "";
    std::vector<std::pair<const char*, const char*>> devices;

    FT_STATUS ListDevices(PVOID arg1, PVOID arg2, DWORD flags) override {
        if (flags == FT_LIST_NUMBER_ONLY) {
            *static_cast<DWORD*>(arg1) = static_cast<DWORD>(devices.size());
            return Give(count, nullptr);
        }
        const auto& [description, serial] = devices.at(reinterpret_cast<std::uintptr_t>(arg1));
        return Give(flags & FT_OPEN_BY_DESCRIPTION ? description : serial,
                    static_cast<char*>(arg2));
    }
    FT_STATUS Open(int, FT_HANDLE*) override { return FT_OTHER_ERROR; }
    FT_STATUS Close(FT_HANDLE) override { return FT_OTHER_ERROR; }
    FT_STATUS SetLatencyTimer(FT_HANDLE, UCHAR) override { return FT_OTHER_ERROR; }
    FT_STATUS SetEventNotification(FT_HANDLE, DWORD, PVOID) override { return FT_OTHER_ERROR; }
    FT_STATUS GetQueueStatus(FT_HANDLE, DWORD*) override { return FT_OTHER_ERROR; }
    FT_STATUS Read(FT_HANDLE, LPVOID, DWORD, LPDWORD) override { return FT_OTHER_ERROR; }
    FT_STATUS Write(FT_HANDLE, LPVOID, DWORD, LPDWORD) override { return FT_OTHER_ERROR; }

private:
    static FT_STATUS Give(const char* text, char* out) {
        if (text == nullptr)
            return FT_IO_ERROR;
        if (std::strcmp(text, "!") == 0)
            throw std::runtime_error("adapter fault");
        if (out != nullptr)
            std::strcpy(out, text);
        return FT_OK;
    }
};

// A failed count lists nothing; a failed description leaves that device out; a failed serial
// read shows the buffer as it stands (the description just read); a thrown fault is a failure.
TEST(ModulesTest, FailedListingCallsLeaveOutWhatTheyCouldNotRead) {
    ScriptedListing adapter;
    adapter.devices = {{"wirlg000", "A"}};
    for (const char* count : {static_cast<const char*>(nullptr), "!"}) {
        adapter.count = count;
        const ModuleList list = ListModules(adapter);
        EXPECT_NE(list.countStatus, FT_OK);
        EXPECT_TRUE(list.entries.empty());
    }
    adapter.count = "";
    adapter.devices = {{"wirlg000", "A"},  {nullptr, "B"}, {"wirlg000", nullptr},
                       {"wirlg000x", "D"}, {"!", "E"},     {"wirlg000", "!"}};
    EXPECT_EQ(ListModules(adapter).entries,
              (Entries{"0 (s/n A)", "2 (s/n wirlg000)", "5 (s/n wirlg000)"}));
}

} // namespace
} // namespace Wirelog
