// SPDX-License-Identifier: MIT
#pragma once
// The adapter library bound from its built file, as the program binds it, and the fixture the
// library tests share.
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include "TestPlatform.h"
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace WirelogTest {

// The file is loaded once per process and never unloaded, like the program's binding.
template <class Function> Function Bind(const char* name) {
    static void* const module = OpenLibraryFile(WIRLG000_PATH);
    void* const address = LibrarySymbol(module, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("cannot bind ") + name);
    return reinterpret_cast<Function>(address);
}

#define WIRELOG_BIND(name) const decltype(&::name) name = Bind<decltype(&::name)>(#name)
struct D2xxLibrary {
    WIRELOG_BIND(FT_ListDevices);
    WIRELOG_BIND(FT_Open);
    WIRELOG_BIND(FT_Close);
    WIRELOG_BIND(FT_SetLatencyTimer);
    WIRELOG_BIND(FT_SetEventNotification);
    WIRELOG_BIND(FT_GetQueueStatus);
    WIRELOG_BIND(FT_Read);
    WIRELOG_BIND(FT_Write);
    WIRELOG_BIND(WirelogSim_Configure);
    WIRELOG_BIND(WirelogSim_SetFaults);
    WIRELOG_BIND(WirelogSim_Inject);
    WIRELOG_BIND(WirelogSim_Unplug);
    WIRELOG_BIND(WirelogSim_GetStats);

    static const D2xxLibrary& Get() {
        static const D2xxLibrary library;
        return library;
    }
};
#undef WIRELOG_BIND

inline const std::uint8_t kStart[] = {0x01, 0xFE};
inline const std::uint8_t kStop[] = {0xF0, 0x0F};
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

// Simulated devices are numbered after the real ones; every test hides the real ones.
class SimFixture : public ::testing::Test {
protected:
    const D2xxLibrary& lib = D2xxLibrary::Get();

    void Configure(const std::string& config) {
        ASSERT_EQ(lib.WirelogSim_Configure(config.c_str()), 0);
    }
    void TearDown() override {
        for (FT_HANDLE handle : opened_)
            lib.FT_Close(handle);
        lib.WirelogSim_Configure("hw:off");
    }
    DWORD Count() {
        DWORD count = 0xDEAD;
        EXPECT_EQ(lib.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_STATUS{FT_OK});
        return count;
    }
    FT_HANDLE OpenDevice(int index) {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(lib.FT_Open(index, &handle), FT_STATUS{FT_OK});
        EXPECT_NE(handle, nullptr);
        opened_.push_back(handle);
        return handle;
    }
    void Write(FT_HANDLE handle, const std::uint8_t (&command)[2]) {
        DWORD written = 0;
        ASSERT_EQ(lib.FT_Write(handle, const_cast<std::uint8_t*>(command), 2, &written),
                  FT_STATUS{FT_OK});
        ASSERT_EQ(written, 2u);
    }
    DWORD Queued(FT_HANDLE handle) {
        DWORD queued = 0;
        EXPECT_EQ(lib.FT_GetQueueStatus(handle, &queued), FT_STATUS{FT_OK});
        return queued;
    }
    // Reads what is queued now, the way the reader does: never more than is waiting.
    Bytes ReadQueued(FT_HANDLE handle) {
        Bytes bytes(Queued(handle));
        DWORD got = 0;
        EXPECT_EQ(lib.FT_Read(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got),
                  FT_STATUS{FT_OK});
        EXPECT_EQ(got, bytes.size());
        bytes.resize(got);
        return bytes;
    }
    WirelogSimStats Stats(int device) {
        WirelogSimStats stats{};
        EXPECT_EQ(lib.WirelogSim_GetStats(device, &stats), 0);
        return stats;
    }

private:
    std::vector<FT_HANDLE> opened_;
};

} // namespace WirelogTest
