// SPDX-License-Identifier: MIT
#include "busmonitor/CaptureReader.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <unistd.h>

#ifdef WIRELOG_HAVE_LIBZIP
#include <zip.h>
#endif

namespace Wirelog {
namespace {

namespace fs = std::filesystem;

const fs::path kData = WIRELOG_TEST_DATA;

// A case's description as its test name.
struct ByWhat {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
        std::string name = info.param.what;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    }
};

struct Capture {
    std::uint64_t rate = 0;
    std::vector<BusLevels> changes;
    std::uint64_t end = 0;
};

Capture ReadAll(const std::string& path, std::string_view scl = "SCL", std::string_view sda = "SDA",
                std::string_view format = {}) {
    auto reader = OpenCapture(path, format);
    reader->SelectChannels(ResolveChannel(reader->Info(), scl, path),
                           ResolveChannel(reader->Info(), sda, path));
    Capture capture{reader->Info().sampleRate, {}, 0};
    std::vector<BusLevels> block;
    while (reader->Read(block)) {
        capture.changes.insert(capture.changes.end(), block.begin(), block.end());
    }
    capture.end = reader->EndSample();
    EXPECT_DOUBLE_EQ(reader->Progress(), 1.0) << path;
    return capture;
}

// Sample numbers at different rates, compared as times.
bool SameTime(std::uint64_t a, std::uint64_t rateA, std::uint64_t b, std::uint64_t rateB) {
    const std::uint64_t g = std::gcd(rateA, rateB);
    return a * (rateB / g) == b * (rateA / g);
}

void ExpectSameCapture(const Capture& expected, const Capture& actual, const std::string& what) {
    ASSERT_EQ(actual.changes.size(), expected.changes.size()) << what;
    for (std::size_t i = 0; i < expected.changes.size(); ++i) {
        const BusLevels& e = expected.changes[i];
        const BusLevels& a = actual.changes[i];
        ASSERT_TRUE(SameTime(e.sample, expected.rate, a.sample, actual.rate) && e.scl == a.scl &&
                    e.sda == a.sda)
            << what << ": change " << i << " is at " << a.sample << " (" << a.scl << a.sda
            << "), expected " << e.sample << " (" << e.scl << e.sda << ")";
    }
    EXPECT_TRUE(SameTime(expected.end, expected.rate, actual.end, actual.rate)) << what;
}

void ExpectRefused(const std::string& path, const char* problem, std::string_view format = {},
                   std::string_view scl = "0") {
    try {
        ReadAll(path, scl, "1", format);
        ADD_FAILURE() << "no error for " << path;
    } catch (const CaptureError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with(path + ": ")) << message;
        EXPECT_NE(message.find(problem), std::string::npos) << message;
    }
}

class TempDir : public ::testing::Test {
protected:
    fs::path dir_ = fs::temp_directory_path() / ("wirelog-readers-" + std::to_string(getpid()));
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& content) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
};

// Shared captures and sigrok's own VCD and CSV exports of them (see data/README.md): every
// export must give the session's changes. The 12 MHz capture checks that VCD's 100 ps units
// come back to the session's sample numbers; it has no CSV, as sigrok's CSV times at 12 MHz
// are whole nanoseconds per sample (83, not 83.3) and drift.
struct SameCaptureCase {
    const char* what;
    const char* scl;
    const char* sda;
    std::size_t minChanges;
    bool csv = true;
};

class FormatsAgree : public ::testing::TestWithParam<SameCaptureCase> {};

TEST_P(FormatsAgree, VcdAndCsvExportsGiveTheSessionsChanges) {
    const auto& c = GetParam();
    const std::string base = (kData / c.what).string();
    const Capture vcd = ReadAll(base + ".vcd", c.scl, c.sda);
    EXPECT_GE(vcd.changes.size(), c.minChanges);
    if (c.csv) {
        ExpectSameCapture(vcd, ReadAll(base + ".csv", c.scl, c.sda), "csv");
    }
    ExpectSameCapture(vcd, ReadAll(base + ".vcd", c.scl, c.sda, "vcd"), "forced vcd");
#ifdef WIRELOG_HAVE_LIBZIP
    const Capture session = ReadAll(base + ".sr", c.scl, c.sda);
    EXPECT_EQ(session.rate, vcd.rate);
    ExpectSameCapture(vcd, session, "sr");
#else
    ExpectRefused(base + ".sr", "not supported in this build");
#endif
}

INSTANTIATE_TEST_SUITE_P(SharedCaptures, FormatsAgree,
                         ::testing::Values(SameCaptureCase{"wii_nunchuk_init", "SCL", "SDA", 60},
                                           SameCaptureCase{"pca9571_simple", "scl", "SDA", 40},
                                           SameCaptureCase{"braintechnology_usb_lps_powerup",
                                                           "pb2/scl", "1", 250, false}),
                         ByWhat());

using Changes = std::vector<BusLevels>;

// Hand-written text captures: how each format's own rules turn into samples.
struct TextCase {
    const char* what;
    const char* content;
    std::uint64_t rate;
    Changes changes;
    std::uint64_t end;
};

class TextFormats : public TempDir, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextFormats, GiveTheseChanges) {
    const auto& c = GetParam();
    const Capture capture = ReadAll(Write("capture", c.content), "scl", "sda");
    EXPECT_EQ(capture.rate, c.rate);
    EXPECT_EQ(capture.changes, c.changes);
    EXPECT_EQ(capture.end, c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextFormats,
    ::testing::Values(
        // z is released (high), x keeps the level; changes at one time merge; repeats vanish.
        TextCase{
            "vcd levels",
            "$timescale 10ns $end $var wire 1 ! scl $end $var reg 1 \" sda $end\n"
            "$var wire 4 # bus $end $enddefinitions $end\n"
            "$dumpvars 1! 0\" b1010 # $end\n#3 0!\n#3 z\" #5 x! #6 1! #8 0\" #9 1\" #9 0\" #12",
            100'000'000,
            {{0, true, false}, {3, false, true}, {6, true, true}, {8, true, false}},
            12},
        TextCase{"vcd above a second",
                 "$comment Acquisition at 7 Hz $end $timescale 100 s $end $var wire 1 a scl $end\n"
                 "$var wire 1 b sda $end $enddefinitions $end #0 0a #2 0b",
                 1,
                 {{0, false, true}, {200, false, false}},
                 201},
        // Times count from the first row; the unit comes from the header; 1 GHz without a
        // sigrok rate comment.
        TextCase{"csv with unit",
                 "Time [ms], SCL, SDA\r\n-0.5, 1, 1\r\n-0.5, 0, 1\r\n0.000001, 1, 1\r\n"
                 "2.25,1,0\r\n",
                 1'000'000'000,
                 {{0, false, true}, {500'001, true, true}, {2'750'000, true, false}},
                 2'750'001},
        TextCase{"csv one row per sample",
                 "\xEF\xBB\xBF; Samplerate: 2 kHz\n# a comment\nscl,sda\n1,1\n1,1\n0,1\n\n0,0\n",
                 2'000,
                 {{0, true, true}, {2, false, true}, {3, false, false}},
                 4}),
    ByWhat());

// Files that are not captures, or broken ones: each is refused with its path and the problem.
struct BadCase {
    const char* what;
    std::string content;
    const char* problem;
};

class BadText : public TempDir, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadText, IsRefused) {
    ExpectRefused(Write("bad", GetParam().content), GetParam().problem);
}

const std::string kVcdHead = "$timescale 1 us $end $var wire 1 ! a $end $var wire 1 \" b $end "
                             "$enddefinitions $end\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, BadText,
    ::testing::Values(
        BadCase{"empty", "", "is empty"},
        BadCase{"binary",
                std::string("\x7f"
                            "ELF\0\0",
                            6),
                "no capture of a known format"},
        BadCase{"vcd without timescale", "$var wire 1 ! a $end $enddefinitions $end #0 1!",
                "no $timescale"},
        BadCase{"vcd odd timescale", "$timescale 3 us $end", "is not 1, 10 or 100"},
        BadCase{"vcd unfinished", "$timescale 1 us $end $var wire 1 ! a", "ends inside the $var"},
        BadCase{"vcd without bits",
                "$timescale 1 us $end $var wire 8 ! a $end $enddefinitions $end",
                "no 1-bit signal"},
        BadCase{"vcd backwards", kVcdHead + "#5 1!\n#4 0!",
                "line 3: time goes backwards (#4 after #5)"},
        BadCase{"vcd bad time", kVcdHead + "#1x", "is not a time"},
        BadCase{"vcd huge time", kVcdHead + "#99999999999999999999", "is not a time"},
        BadCase{"vcd stray word", kVcdHead + "#1 hello", "unexpected 'hello'"},
        BadCase{"vcd endless word", kVcdHead + "#1 1" + std::string(10'000, '!'),
                "word longer than 4096 bytes"},
        BadCase{"csv no samples", "time,a,b\n", "no samples"},
        BadCase{"csv time not a number", "time,a,b\n0,1,1\nabc,0,0\n",
                "line 3: time 'abc' is not a number"},
        BadCase{"csv level not 0 or 1", "time,a,b\n0,1,1\n1,0,H\n",
                "'H' in column 3 is not 0 or 1"},
        BadCase{"csv short row", "time,a,b\n0,1\n", "2 fields"},
        BadCase{"csv backwards", "time,a,b\n1,1,1\n0.5,1,1",
                "line 3: time goes backwards ('0.5' after 1)"},
        BadCase{"csv rate 0", "; Samplerate: 0 Hz\na,b\n1,1\n", "is not a rate above 0"},
        BadCase{"csv no time no rate", "a,b\n1,1\n", "no time column and no sample rate"},
        BadCase{"csv endless line", "time,a,b\n0," + std::string(2'000'000, '1'),
                "line 2 is longer than"},
        BadCase{"csv unknown unit", "Time [h],a,b\n", "unit this reader does not know"}),
    ByWhat());

TEST_F(TempDir, OpeningNamesTheProblem) {
    ExpectRefused((dir_ / "missing.vcd").string(), "No such file");
    ExpectRefused(Write("x", kVcdHead), "unknown capture format 'pcap'", "pcap");
    ExpectRefused(Write("y", kVcdHead + "#1 1!"), "has no channel 'SCL' (channels: a, b)", {},
                  "SCL");
}

TEST(ResolveChannel, ExactThenAnyCaseThenIndex) {
    const CaptureInfo info{"csv", 1, {"3", "scl", "SCL", "Sda"}};
    const struct {
        const char* given;
        std::size_t expected;
    } cases[] = {{"SCL", 2}, {"scl", 1}, {"SDA", 3}, {"3", 0}, {"1", 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(ResolveChannel(info, c.given, "f"), c.expected) << c.given;
    }
    EXPECT_THROW(ResolveChannel(info, "4", "f"), CaptureError);
    EXPECT_THROW(ResolveChannel(info, "", "f"), CaptureError);
}

#ifdef WIRELOG_HAVE_LIBZIP

using Entries = std::vector<std::pair<std::string, std::string>>;

class Sessions : public TempDir {
protected:
    std::string WriteZip(const std::string& name, const Entries& entries) {
        const std::string path = (dir_ / name).string();
        int code = 0;
        zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
        EXPECT_NE(archive, nullptr);
        for (const auto& [entry, data] : entries) {
            zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
            EXPECT_GE(zip_file_add(archive, entry.c_str(), source, ZIP_FL_OVERWRITE), 0);
        }
        EXPECT_EQ(zip_close(archive), 0);
        return path;
    }
};

std::string Metadata(const std::string& unitSize, const std::string& rate = "1 MHz",
                     const std::string& probes = "probe1=a\nprobe2=b\n") {
    return "[global]\nsigrok version=0.5.1\n[device 1]\ncapturefile=logic-1\ntotal probes=64\n"
           "samplerate=" +
           rate + "\n" + probes + "unitsize=" + unitSize + "\n";
}

// Samples of `unitSize` bytes where bits `scl` and `sda` follow a pattern with long runs, short
// pulses, changes in both bits at once and noise on every other bit; split over two entries
// with a sample cut between them. The changes are worked out here sample by sample.
struct UnitCase {
    unsigned unitSize;
    unsigned scl;
    unsigned sda;
};

struct ByWidth {
    std::string operator()(const ::testing::TestParamInfo<UnitCase>& info) const {
        return "Unit" + std::to_string(info.param.unitSize) + "Scl" +
               std::to_string(info.param.scl) + "Sda" + std::to_string(info.param.sda);
    }
};

class SampleWidths : public Sessions, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(SampleWidths, ChangesOfTheTwoBitsOnly) {
    const auto [unit, scl, sda] = GetParam();
    std::string samples;
    Changes expected;
    std::uint32_t noise = 12345;
    const std::size_t count = 300'000; // more than one block of every width
    for (std::size_t i = 0; i < count; ++i) {
        const bool run = (i / 5000) % 2 == 1;
        const bool sclHigh = run ? (i / 3) % 2 == 0 : i < 1000 || (i % 97) < 40;
        const bool sdaHigh = scl == sda ? sclHigh
                             : run      ? (i / 7) % 2 == 1
                                        : (i % 97) < 40 || i % 1001 == 0;
        if (expected.empty() || expected.back().scl != sclHigh || expected.back().sda != sdaHigh) {
            expected.push_back({i, sclHigh, sdaHigh});
        }
        for (unsigned byte = 0; byte < unit; ++byte) {
            noise = noise * 1103515245 + 12345;
            auto value = static_cast<unsigned char>(noise >> 16);
            for (const auto& [bit, high] : {std::pair{scl, sclHigh}, std::pair{sda, sdaHigh}}) {
                if (bit / 8 == byte) {
                    value = static_cast<unsigned char>(high ? value | 1U << (bit % 8)
                                                            : value & ~(1U << (bit % 8)));
                }
            }
            samples.push_back(static_cast<char>(value));
        }
    }
    const std::size_t cut = samples.size() / 2 + 1;
    const std::string path = WriteZip("w.sr", {{"metadata", Metadata(std::to_string(unit))},
                                               {"logic-1-1", samples.substr(0, cut)},
                                               {"logic-1-2", samples.substr(cut)}});
    const Capture capture = ReadAll(path, std::to_string(scl), std::to_string(sda));
    EXPECT_EQ(capture.changes, expected);
    EXPECT_EQ(capture.end, count);
}

INSTANTIATE_TEST_SUITE_P(Widths, SampleWidths,
                         ::testing::Values(UnitCase{1, 0, 1}, UnitCase{1, 7, 2}, UnitCase{2, 9, 3},
                                           UnitCase{3, 20, 5}, UnitCase{4, 31, 16},
                                           UnitCase{8, 63, 40}, UnitCase{8, 5, 5}),
                         ByWidth());

TEST_F(Sessions, SampleRateAndChannelNamesFromTheMetadata) {
    const struct {
        const char* rate;
        std::uint64_t expected;
    } rates[] = {{"8000000", 8'000'000}, {"500 kHz", 500'000}, {"1.5 MHz", 1'500'000},
                 {"12MHz", 12'000'000},  {"1 Hz", 1},          {"2 GHz", 2'000'000'000}};
    for (const auto& r : rates) {
        const auto reader = OpenCapture(WriteZip(
            "r.sr", {{"metadata", Metadata("1", r.rate, "probe3=SCL\n")}, {"logic-1", "x"}}));
        EXPECT_EQ(reader->Info().sampleRate, r.expected) << r.rate;
        EXPECT_EQ(reader->Info().channels,
                  (std::vector<std::string>{"0", "1", "SCL", "3", "4", "5", "6", "7"}));
    }
}

class BadSession : public Sessions, public ::testing::WithParamInterface<BadCase> {};

TEST_P(BadSession, IsRefused) {
    const std::string metadata = GetParam().content;
    Entries entries{{"logic-1", std::string(10, '\x03')}};
    if (!metadata.empty()) {
        entries.emplace_back("metadata", metadata);
    }
    ExpectRefused(WriteZip("bad.sr", entries), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadSession,
    ::testing::Values(
        BadCase{"no metadata", "", "without the 'metadata'"},
        BadCase{"unitsize 0", Metadata("0"), "unitsize '0' is not 1 to 8"},
        BadCase{"unitsize huge", Metadata("4294967297"), "unitsize '4294967297'"},
        BadCase{"no unitsize", "[device 1]\ncapturefile=logic-1\nsamplerate=1 MHz\n",
                "no unitsize"},
        BadCase{"rate 0", Metadata("1", "0 Hz"), "samplerate '0 Hz' is not a sample rate above 0"},
        BadCase{"rate fraction", Metadata("1", "1.5 Hz"), "samplerate '1.5 Hz'"},
        BadCase{"no rate", "[device 1]\ncapturefile=logic-1\nunitsize=1\n", "no samplerate"},
        BadCase{"no capture file", "[device 1]\nunitsize=1\n", "names no capturefile"},
        BadCase{"samples elsewhere", "[device 1]\ncapturefile=logic-2\nunitsize=1\nsamplerate=1\n",
                "holds no sample data ('logic-2'"},
        BadCase{"cut sample", Metadata("4"), "ends inside a sample (2 of 4 bytes)"},
        BadCase{"huge metadata", Metadata("1") + std::string(70'000, '#'),
                "metadata is larger than 65536 bytes"}),
    ByWhat());

TEST_F(Sessions, DamagedArchivesAreRefused) {
    std::ifstream file(kData / "wii_nunchuk_init.sr", std::ios::binary);
    const std::string session{std::istreambuf_iterator<char>(file), {}};
    ExpectRefused(Write("cut.sr", session.substr(0, session.size() / 2)),
                  "is not a readable sigrok session");
    // A byte changed inside the deflated samples: the inflater or the CRC catches it.
    std::string damaged = session;
    damaged[session.find("logic-1") + 200] ^= 0x55;
    ExpectRefused(Write("damaged.sr", damaged), "sample data 'logic-1' is corrupt");
    ExpectRefused(WriteZip("empty.sr", {{"metadata", Metadata("1")}, {"logic-1", ""}}),
                  "holds no samples");
}

#endif

} // namespace
} // namespace Wirelog
