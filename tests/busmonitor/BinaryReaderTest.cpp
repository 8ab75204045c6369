// SPDX-License-Identifier: MIT
// Raw logic samples: the two bits wherever they sit in units of any size, and streams that are
// not whole samples refused naming the problem. That samples are handed out as they arrive is
// the command line's (BinaryDecodeCli).
#include "busmonitor/BinaryReader.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using Changes = std::vector<BusLevels>;

Changes ReadAll(CaptureReader& reader) {
    Changes all;
    for (Changes block; reader.Read(block);)
        all.insert(all.end(), block.begin(), block.end());
    return all;
}

const fs::path kScratch = fs::temp_directory_path() / ("wirelog-raw-" + WirelogTest::ProcessId());

std::string Scratch(const std::string& bytes) {
    std::ofstream(kScratch, std::ios::binary) << bytes;
    return kScratch.string();
}

// A shared capture's changes laid out as samples, the two bits among noise on every other bit,
// come back as they were, at the capture's length.
TEST(BinaryReader, GivesTheChangesOfTheTwoBitsWhereverTheySit) {
    const std::string vcd = WIRELOG_TEST_DATA "/braintechnology_usb_lps_powerup.vcd";
    auto source = OpenCapture(vcd);
    source->SelectChannels(ResolveChannel(source->Info(), "pb2/scl", vcd), 1);
    const Changes expected = ReadAll(*source);
    ASSERT_GT(expected.size(), 250u);
    std::mt19937 noise(7);
    for (const auto& [unit, scl, sda] : {std::tuple{1u, 0u, 1u}, {1u, 7u, 3u}, {3u, 17u, 2u}}) {
        std::string bytes;
        for (std::size_t sample = 0, next = 0; sample < source->EndSample(); ++sample) {
            next += next < expected.size() && expected[next].sample == sample;
            std::string unitBytes(unit, '\0');
            for (char& byte : unitBytes)
                byte = static_cast<char>(noise());
            // Channel k is bit k of a little-endian unit.
            for (const auto& [k, high] :
                 {std::pair{scl, expected[next - 1].scl}, {sda, expected[next - 1].sda}})
                unitBytes[k / 8] = static_cast<char>(high ? unitBytes[k / 8] | 1 << k % 8
                                                          : unitBytes[k / 8] & ~(1 << k % 8));
            bytes += unitBytes;
        }
        auto reader = OpenBinaryCapture(Scratch(bytes), {12'000'000, unit});
        reader->SelectChannels(scl, sda);
        EXPECT_TRUE(ReadAll(*reader) == expected) << unit << " bytes, SCL " << scl;
        EXPECT_EQ(reader->EndSample(), source->EndSample());
        EXPECT_EQ(reader->Info().channels.size(), unit * 8);
    }
    fs::remove(kScratch);
}

TEST(BinaryReader, RefusesWhatIsNoWholeSamplesAndReadsSigrokRates) {
    for (const auto& [bytes, layout, problem] :
         {std::tuple{"\1\2\3\4\5", BinaryLayout{1000, 2}, "ends inside a sample: its 5 bytes"},
          {"", {1000, 1}, "holds no samples"},
          {"\1", {0, 1}, "raw samples need a sample rate"},
          {"\1", {1000, 0}, "a unit of 0 bytes is out of range"}}) {
        const std::string path = Scratch(bytes);
        try {
            ReadAll(*OpenBinaryCapture(path, layout));
            ADD_FAILURE() << "no error, expected " << problem;
        } catch (const CaptureError& error) {
            EXPECT_EQ(std::string(error.what()).find(path + ": " + problem), 0u) << error.what();
        }
    }
    fs::remove(kScratch);
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

} // namespace
} // namespace Wirelog
