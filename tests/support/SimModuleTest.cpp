// The simulated module: commands, its stream and when the bytes become readable.
#include "D2xxLibrary.h"
#include "TimedBatchFile.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

using namespace WirelogTest;
using namespace std::chrono_literals;

namespace {

class SimModule : public SimFixture {
protected:
    std::string WriteFile(const std::string& text) {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = ::testing::TempDir() + "wirelog_sim_" + info->name() + ".txt";
        std::ofstream(path_) << text;
        return path_;
    }
    void TearDown() override {
        SimFixture::TearDown();
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }

private:
    std::string path_;
};

TEST_F(SimModule, StaysSilentUntilStartedThenSendsCodeZeroFirst) {
    Configure("hw:off;dev:rate=200000");
    const FT_HANDLE handle = OpenDevice(0);
    const auto opened = Clock::now();
    ASSERT_TRUE(WaitFor([&] { return Clock::now() - opened > 20ms; }));
    EXPECT_EQ(Queued(handle), 0u) << "a module that was not started sent something";

    Write(handle, kStart);
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(WaitFor([&] {
        const auto more = ReadQueued(handle);
        bytes.insert(bytes.end(), more.begin(), more.end());
        return bytes.size() >= 1000;
    }));
    EXPECT_EQ(bytes[0], 0x00);
    const WirelogSimStats stats = Stats(0);
    EXPECT_EQ(stats.start_commands, 1u);
    EXPECT_EQ(stats.streaming, 1u);
    EXPECT_EQ(stats.bytes_emitted, bytes.size() + stats.bytes_queued);
}

TEST_F(SimModule, StopEndsTheStreamButLeavesQueuedBytesReadable) {
    Configure("hw:off;dev:stream=replay,file=" + WriteFile("0 00 05\n100000 01 07 A0 02\n"));
    const FT_HANDLE handle = OpenDevice(0);
    Write(handle, kStart);
    ASSERT_TRUE(WaitFor([&] { return Queued(handle) == 2; }));
    Write(handle, kStop);
    const WirelogSimStats stats = Stats(0);
    EXPECT_EQ(stats.stop_commands, 1u);
    EXPECT_EQ(stats.streaming, 0u);
    // The second batch would have been due after 100 ms: let that time pass, and more.
    const auto stopped = Clock::now();
    ASSERT_TRUE(WaitFor([&] {
        EXPECT_EQ(Queued(handle), 2u);
        return Clock::now() - stopped > 150ms;
    }));
    EXPECT_EQ(ReadQueued(handle), (std::vector<std::uint8_t>{0x00, 0x05}));
}

TEST_F(SimModule, CommandsAreRecognisedWhenSplitAcrossWritesAndNotWhenMangled) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    DWORD written = 0;
    std::uint8_t first = 0x01;
    std::uint8_t second = 0xFE;
    ASSERT_EQ(lib.Write(handle, &first, 1, &written), FT_STATUS{FT_OK});
    ASSERT_EQ(lib.Write(handle, &second, 1, &written), FT_STATUS{FT_OK});
    std::uint8_t noise[] = {0x01, 0xFF, 0xF0, 0x01, 0x0F, 0xFE, 0x0F};
    ASSERT_EQ(lib.Write(handle, noise, sizeof noise, &written), FT_STATUS{FT_OK});
    EXPECT_EQ(written, sizeof noise);
    const WirelogSimStats stats = Stats(0);
    EXPECT_EQ(stats.start_commands, 1u);
    EXPECT_EQ(stats.stop_commands, 0u);
    EXPECT_EQ(stats.bytes_written, 2u + sizeof noise);
}

TEST_F(SimModule, ReplayGivesTheFileBytesNoEarlierThanTheirStamps) {
    const std::string file = "# a recorded capture\n"
                             "0 00\n"
                             "2140 05\n"
                             "\n"
                             "40000 01 07 A0 09\n"
                             "40000 10\n"
                             "90000 02\n"
                             "150000\n"
                             "150000 01 08 78 02\n";
    Configure("hw:off;dev:file=" + WriteFile(file));
    std::vector<Wirelog::TimedBatch> batches;
    Wirelog::BatchParseError error;
    ASSERT_TRUE(Wirelog::ParseTimedBatches(
        file,
        [&](const Wirelog::TimedBatch& batch) {
            batches.push_back(batch);
            return true;
        },
        error));
    std::vector<std::uint8_t> expected;
    std::vector<std::uint64_t> stampOfByte;
    for (const auto& batch : batches) {
        expected.insert(expected.end(), batch.bytes.begin(), batch.bytes.end());
        stampOfByte.insert(stampOfByte.end(), batch.bytes.size(), batch.timeStamp);
    }

    const FT_HANDLE handle = OpenDevice(0);
    const auto before = Clock::now();
    Write(handle, kStart);
    std::vector<std::uint8_t> got;
    std::vector<Clock::duration> readAt;
    ASSERT_TRUE(WaitFor([&] {
        const auto more = ReadQueued(handle);
        got.insert(got.end(), more.begin(), more.end());
        readAt.insert(readAt.end(), more.size(), Clock::now() - before);
        return got.size() >= expected.size();
    }));
    ASSERT_EQ(got, expected);
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_GE(readAt[i], std::chrono::microseconds(stampOfByte[i])) << "byte " << i;
    }
    EXPECT_EQ(Stats(0).events_emitted, CountEvents(expected));
}

TEST_F(SimModule, ReplayOfAnUnreadableOrMalformedFileIsRefused) {
    EXPECT_NE(lib.Configure("hw:off;dev:file=/nonexistent/capture.txt"), 0);
    EXPECT_NE(lib.Configure(("hw:off;dev:file=" + WriteFile("10 00\n5 01\n")).c_str()), 0);
    EXPECT_NE(lib.Configure("hw:off;dev:stream=replay"), 0) << "replay without a file";
}

TEST_F(SimModule, CountsEventsAsTheReaderFramesThem) {
    Configure("hw:off;dev:stream=idle");
    const FT_HANDLE handle = OpenDevice(0);
    Write(handle, kStart);
    // A code byte whose value comes in a later arrival, and a byte above the codes.
    const std::uint8_t first[] = {0x01, 0x07, 0xA0, 0x09};
    const std::uint8_t second[] = {0x55, 0x30, 0x02};
    ASSERT_EQ(lib.Inject(0, first, sizeof first), 0);
    EXPECT_EQ(ReadQueued(handle).size(), 1u + sizeof first);
    ASSERT_EQ(lib.Inject(0, second, sizeof second), 0);
    EXPECT_EQ(ReadQueued(handle).size(), sizeof second);
    const WirelogSimStats stats = Stats(0);
    EXPECT_EQ(stats.bytes_emitted, 8u);
    EXPECT_EQ(stats.events_emitted, 6u); // 00, 01, 07 A0, 09 55, 30, 02
    EXPECT_EQ(stats.bytes_read, 8u);
}

TEST_F(SimModule, AStartedModuleThatWasClosedGoesOnFromNowWhenReopened) {
    Configure("hw:off;dev:file=" + WriteFile("0 00\n50000 01 02\n400000 01 08 78 02\n"));
    FT_HANDLE handle = OpenDevice(0);
    const auto started = Clock::now();
    Write(handle, kStart);
    ASSERT_EQ(lib.Close(handle), FT_STATUS{FT_OK});
    ASSERT_TRUE(WaitFor([&] { return Clock::now() - started > 100ms; }));
    handle = OpenDevice(0);
    EXPECT_EQ(Stats(0).streaming, 1u) << "closing is not a stop command";
    // The bytes due while nobody listened are lost; the later batch still comes.
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(WaitFor([&] {
        const auto more = ReadQueued(handle);
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= 4;
    }));
    EXPECT_EQ(got, (std::vector<std::uint8_t>{0x01, 0x08, 0x78, 0x02}));
}

} // namespace
