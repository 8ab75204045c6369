// SPDX-License-Identifier: MIT
// Sessions as the fast path reads them: the changes agree with a plain scan of zlib's output,
// damaged sample entries are refused by both inflaters, the vector scan stops at the first
// differing word wherever it lies, and blocks made ahead arrive in order in bounded memory.
#include "busmonitor/SessionInflate.h"
#include "TestPlatform.h"
#include "busmonitor/BlockPipeline.h"
#include "busmonitor/CaptureReader.h"
#include "busmonitor/ChangeScan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#ifdef WIRELOG_HAVE_LIBZIP
#include <zip.h>
#include <zlib.h>
#endif

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using Changes = std::vector<BusLevels>;

TEST(CountSameWords, StopsAtTheFirstWordDifferingInTheMaskWhereverItLies) {
    constexpr std::uint64_t kSame = 0x0303030303030303, kMask = 0x0101010101010101;
    for (std::size_t words = 0; words <= 70; ++words) {
        // One spare byte in front: the scan takes words at any alignment.
        std::vector<unsigned char> data(words * 8 + 1);
        for (std::size_t i = 0; i < words; ++i)
            std::memcpy(&data[1 + i * 8], &kSame, 8);
        EXPECT_EQ(CountSameWords(&data[1], words, kSame, kMask), words);
        for (std::size_t at = 0; at < words; ++at) {
            data[1 + at * 8 + 5] ^= 0x02; // outside the mask: still the same
            EXPECT_EQ(CountSameWords(&data[1], words, kSame, kMask), words);
            data[1 + at * 8 + 7] ^= 0x01;
            EXPECT_EQ(CountSameWords(&data[1], words, kSame, kMask), at) << words;
            data[1 + at * 8 + 5] ^= 0x02;
            data[1 + at * 8 + 7] ^= 0x01;
        }
    }
}

TEST(BlockPipeline, HandsOutBlocksInOrderNeverMoreAheadThanItsBuffersThenTheError) {
    for (const bool ahead : {false, true}) {
        constexpr std::size_t kBuffers = 3, kBlocks = 40;
        std::atomic<std::size_t> made = 0, taken = 0, mostAhead = 0;
        BlockPipeline blocks(4, kBuffers, ahead, [&](unsigned char* out, std::size_t size) {
            if (made == kBlocks)
                throw CaptureError("worn out");
            mostAhead = std::max<std::size_t>(mostAhead, made - taken);
            std::memset(out, static_cast<int>(made++), size);
            return size;
        });
        for (std::size_t i = 0; i < kBlocks; ++i) {
            const auto block = blocks.Take();
            ASSERT_EQ(block.size(), 4u);
            EXPECT_EQ(block[3], i);
            ++taken;
        }
        EXPECT_THROW(blocks.Take(), CaptureError);
        EXPECT_LT(mostAhead, kBuffers) << ahead;
    }
    // A reader that leaves early stops a maker waiting for room.
    BlockPipeline endless(4, 2, true, [](unsigned char*, std::size_t size) { return size; });
    EXPECT_EQ(endless.Take().size(), 4u);
}

#ifdef WIRELOG_HAVE_LIBZIP

// A zip entry as it is stored, written by hand so that a test can damage any part of it.
struct Packed {
    std::string name;
    std::string bytes;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::uint16_t method = 8; // deflate; 0 stores
};

Packed Pack(const std::string& name, const std::string& data) {
    Packed packed{name, std::string(compressBound(static_cast<uLong>(data.size())), '\0'), 0,
                  static_cast<std::uint32_t>(data.size())};
    const auto* in = reinterpret_cast<const Bytef*>(data.data());
    packed.crc = static_cast<std::uint32_t>(crc32(0, in, static_cast<uInt>(data.size())));
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.bytes.data());
    z.avail_out = static_cast<uInt>(packed.bytes.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.bytes.resize(z.total_out);
    deflateEnd(&z);
    return packed;
}

void Put(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> 8 * i));
}

std::string ZipOf(const std::vector<Packed>& entries) {
    std::string zip, directory;
    for (const Packed& e : entries) {
        const auto common = [&](std::string& out) {
            Put(out, 20, 2), Put(out, 0, 2), Put(out, e.method, 2), Put(out, 0, 4);
            Put(out, e.crc, 4), Put(out, e.bytes.size(), 4), Put(out, e.size, 4);
            Put(out, e.name.size(), 2), Put(out, 0, 2);
        };
        Put(directory, 0x02014b50, 4), Put(directory, 20, 2), common(directory);
        Put(directory, 0, 6), Put(directory, 0, 4), Put(directory, zip.size(), 4);
        directory += e.name;
        Put(zip, 0x04034b50, 4), common(zip);
        zip += e.name + e.bytes;
    }
    const std::size_t at = zip.size();
    zip += directory;
    Put(zip, 0x06054b50, 4), Put(zip, 0, 4), Put(zip, entries.size(), 2);
    Put(zip, entries.size(), 2), Put(zip, directory.size(), 4), Put(zip, at, 4), Put(zip, 0, 2);
    return zip;
}

// One-byte samples on bits 0 and 1: idle stretches, bursts of edges, noise on the other bits.
std::string Samples(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string samples(count, '\0');
    unsigned char lines = 3;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 50'000 < 2'000 && random() % 7 == 0)
            lines = static_cast<unsigned char>(random() % 4);
        samples[i] = static_cast<char>(lines | (random() % 64) << 2);
    }
    return samples;
}

const std::string kMetadata = "[device 1]\ncapturefile=logic-1\nsamplerate=8 MHz\n"
                              "total probes=8\nprobe1=SCL\nprobe2=SDA\nunitsize=1\n";

class Sessions : public ::testing::Test {
protected:
    fs::path dir_ = fs::temp_directory_path() / ("wirelog-sessions-" + WirelogTest::ProcessId());
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<Packed>& entries) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << ZipOf(entries);
        return path;
    }
};

Changes ReadChanges(const std::string& path, const std::string& scl, const std::string& sda) {
    const auto reader = OpenCapture(path);
    reader->SelectChannels(ResolveChannel(reader->Info(), scl, path),
                           ResolveChannel(reader->Info(), sda, path));
    Changes all;
    for (Changes block; reader->Read(block);)
        all.insert(all.end(), block.begin(), block.end());
    all.push_back({reader->EndSample(), false, false}); // the end, compared too
    return all;
}

std::string UnitSize(const std::string& path) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
    zip_file_t* file = zip_fopen(archive, "metadata", 0);
    std::string text(65'536, '\0');
    text.resize(static_cast<std::size_t>(std::max<zip_int64_t>(
        0, zip_fread(file, text.data(), static_cast<zip_uint64_t>(text.size())))));
    zip_fclose(file);
    zip_discard(archive);
    const std::size_t at = text.find_first_of("12345678", text.find("unitsize"));
    return at == std::string::npos ? "" : text.substr(at, 1);
}

// zlib's output, sample by sample, as the reader promises its changes.
Changes PlainScan(const std::string& path, const std::string& scl, const std::string& sda) {
    const CaptureInfo info = OpenCapture(path)->Info();
    const std::uint64_t sclBit = 1ull << ResolveChannel(info, scl, path);
    const std::uint64_t sdaBit = 1ull << ResolveChannel(info, sda, path);
    const auto unit = static_cast<unsigned>(std::stoi(UnitSize(path)));
    Changes changes;
    std::uint64_t count = 0, sample = 0;
    unsigned byte = 0;
    InflateSessionSamples(path, Inflater::Zlib, [&](const unsigned char* data, std::size_t size) {
        for (const unsigned char* end = data + size; data != end; ++data) {
            sample |= std::uint64_t{*data} << 8 * byte;
            if (++byte < unit)
                continue;
            const bool sclHigh = (sample & sclBit) != 0, sdaHigh = (sample & sdaBit) != 0;
            if (changes.empty() || sclHigh != changes.back().scl || sdaHigh != changes.back().sda)
                changes.push_back({count, sclHigh, sdaHigh});
            ++count, sample = 0, byte = 0;
        }
    });
    changes.push_back({count, false, false});
    return changes;
}

TEST_F(Sessions, ChangesEqualAPlainScanOfZlibsOutputForEverySharedAndALongCapture) {
    const fs::path data = WIRELOG_TEST_DATA;
    std::vector<std::vector<std::string>> rows;
    std::ifstream list(data / "captures.tsv");
    for (std::string line; std::getline(list, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t scl = line.find('\t'), sda = line.find('\t', scl + 1);
        rows.push_back({(data / line.substr(0, scl)).string(), line.substr(scl + 1, sda - scl - 1),
                        line.substr(sda + 1, line.find('\t', sda + 1) - sda - 1)});
    }
    ASSERT_GT(rows.size(), 80u);
    // Longer than the blocks made ahead, cut over three entries at odd places.
    const std::string long_ = Samples(3'000'017, 5);
    rows.push_back(
        {Write("long.sr", {Pack("metadata", kMetadata), Pack("logic-1-1", long_.substr(0, 999'999)),
                           Pack("logic-1-2", long_.substr(999'999, 1'234'567)),
                           Pack("logic-1-3", long_.substr(2'234'566))}),
         "SCL", "SDA"});
    for (const auto& row : rows) {
        const Changes plain = PlainScan(row[0], row[1], row[2]);
        EXPECT_GT(plain.size(), 2u) << row[0];
        EXPECT_TRUE(ReadChanges(row[0], row[1], row[2]) == plain) << row[0];
    }
}

// Each way an entry can be damaged, at the start of a session and in the middle of a long
// one read ahead on the inflating thread: refused, by either inflater, naming the file.
TEST_F(Sessions, DamagedSampleEntriesAreRefusedNamingTheFile) {
    const std::string samples = Samples(3'000'000, 9);
    const struct {
        const char* what;
        void (*damage)(Packed&);
        const char* problem;
    } cases[] = {
        {"a wrong CRC", [](Packed& p) { p.crc ^= 0x00100000; }, "is corrupt"},
        {"a cut deflate stream", [](Packed& p) { p.bytes.resize(p.bytes.size() / 2); },
         "is corrupt"},
        {"a bit flipped mid-stream", [](Packed& p) { p.bytes[p.bytes.size() / 2] ^= 0x10; },
         "is corrupt"},
        {"a size too large", [](Packed& p) { p.size += 1; }, "is corrupt"},
        {"a stored entry's wrong CRC",
         [](Packed& p) {
             p = {p.name, "\x03\x02\x01", 0x12345678, 3, 0};
         },
         "is corrupt"},
    };
    const Packed metadata = Pack("metadata", kMetadata), first = Pack("logic-1-1", samples);
    const Packed seconds[] = {Pack("logic-1-2", samples.substr(0, 5'000)),
                              Pack("logic-1-2", samples)};
    for (const auto& c : cases) {
        for (const Packed& second : seconds) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(second.size) + " bytes");
            Packed damaged = second;
            c.damage(damaged);
            const std::string path = Write("damaged.sr", {metadata, first, damaged});
            for (const Inflater inflater : {Inflater::Fastest, Inflater::Zlib}) {
                try {
                    InflateSessionSamples(path, inflater);
                    ADD_FAILURE() << "not refused by inflater " << static_cast<int>(inflater);
                } catch (const CaptureError& error) {
                    EXPECT_NE(std::string(error.what()).find(c.problem), std::string::npos)
                        << error.what();
                }
            }
            try {
                ReadChanges(path, "SCL", "SDA");
                ADD_FAILURE() << "the reader took it";
            } catch (const CaptureError& error) {
                EXPECT_TRUE(std::string(error.what())
                                .starts_with(path + ": sample data 'logic-1-2' is corrupt"))
                    << error.what();
            }
        }
    }
}

TEST_F(Sessions, AGapInTheChunkNumbersRefusesTheSessionAndStoredChunksRead) {
    const std::string samples = Samples(200'000, 3);
    const Packed whole = Pack("logic-1-1", samples.substr(0, 100'000));
    Packed stored{"logic-1-2", samples.substr(100'000), 0, 100'000, 0};
    stored.crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(stored.bytes.data()), 100'000));
    const std::string path = Write("both.sr", {Pack("metadata", kMetadata), whole, stored});
    EXPECT_TRUE(ReadChanges(path, "SCL", "SDA") == PlainScan(path, "SCL", "SDA"));

    const std::string gap = Write(
        "gap.sr", {Pack("metadata", kMetadata), whole, Pack("logic-1-3", samples.substr(0, 9))});
    try {
        ReadChanges(gap, "SCL", "SDA");
        ADD_FAILURE() << "a session missing logic-1-2 was read";
    } catch (const CaptureError& error) {
        EXPECT_EQ(std::string(error.what()),
                  gap + ": sample data 'logic-1-3' follows a missing 'logic-1-2': the session "
                        "is damaged");
    }
}

#endif

} // namespace
} // namespace Wirelog
