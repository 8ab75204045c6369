#pragma once
// The adapter library bound from its built file, as the program binds it, plus helpers the
// library tests share.
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace WirelogTest {

struct D2xxLibrary {
    decltype(&FT_ListDevices) ListDevices;
    decltype(&FT_Open) Open;
    decltype(&FT_Close) Close;
    decltype(&FT_SetLatencyTimer) SetLatencyTimer;
    decltype(&FT_SetEventNotification) SetEventNotification;
    decltype(&FT_GetQueueStatus) GetQueueStatus;
    decltype(&FT_Read) Read;
    decltype(&FT_Write) Write;
    decltype(&WirelogSim_Configure) Configure;
    decltype(&WirelogSim_DeviceCount) DeviceCount;
    decltype(&WirelogSim_SetFaults) SetFaults;
    decltype(&WirelogSim_Inject) Inject;
    decltype(&WirelogSim_Unplug) Unplug;
    decltype(&WirelogSim_GetStats) GetStats;

    // Loaded once per process and never unloaded, like the program's binding.
    static const D2xxLibrary& Get() {
        static const D2xxLibrary library = Load();
        return library;
    }

private:
    template <typename Function> static void Bind(void* module, const char* name, Function& f) {
        f = reinterpret_cast<Function>(dlsym(module, name));
        if (f == nullptr) {
            throw std::runtime_error(std::string("missing ") + name);
        }
    }

    static D2xxLibrary Load() {
        void* module = dlopen(WIRLG000_PATH, RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            throw std::runtime_error(dlerror());
        }
        D2xxLibrary l{};
        Bind(module, "FT_ListDevices", l.ListDevices);
        Bind(module, "FT_Open", l.Open);
        Bind(module, "FT_Close", l.Close);
        Bind(module, "FT_SetLatencyTimer", l.SetLatencyTimer);
        Bind(module, "FT_SetEventNotification", l.SetEventNotification);
        Bind(module, "FT_GetQueueStatus", l.GetQueueStatus);
        Bind(module, "FT_Read", l.Read);
        Bind(module, "FT_Write", l.Write);
        Bind(module, "WirelogSim_Configure", l.Configure);
        Bind(module, "WirelogSim_DeviceCount", l.DeviceCount);
        Bind(module, "WirelogSim_SetFaults", l.SetFaults);
        Bind(module, "WirelogSim_Inject", l.Inject);
        Bind(module, "WirelogSim_Unplug", l.Unplug);
        Bind(module, "WirelogSim_GetStats", l.GetStats);
        return l;
    }
};

inline const std::uint8_t kStart[] = {0x01, 0xFE};
inline const std::uint8_t kStop[] = {0xF0, 0x0F};

using Clock = std::chrono::steady_clock;

// Polls a real condition until it holds or the deadline passes.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Simulated devices are numbered after the real ones; every test hides the real ones.
class SimFixture : public ::testing::Test {
protected:
    const D2xxLibrary& lib = D2xxLibrary::Get();

    void Configure(const std::string& config) { ASSERT_EQ(lib.Configure(config.c_str()), 0); }

    void TearDown() override {
        for (FT_HANDLE handle : opened_) {
            lib.Close(handle);
        }
        lib.Configure("hw:off");
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

    void Write(FT_HANDLE handle, const std::uint8_t (&command)[2]) {
        DWORD written = 0;
        ASSERT_EQ(lib.Write(handle, const_cast<std::uint8_t*>(command), 2, &written),
                  FT_STATUS{FT_OK});
        ASSERT_EQ(written, 2u);
    }

    DWORD Queued(FT_HANDLE handle) {
        DWORD queued = 0;
        EXPECT_EQ(lib.GetQueueStatus(handle, &queued), FT_STATUS{FT_OK});
        return queued;
    }

    // Reads what is queued now, the way the reader does: never more than is waiting.
    std::vector<std::uint8_t> ReadQueued(FT_HANDLE handle) {
        std::vector<std::uint8_t> bytes(Queued(handle));
        DWORD got = 0;
        EXPECT_EQ(lib.Read(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &got),
                  FT_STATUS{FT_OK});
        EXPECT_EQ(got, bytes.size());
        bytes.resize(got);
        return bytes;
    }

    WirelogSimStats Stats(int device) {
        WirelogSimStats stats{};
        EXPECT_EQ(lib.GetStats(device, &stats), 0);
        return stats;
    }

private:
    std::vector<FT_HANDLE> opened_;
};

// Events in a module stream: one per code byte; codes 7 to 16 carry one value byte.
inline std::uint64_t CountEvents(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t events = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        ++events;
        if (bytes[i] >= 7 && bytes[i] <= 16) {
            ++i;
        }
    }
    return events;
}

} // namespace WirelogTest
