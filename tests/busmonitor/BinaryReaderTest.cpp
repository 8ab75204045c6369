// SPDX-License-Identifier: MIT
// Raw logic samples: the two bits wherever they sit in units of any size, samples handed out as
// they arrive, and streams that are not whole samples refused naming the problem.
#include "busmonitor/BinaryReader.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using Changes = std::vector<BusLevels>;

const fs::path kScratch = fs::temp_directory_path() / ("wirelog-raw-" + WirelogTest::ProcessId());

Changes ReadAll(CaptureReader& reader) {
    Changes all;
    for (Changes block; reader.Read(block);)
        all.insert(all.end(), block.begin(), block.end());
    return all;
}

std::string WriteScratch(const std::string& bytes) {
    fs::create_directories(kScratch);
    const fs::path path = kScratch / "samples.bin";
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

// A shared capture's changes laid out as samples, the two bits among noise on every other bit,
// come back as they were, at the sample count the capture has.
TEST(BinaryReader, GivesTheChangesOfTheTwoBitsWhereverTheySit) {
    const std::string vcd =
        (fs::path(WIRELOG_TEST_DATA) / "braintechnology_usb_lps_powerup.vcd").string();
    auto source = OpenCapture(vcd);
    source->SelectChannels(ResolveChannel(source->Info(), "pb2/scl", vcd), 1);
    const Changes expected = ReadAll(*source);
    const std::uint64_t samples = source->EndSample();
    ASSERT_GT(expected.size(), 250u);
    std::mt19937 noise(7);
    for (const auto& [unit, scl, sda] : {std::tuple{1u, 0u, 1u}, {1u, 7u, 3u}, {3u, 17u, 2u}}) {
        std::string bytes;
        for (std::uint64_t sample = 0, next = 0; sample < samples; ++sample) {
            next += next < expected.size() && expected[next].sample == sample;
            std::string unitBytes(unit, '\0');
            for (char& byte : unitBytes)
                byte = static_cast<char>(noise());
            for (const auto& [line, high] :
                 {std::pair{scl, expected[next - 1].scl}, {sda, expected[next - 1].sda}}) {
                // Channel k is bit k of a little-endian unit.
                const char bit = static_cast<char>(1 << line % 8);
                unitBytes[line / 8] = static_cast<char>(high ? unitBytes[line / 8] | bit
                                                             : unitBytes[line / 8] & ~bit);
            }
            bytes += unitBytes;
        }
        auto reader = OpenBinaryCapture(WriteScratch(bytes), {12'000'000, unit});
        reader->SelectChannels(scl, sda);
        EXPECT_TRUE(ReadAll(*reader) == expected) << unit << " bytes, SCL " << scl;
        EXPECT_EQ(reader->EndSample(), samples);
        EXPECT_EQ(reader->Info().channels.size(), unit * 8);
        EXPECT_DOUBLE_EQ(reader->Progress(), 1.0);
    }
    fs::remove_all(kScratch);
}

TEST(BinaryReader, RefusesWhatIsNoWholeSamplesAndReadsSigrokRates) {
    const struct {
        std::string bytes;
        BinaryLayout layout;
        const char* problem;
    } cases[] = {
        {"\1\2\3\4\5", {1000, 2}, "ends inside a sample: its 5 bytes are no whole number"},
        {"", {1000, 1}, "holds no samples"},
        {"\1", {0, 1}, "raw samples need a sample rate"},
        {"\1", {1000, 0}, "a unit of 0 bytes is out of range"},
    };
    for (const auto& c : cases) {
        const std::string path = WriteScratch(c.bytes);
        try {
            auto reader = OpenBinaryCapture(path, c.layout);
            ReadAll(*reader);
            ADD_FAILURE() << "no error, expected " << c.problem;
        } catch (const CaptureError& error) {
            EXPECT_EQ(std::string(error.what()).find(path + ": " + c.problem), 0u) << error.what();
        }
    }
    fs::remove_all(kScratch);
    for (const auto& [text, rate] : {std::pair{"4m", 4'000'000ull},
                                     {"500k", 500'000ull},
                                     {"1.5M", 1'500'000ull},
                                     {"2 MHz", 2'000'000ull},
                                     {"8000000", 8'000'000ull},
                                     {"1g", 1'000'000'000ull}})
        EXPECT_EQ(ParseSigrokRate(text), rate) << text;
    for (const char* bad : {"0", "0m", "4x", "m", "", "1.5"})
        EXPECT_FALSE(ParseSigrokRate(bad)) << bad;
}

#ifndef _WIN32
// Samples that have arrived are handed out without waiting for more: with the pipe made
// non-blocking, a reader that asked again before returning would fail instead of waiting.
TEST(BinaryReader, HandsOutWhatHasArrivedWithoutWaitingForMore) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int savedInput = dup(0);
    dup2(fds[0], 0);
    fcntl(0, F_SETFL, O_NONBLOCK);
    bool stop = false;
    auto reader = OpenBinaryCapture("-", {1000, 1}, [&] { return stop; });
    ASSERT_EQ(write(fds[1], "\3\3\1\0", 4), 4);
    Changes block;
    EXPECT_TRUE(reader->Read(block));
    EXPECT_TRUE(block == (Changes{{0, true, true}, {2, true, false}, {3, false, false}}));
    EXPECT_EQ(reader->SettledSample(), 4u);
    stop = true; // a stop asked for ends the input before the next read
    EXPECT_FALSE(reader->Read(block));
    dup2(savedInput, 0);
    for (const int fd : {savedInput, fds[0], fds[1]})
        close(fd);
}
#endif

} // namespace
} // namespace Wirelog
