// SPDX-License-Identifier: MIT
#pragma once
// The simulated modules through the program's own binding of the adapter library file, and
// their test controls from that same file.
#include "SimControl.h"
#include "TestPlatform.h"
#include "adapter/AdapterLibrary.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace WirelogTest {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
inline const Bytes kStart = {0x01, 0xFE};
inline const Bytes kStop = {0xF0, 0x0F};

// Simulated devices are numbered after the real ones; every test hides the real ones.
class SimFixture : public ::testing::Test {
protected:
    void TearDown() override {
        for (FT_HANDLE handle : opened_)
            lib.Close(handle);
        sim.Configure("hw:off");
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

    Wirelog::test::SimControl sim;
    Wirelog::AdapterLibrary lib{Wirelog::test::kAdapterLibraryPath};

private:
    std::vector<FT_HANDLE> opened_;
};

} // namespace WirelogTest
