// SPDX-License-Identifier: MIT
// The capture readers: real exports give their session's changes, each format's own rules give
// the samples they should, and broken or hostile files are refused in bounded memory with an
// error naming the file and the problem.
#include "busmonitor/CaptureReader.h"
#include "TestPlatform.h"
#include "busmonitor/BinaryReader.h"
#include "busmonitor/CaptureMonitor.h"
#include "events/EventCodes.h"
#include "busmonitor/SessionInflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifdef WIRELOG_HAVE_LIBZIP
#include <zip.h>
#endif

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Changes = std::vector<BusLevels>;

const fs::path kData = WIRELOG_TEST_DATA;

struct Capture {
    std::uint64_t rate = 0;
    Changes changes;
    std::uint64_t end = 0;
};

Capture ReadAll(const std::string& path, std::string_view scl = "SCL", std::string_view sda = "SDA",
                std::string_view format = {}, std::unique_ptr<CaptureReader> reader = {}) {
    reader = reader ? std::move(reader) : OpenCapture(path, format);
    reader->SelectChannels(ResolveChannel(reader->Info(), scl, path),
                           ResolveChannel(reader->Info(), sda, path));
    Capture capture{reader->Info().sampleRate, {}, 0};
    for (Changes block; reader->Read(block);)
        capture.changes.insert(capture.changes.end(), block.begin(), block.end());
    capture.end = reader->EndSample();
    EXPECT_DOUBLE_EQ(reader->Progress(), 1.0) << path;
    return capture;
}

// Reports where the changes part rather than printing thousands of them.
void ExpectSame(const Capture& expected, const Capture& actual, const std::string& what) {
    EXPECT_EQ(actual.rate, expected.rate) << what;
    const auto [e, a] = std::mismatch(expected.changes.begin(), expected.changes.end(),
                                      actual.changes.begin(), actual.changes.end());
    EXPECT_TRUE(e == expected.changes.end() && a == actual.changes.end())
        << what << ": the changes part at " << e - expected.changes.begin() << " of "
        << expected.changes.size() << " (" << actual.changes.size() << " read)";
    EXPECT_EQ(actual.end, expected.end) << what;
}

void ExpectRefused(const std::string& path, const char* problem, std::string_view scl = "0") {
    try {
        ReadAll(path, scl, "1");
        ADD_FAILURE() << "no error for " << path << ", expected " << problem;
    } catch (const CaptureError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with(path + ": ")) << message;
        EXPECT_NE(message.find(problem), std::string::npos) << message;
    }
}

// A shared capture and sigrok's own VCD export of it (see data/README.md): at 12 MHz, VCD's
// 100 ps units must come back to the session's sample numbers. How the CSV and other exports
// agree with their sessions is the command line's
// (DecodeCli.SessionVcdAndCsvGiveTheSameStampedLog).
TEST(CaptureReaders, A12MHzVcdExportGivesTheSessionsChanges) {
    const std::string base = (kData / "braintechnology_usb_lps_powerup").string();
    const Capture vcd = ReadAll(base + ".vcd", "pb2/scl", "1");
    EXPECT_GE(vcd.changes.size(), 250u);
    ExpectSame(vcd, ReadAll(base + ".vcd", "pb2/scl", "1", "vcd"), "forced vcd");
#ifdef WIRELOG_HAVE_LIBZIP
    ExpectSame(vcd, ReadAll(base + ".sr", "pb2/scl", "1"), base + ".sr");
#else
    ExpectRefused(base + ".sr", "not supported in this build");
#endif
}

class Readers : public ::testing::Test {
protected:
    fs::path dir_ = fs::temp_directory_path() / ("wirelog-readers-" + WirelogTest::ProcessId());
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
#ifdef WIRELOG_HAVE_LIBZIP
    std::string WriteZip(const std::vector<std::pair<std::string, std::string>>& entries,
                         bool store = false) {
        const std::string path = (dir_ / "capture.sr").string();
        int code = 0;
        zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
        EXPECT_NE(archive, nullptr);
        for (const auto& [entry, data] : entries) {
            zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
            const zip_int64_t index =
                zip_file_add(archive, entry.c_str(), source, ZIP_FL_OVERWRITE);
            EXPECT_GE(index, 0);
            if (store)
                zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE,
                                         0);
        }
        EXPECT_EQ(zip_close(archive), 0);
        return path;
    }
#endif
};

// How each text format's own rules turn into samples.
TEST_F(Readers, TextFormatsGiveTheseChanges) {
    const struct {
        const char* content;
        Capture expected;
    } cases[] = {
        // z is released (high), x keeps the level; changes at one time merge; repeats vanish.
        {"$timescale 10ns $end $var wire 1 ! scl $end $var reg 1 \" sda $end\n"
         "$var wire 4 # bus $end $enddefinitions $end\n"
         "$dumpvars 1! 0\" b1010 # $end\n#3 0!\n#3 z\" #5 x! #6 1! #8 0\" #9 1\" #9 0\" #12",
         {100'000'000,
          {{0, true, false}, {3, false, true}, {6, true, true}, {8, true, false}},
          12}},
        // Units above a second.
        {"$comment Acquisition at 7 Hz $end $timescale 100 s $end $var wire 1 a scl $end\n"
         "$var wire 1 b sda $end $enddefinitions $end #0 0a #2 0b",
         {1, {{0, false, true}, {200, false, false}}, 201}},
        // Times count from the first row; the unit comes from the header; 1 GHz without a
        // sigrok rate comment.
        {"Time [ms], SCL, SDA\r\n-0.5, 1, 1\r\n-0.5, 0, 1\r\n0.000001, 1, 1\r\n2.25,1,0\r\n",
         {1'000'000'000,
          {{0, false, true}, {500'001, true, true}, {2'750'000, true, false}},
          2'750'001}},
        // Taken digit by digit: no floating-point rounding at 2^63 ns, signs and exponents.
        {"time,scl,sda\n-2.5e-9,1,1\n+9000000000.000000001,0,1\n",
         {1'000'000'000,
          {{0, true, true}, {9'000'000'000'000'000'004, false, true}},
          9'000'000'000'000'000'005}},
        // One row per sample, without a time column.
        {"\xEF\xBB\xBF; Samplerate: 2 kHz\n# a comment\nscl,sda\n1,1\n1,1\n0,1\n\n0,0\n",
         {2'000, {{0, true, true}, {2, false, true}, {3, false, false}}, 4}},
    };
    for (const auto& c : cases)
        ExpectSame(c.expected, ReadAll(Write("capture", c.content), "scl", "sda"), c.content);
}

// A shared capture's changes laid out as raw samples, the two bits among noise on every other
// bit of a little-endian unit (channel k is bit k), come back as they were. How streams that
// are no whole samples are refused, and that samples are handed out as they arrive, is the
// command line's (DecodeCli, BinaryDecodeCli).
TEST_F(Readers, RawSamplesGiveTheChangesOfTheirTwoBitsWhereverTheySit) {
    const Capture expected =
        ReadAll((kData / "braintechnology_usb_lps_powerup.vcd").string(), "pb2/scl", "1");
    std::mt19937 noise(7);
    for (const auto& [unit, scl, sda] : {std::tuple{1u, 7u, 3u}, {3u, 2u, 17u}}) {
        std::string bytes;
        for (std::size_t sample = 0, next = 0; sample < expected.end; ++sample) {
            next += next < expected.changes.size() && expected.changes[next].sample == sample;
            const BusLevels& at = expected.changes[next - 1];
            const std::uint32_t value =
                (noise() & ~(1u << scl | 1u << sda)) | at.scl << scl | at.sda << sda;
            bytes.append(reinterpret_cast<const char*>(&value), unit); // x86: little-endian
        }
        const std::string path = Write("raw", bytes);
        ExpectSame(expected,
                   ReadAll(path, std::to_string(scl), std::to_string(sda), {},
                           OpenBinaryCapture(path, {expected.rate, unit})),
                   std::to_string(unit) + " bytes");
    }
}

const std::string kVcdHead = "$timescale 1 us $end $var wire 1 ! a $end $var wire 1 \" b $end "
                             "$enddefinitions $end\n";

// Files that are not captures, or broken or endless ones: refused with the path and the problem.
TEST_F(Readers, BadTextIsRefusedNamingTheProblem) {
    const struct {
        std::string content;
        const char* problem;
    } cases[] = {
        {"", "is empty"},
        {"\177ELF\0\0"s, "no capture of a known format"},
        {"$var wire 1 ! a $end $enddefinitions $end #0 1!", "no $timescale"},
        {"$timescale 3 us $end", "is not 1, 10 or 100"},
        {"$timescale 1 us $end $var wire 1 ! a", "ends inside the $var"},
        {"$timescale 1 us $end $var wire 8 ! a $end $enddefinitions $end", "no 1-bit signal"},
        {kVcdHead + "#5 1!\n#4 0!", "line 3: time goes backwards (#4 after #5)"},
        {kVcdHead + "#1x", "is not a time"},
        {kVcdHead + "#99999999999999999999", "is not a time"},
        {kVcdHead + "#1 hello", "unexpected 'hello'"},
        {kVcdHead + "#1 1!\n#9223372036854777000 0!",
         "line 3: time '#9223372036854777000' is too late"},
        {kVcdHead + "#1 1" + std::string(10'000, '!'), "word longer than 4096 bytes"},
        {"time,a,b\n", "no samples"},
        {"time,a,b\n0,1,1\nabc,0,0\n", "line 3: time 'abc' is not a number"},
        {"time,a,b\n0,1,1\n1,0,H\n", "'H' in column 3 is not 0 or 1"},
        {"time,a,b\n0,1\n", "2 fields"},
        {"time,a,b\n1,1,1\n0.5,1,1", "line 3: time goes backwards ('0.5' after 1)"},
        {"time,a,b\n0,1,1\n9300000000,1,1", "line 3: time '9300000000' is too far from the first"},
        {"time,a,b\n0,1,1\n1e-41,1,1", "line 3: time '1e-41' has more digits than"},
        {"; Samplerate: 0 Hz\na,b\n1,1\n", "is not a rate above 0"},
        {"a,b\n1,1\n", "no time column and no sample rate"},
        {"time,a,b\n0," + std::string(2'000'000, '1'), "line 2 is longer than"},
        {"Time [h],a,b\n", "unit this reader does not know"},
    };
    for (const auto& c : cases)
        ExpectRefused(Write("bad", c.content), c.problem);
    ExpectRefused((dir_ / "missing.vcd").string(), "No such file");
    ExpectRefused(Write("y", kVcdHead + "#1 1!"), "has no channel '2' (channels: a, b)", "2");
}

// A capture that turns bad hands out the events decided before the bad line, then its error.
TEST_F(Readers, EventsBeforeABadLineComeBeforeItsError) {
    const std::string vcd = kVcdHead + "#0 1! 1\" #200 0\" #300 1\" #100 0!";
    CaptureMonitor monitor({Write("turns-bad", vcd), "", "a", "b", {}});
    std::vector<MonitorEvent> events;
    ASSERT_TRUE(monitor.Next(events));
    EXPECT_TRUE(!events.empty() && events.back().code == TWI_STOP);
    EXPECT_THROW(monitor.Next(events), CaptureError);
}

// A name in the wrong case or an index (the readers' and the command line's tables) never wins
// over an exact name.
TEST(ResolveChannel, ExactNameBeforeAnyCaseBeforeIndex) {
    const CaptureInfo info{"csv", 1, {"3", "scl", "SCL", "Sda"}};
    EXPECT_EQ(ResolveChannel(info, "SCL", "f"), 2u);
    EXPECT_EQ(ResolveChannel(info, "3", "f"), 0u);
    EXPECT_EQ(ResolveChannel(info, "SDA", "f"), 3u);
    EXPECT_THROW(ResolveChannel(info, "", "f"), CaptureError);
}

#ifdef WIRELOG_HAVE_LIBZIP

std::string Metadata(const std::string& unitSize, const std::string& rate = "1 MHz",
                     const std::string& probes = "probe1=a\nprobe2=b\n") {
    return "[global]\nsigrok version=0.5.1\n[device 1]\ncapturefile=logic-1\ntotal probes=64\n"
           "samplerate=" +
           rate + "\n" + probes + "unitsize=" + unitSize + "\n";
}

// Samples of every width where the two bits have quiet stretches and bursts of short pulses,
// changing alone or together, with noise on every other bit; split over two entries with a
// sample cut between them. The changes are worked out here sample by sample. SCL is chosen by
// the name the metadata gives its probe, SDA by its bit; each width comes with its own way of
// writing the rate.
TEST_F(Readers, SessionsGiveTheChangesOfTheTwoBitsOnlyAtEveryWidthAndRate) {
    const struct {
        unsigned unit, scl, sda;
        const char* rate;
        std::uint64_t hertz;
    } rows[] = {{1, 0, 1, "8000000", 8'000'000}, {1, 7, 2, "500 kHz", 500'000},
                {2, 9, 3, "1.5 MHz", 1'500'000}, {3, 20, 5, "12MHz", 12'000'000},
                {4, 31, 16, "1 Hz", 1},          {8, 63, 40, "2 GHz", 2'000'000'000},
                {8, 5, 5, "1 MHz", 1'000'000}};
    for (const auto& [unit, scl, sda, rate, hertz] : rows) {
        SCOPED_TRACE("unit " + std::to_string(unit) + " bits " + std::to_string(scl) + ", " +
                     std::to_string(sda));
        std::mt19937_64 random(unit * 64 + scl);
        std::string samples;
        Changes expected;
        bool sclHigh = true, sdaHigh = true;
        const std::size_t count = 300'000; // more than one block of every width
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t flips = random();
            if (i % 10'000 >= 5'000 || flips % 997 == 0) {
                sclHigh ^= flips & 1;
                sdaHigh = scl == sda ? sclHigh : sdaHigh ^ ((flips >> 1) & 1);
            }
            if (expected.empty() || expected.back().scl != sclHigh ||
                expected.back().sda != sdaHigh)
                expected.push_back({i, sclHigh, sdaHigh});
            std::uint64_t word = random();
            for (const auto& [bit, high] : {std::pair{scl, sclHigh}, std::pair{sda, sdaHigh}})
                word = high ? word | 1ull << bit : word & ~(1ull << bit);
            for (unsigned byte = 0; byte < unit; ++byte)
                samples.push_back(static_cast<char>(word >> 8 * byte));
        }
        const std::string probe = "probe" + std::to_string(scl + 1) + "=clock\n";
        const std::size_t cut = samples.size() / 2 + 1;
        const std::string path =
            WriteZip({{"metadata", Metadata(std::to_string(unit), rate, probe)},
                      {"logic-1-1", samples.substr(0, cut)},
                      {"logic-1-2", samples.substr(cut)}});
        const Capture capture = ReadAll(path, "clock", std::to_string(sda));
        ExpectSame({hertz, expected, count}, capture, path);
    }
}

TEST_F(Readers, BadSessionsAreRefusedNamingTheProblem) {
    const struct {
        std::string metadata; // none when empty
        const char* problem;
    } cases[] = {
        {"", "without the 'metadata'"},
        {Metadata("0"), "unitsize '0' is not 1 to 8"},
        {Metadata("4294967297"), "unitsize '4294967297'"},
        {"[device 1]\ncapturefile=logic-1\nsamplerate=1 MHz\n", "no unitsize"},
        {Metadata("1", "0 Hz"), "samplerate '0 Hz' is not a sample rate above 0"},
        {Metadata("1", "1.5 Hz"), "samplerate '1.5 Hz'"},
        {"[device 1]\ncapturefile=logic-1\nunitsize=1\n", "no samplerate"},
        {"[device 1]\nunitsize=1\n", "names no capturefile"},
        {"[device 1]\ncapturefile=logic-2\nunitsize=1\nsamplerate=1\n",
         "holds no sample data ('logic-2'"},
        {Metadata("4"), "ends inside a sample (2 of 4 bytes)"},
        {Metadata("1") + std::string(70'000, '#'), "metadata is larger than 65536 bytes"},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::string, std::string>> entries{{"logic-1", std::string(10, 3)}};
        if (!c.metadata.empty())
            entries.emplace_back("metadata", c.metadata);
        ExpectRefused(WriteZip(entries), c.problem);
    }
    ExpectRefused(WriteZip({{"metadata", Metadata("1")}, {"logic-1", ""}}), "holds no samples");
    // A byte changed inside the deflated samples: the inflater or the CRC catches it.
    std::string damaged = WirelogTest::ReadFile(kData / "wii_nunchuk_init.sr");
    damaged[damaged.find("logic-1") + 200] ^= 0x55;
    ExpectRefused(Write("damaged.sr", damaged), "sample data 'logic-1' is corrupt");
}

// One-byte samples on bits 0 and 1: idle stretches, bursts of edges, noise on the other bits.
std::string Samples(std::size_t count) {
    std::mt19937 random(7);
    std::string samples(count, '\0');
    unsigned char lines = 3;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 50'000 < 2'000 && random() % 7 == 0)
            lines = static_cast<unsigned char>(random() % 4);
        samples[i] = static_cast<char>(lines | (random() % 64) << 2);
    }
    return samples;
}

// zlib's output taken sample by sample, as the readers promise their changes.
Capture PlainScan(const std::string& path, std::string_view scl, std::string_view sda,
                  std::uint64_t samples) {
    const CaptureInfo info = OpenCapture(path)->Info();
    const std::uint64_t sclBit = 1ull << ResolveChannel(info, scl, path);
    const std::uint64_t sdaBit = 1ull << ResolveChannel(info, sda, path);
    const std::uint64_t unit = InflateSessionSamples(path) / samples;
    Capture plain{info.sampleRate, {}, 0};
    std::uint64_t sample = 0, byte = 0;
    InflateSessionSamples(path, Inflater::Zlib, [&](const unsigned char* data, std::size_t size) {
        for (const unsigned char* end = data + size; data != end; ++data) {
            sample |= std::uint64_t{*data} << 8 * byte;
            if (++byte < unit)
                continue;
            const BusLevels levels{plain.end++, (sample & sclBit) != 0, (sample & sdaBit) != 0};
            if (plain.changes.empty() || levels.scl != plain.changes.back().scl ||
                levels.sda != plain.changes.back().sda)
                plain.changes.push_back(levels);
            sample = 0, byte = 0;
        }
    });
    return plain;
}

const std::string kMetadata = Metadata("1", "8 MHz", "probe1=SCL\nprobe2=SDA\n");

TEST_F(Readers, SessionsGiveThePlainScanOfZlibsSamplesSharedLongAndStored) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream list(kData / "captures.tsv");
    for (std::string line, file, scl, sda; std::getline(list, line);)
        if (!line.starts_with('#') && std::istringstream(line) >> file >> scl >> sda)
            rows.push_back({(kData / file).string(), scl, sda});
    ASSERT_GT(rows.size(), 80u);
    // Longer than the blocks inflated ahead, over three entries cut at odd places.
    const std::string samples = Samples(3'000'017);
    for (const bool store : {false, true}) {
        const fs::path path = dir_ / (store ? "stored.sr" : "long.sr");
        fs::rename(WriteZip({{"metadata", kMetadata},
                             {"logic-1-1", samples.substr(0, 999'999)},
                             {"logic-1-2", samples.substr(999'999, 34'567)},
                             {"logic-1-3", samples.substr(1'034'566)}},
                            store),
                   path);
        rows.push_back({path.string(), "SCL", "SDA"});
    }
    for (const auto& row : rows) {
        const Capture read = ReadAll(row[0], row[1], row[2]);
        EXPECT_GT(read.changes.size(), 2u) << row[0];
        ExpectSame(PlainScan(row[0], row[1], row[2], read.end), read, row[0]);
    }
}

std::uint32_t Field(const std::string& zip, std::size_t at) {
    std::uint32_t value; // zip and the machines the tests run on are little endian
    std::memcpy(&value, &zip[at], 4);
    return value;
}

// A short entry, and a long one read ahead on the inflating thread, damaged in each way an
// archive holds it: refused by either inflater, naming file and entry. libzip writes an entry's
// name first in its local header, last in its directory record, where each field comes 2 bytes
// further on.
TEST_F(Readers, DamagedOrMissingSampleEntriesAreRefusedNamingThem) {
    const struct {
        const char* what;
        std::size_t field; // 0: none of the header's sizes and CRC is changed
        std::uint32_t (*change)(std::uint32_t);
        const char* problem = "'logic-1-2' is corrupt";
    } cases[] = {
        {"a wrong CRC", 14, [](std::uint32_t crc) { return crc ^ 1; }},
        {"a cut deflate stream", 18, [](std::uint32_t packed) { return packed / 2; }},
        {"a size too large", 22, [](std::uint32_t size) { return size + 1; }},
        {"a bit flipped mid-stream", 0, nullptr},
        {"a gap in the numbers", 0, nullptr, "'logic-1-3' follows a missing 'logic-1-2'"},
    };
    const std::string samples = Samples(3'000'000);
    for (const std::size_t size : {5'000, 3'000'000}) {
        for (const bool store : {false, true}) {
            const std::string zip =
                WirelogTest::ReadFile(WriteZip({{"metadata", kMetadata},
                                                {"logic-1-1", samples},
                                                {"logic-1-2", samples.substr(0, size)}},
                                               store));
            const std::size_t local = zip.find("logic-1-2") - 30,
                              central = zip.rfind("logic-1-2") - 46;
            for (const auto& c : cases) {
                SCOPED_TRACE(std::string(c.what) + (store ? ", stored, " : ", ") +
                             std::to_string(size));
                std::string damaged = zip;
                for (const std::size_t at : {local + c.field, central + c.field + 2}) {
                    const std::uint32_t value = c.change ? c.change(Field(zip, at)) : 0;
                    std::memcpy(&damaged[at], &value, c.change ? 4 : 0);
                }
                if (std::string_view(c.what).ends_with("mid-stream"))
                    damaged[local + 39 + Field(zip, local + 18) / 2] ^= 0x10; // after the name
                if (std::string_view(c.problem).starts_with("'logic-1-3'"))
                    damaged[local + 38] = damaged[central + 54] = '3';
                const std::string path = Write("damaged.sr", damaged);
                ExpectRefused(path, (": sample data "s + c.problem).c_str());
                EXPECT_THROW(InflateSessionSamples(path, Inflater::Zlib), CaptureError);
            }
        }
    }
}

#endif

} // namespace
} // namespace Wirelog
