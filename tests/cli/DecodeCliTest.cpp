// SPDX-License-Identifier: MIT
// wirelog-cli decode of recordings and logic captures, run as the user runs it: a separate
// process with files and pipes; and the progress meter it shows on a terminal.
#include "CliProcess.h"
#include "cli/LogPipeline.h"
#include "cli/ProgressMeter.h"
#include "decode/LogTextWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numeric>

namespace Wirelog::test {
namespace {

namespace fs = std::filesystem;

using DecodeCli = CliTest;

CliResult Decode(std::vector<std::string> args, const fs::path& in = "/dev/null",
                 const std::string& out = {}) {
    args.insert(args.begin(), "decode");
    return RunCli({args, {}, in, out});
}

const fs::path kData = WIRELOG_TEST_DATA;

TEST_F(DecodeCli, WritesTheReviewedLogsExactBytesToStdoutOrOut) {
    const fs::path input = kData / "gigabyte_6vle_vxl_i2c.batches.txt";
    const std::string expected = ReadFile(kData / "gigabyte_6vle_vxl_i2c.log");
    const auto toStdout = Decode({input.string()});
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_TRUE(toStdout.out == expected) << "the reviewed log";
    EXPECT_EQ(toStdout.err, "");

    // What a replaced OUT, a link or a device becomes is the output file's (OutputFileTest).
    const auto toFile = Decode({"-o", (dir / "target.log").string(), input.string()});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_TRUE(ReadFile(dir / "target.log") == expected);
    EXPECT_EQ(Decode({"--output=" + (dir / "stdin.log").string()}, input).status, 0);
    EXPECT_TRUE(ReadFile(dir / "stdin.log") == expected);
    EXPECT_TRUE(Decode({"-"}, input).out == expected);

    const auto cut = Decode({Write("cut.txt", "0 01 07 A0 09\n").string()});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.out, "\r\nSTART (valid)\r\nAddress + Write + ACK, addr = 0x50\r\n");
    EXPECT_NE(cut.err.find("ends inside an event (code 9 waits"), std::string::npos) << cut.err;
}

TEST_F(DecodeCli, RawStreamDecodesLikeOneReadStampedZero) {
    // An event split across the first 32,764-byte read, and codes that look like values.
    std::string raw(32'763, '\x05');
    raw += "\x09\x42\x01\x07\xA0\x02\x01";
    raw += std::string(40'000, '\x10');
    std::string timed = "0";
    for (const unsigned char byte : raw) {
        constexpr char kDigits[] = "0123456789ABCDEF";
        timed += {' ', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    }
    const auto expected = Decode({Write("timed.txt", timed + "\n").string()});
    ASSERT_EQ(expected.status, 0) << expected.err;

    const fs::path rawFile = Write("raw.bin", raw);
    const auto fromFile = Decode({"--raw", rawFile.string()});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_TRUE(fromFile.out == expected.out);
    EXPECT_TRUE(Decode({"--raw"}, rawFile).out == expected.out);
}

// Ten times the window's limit: every event is written, and the first 999,999 exactly as a decode
// that stops there (or never gets further) writes them.
TEST_F(DecodeCli, WritesTenMillionEventsAndTheFirst999999AsBefore) {
    const std::string pattern = {0x01, 0x07, '\xA0', 0x09, 0x42, 0x02, 0x05, 0x05}; // 6 events
    std::string raw;
    for (int i = 0; i < 1'666'667; ++i) // 10,000,002 events
        raw += pattern;
    const fs::path all = Write("all.bin", raw);
    const auto first = Decode({"--raw", Write("first.bin", raw.substr(0, 1'333'333)).string()});
    EXPECT_TRUE(Decode({"--raw", "--max-events", "999999", all.string()}).out == first.out);
    ASSERT_EQ(Decode({"--raw", "-o", (dir / "all.log").string(), all.string()}).status, 0);
    const std::string log = ReadFile(dir / "all.log");
    EXPECT_TRUE(log.starts_with(first.out));
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 10'000'002 + 1'666'667)
        << "every event and each START's empty line";
}

// No failure creates or changes OUT, not even one that comes after the log has begun to be
// staged; standard output gets the log as it comes, and a late fault after it. A bad line's own
// wording is the parser's.
TEST_F(DecodeCli, UsageInputAndOutputErrorsExitWithTheirStatusAndAMessage) {
    const std::string input = Write("in.txt", "0 00 05\n").string();
    std::string text;
    for (int i = 0; i < 200'000; ++i)
        text += "0 05\n";
    const std::string bad = Write("bad.txt", text + "5 0G\n").string();
    const std::string old = Write("old.log", "kept\r\n").string();
    const std::string out = (dir / "out.log").string();
    const std::string sr = WIRELOG_CAPTURE_DATA "/pca9571_simple.sr";
    const struct {
        std::vector<std::string> args;
        int status; // 2: usage or input; 1: the log cannot be written
        const char* message;
        fs::path in = "/dev/null"; // standard input
        std::string out = "";      // standard output's file
    } rows[] = {
        {{"--bogus"}, 2, "wirelog-cli decode --help"},
        {{"-o"}, 2, "wirelog-cli decode --help"},
        {{"a.txt", "b.txt"}, 2, "wirelog-cli decode --help"},
        {{"-o", ""}, 2, "wirelog-cli decode --help"},
        {{(dir / "missing.txt").string()}, 2, "cannot read '"},
        {{dir.string()}, 2, "Is a directory"},
        {{}, 2, "cannot read standard input: Is a directory", dir},
        {{"/dev/zero"}, 2, "line 1: missing time stamp: '\\x00"},
        {{"-o", (dir / "no/such/dir/out.log").string(), input}, 1, "cannot write '"},
        {{input}, 1, "write standard output: No space left on device", "/dev/null", "/dev/full"},
        {{"-o", out, "--scl", "CLK", sr}, 2, "has no channel 'CLK'"},
        {{"--format", "bin", sr}, 2, "unknown capture format 'bin'"},
        {{"--idle-us", "-5", sr}, 2, "--idle-us needs a whole number"},
        {{"--glitch-ns", "", sr}, 2, "--glitch-ns needs a whole number"},
        {{"--raw", "--scl", "SCL", sr}, 2, "--raw input is the module's byte stream"},
        {{"--sda", "SDA", WIRELOG_DEMO_FILE}, 2, "not a logic capture"},
        {{"--format=binary", "--samplerate=1m", "--scl=8", "--sda=1"}, 2, "has no channel '8'"},
        {{"--format=binary", "--samplerate=1m", "--unitsize=3", "--scl=0", "--sda=1", input},
         2,
         "in.txt: ends inside a sample: its 8 bytes are no whole number of 3-byte samples"},
        {{"--format=binary", "--samplerate=1m", "--scl=0", "--sda=1"}, 2, "input: holds no samp"},
        {{"--format=binary", "--scl=0", "--sda=1"}, 2, "needs --samplerate"},
        {{"--samplerate=4m", sr}, 2, "--samplerate and --unitsize are for raw samples"},
        {{"-o", old, bad}, 2, "bad.txt': line 200001: bad hex byte '0G'"},
        {{"-o", out, bad}, 2, "line 200001"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        const auto run = Decode(row.args, row.in, row.out);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    CliRun readerGone{{"decode", input}};
    readerGone.readerGone = true;
    const auto goneRun = RunCli(readerGone);
    EXPECT_EQ(goneRun.status, 1) << goneRun.err;
    EXPECT_NE(goneRun.err.find("cannot write standard output"), std::string::npos) << goneRun.err;
    const auto late = Decode({bad});
    EXPECT_EQ(late.status, 2);
    EXPECT_EQ(late.out.size(), 200'000 * std::string("*** Bus is now idle ***\r\n").size());
    EXPECT_EQ(ReadFile(old), "kept\r\n");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad.txt", "in.txt", "old.log"}));
    const auto help = Decode({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(
        help.out.find("usage: wirelog-cli decode [--raw] [--max-events N] [--output-format F]"),
        std::string::npos);
}

// Each format is told by its content, or given for standard input; every event carries the time
// of its sample. That exports hold the session's bus changes is the readers' (CaptureReaders).
TEST_F(DecodeCli, SessionVcdAndCsvGiveTheSameStampedLog) {
    const std::string wii = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init";
    const auto sr = Decode({"--timestamps", wii + ".sr"});
    // 1 MHz: the bus is idle 100 us in, and the first START comes 645.707 ms after that.
    const std::string start =
        "0.000000000 *** I2C Monitoring activated, waiting for idle bus... ***\r\n"
        "0.000100000 *** Bus is now idle ***\r\n"
        "\r\n"
        "0.645807000 START (valid) [Gap from last Stop = 645mS]\r\n";
    EXPECT_EQ(sr.out.substr(0, start.size()), start) << sr.err;
    for (const char* format : {".vcd", ".csv"})
        EXPECT_TRUE(Decode({"--timestamps", wii + format}).out == sr.out) << format;
    EXPECT_TRUE(Decode({"--timestamps", "--format", "vcd"}, wii + ".vcd").out == sr.out)
        << "a capture on standard input needs --format";
    // Timed batches are stamped in microseconds.
    const auto batches = Decode({"--timestamps", WIRELOG_DEMO_FILE});
    EXPECT_NE(batches.out.find("\r\n0.005310000 START (valid) [Gap from last Stop = 3mS]\r\n"),
              std::string::npos)
        << batches.out.substr(0, 300);
}

// A long entry damaged in its middle is found only once the log has begun: the status and
// message are still the reader's, and OUT stays as it was.
TEST_F(DecodeCli, ASessionDamagedMidEntryExitsWithStatusTwoAndLeavesOutAlone) {
    std::string session = ReadFile(WIRELOG_CAPTURE_DATA "/i2c/a2_dummy_write/a2_dummy_write.sr");
    session[session.size() / 2] ^= 0x10; // inside the 8 MB of samples, deflated to 64 kB
    const std::string damaged = Write("damaged.sr", session).string();
    const std::string old = Write("old.log", "kept\r\n").string();
    const auto run = Decode({"-o", old, damaged});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(damaged + ": sample data 'logic-1' is corrupt"), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadFile(old), "kept\r\n");
}

TEST_F(DecodeCli, OptionsChooseLinesIdleTimeAndFilter) {
    const std::string wii = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init.sr";
    const auto plain = Decode({wii});
    ASSERT_EQ(plain.status, 0);
    // Swapped lines differ; how a name or an index is resolved is the readers' (ResolveChannel).
    EXPECT_FALSE(Decode({"--scl=SDA", "--sda", "SCL", wii}).out == plain.out);
    // The bus is idle for 645 ms before the first START: waiting for 700 ms misses it.
    const auto patient = Decode({"--idle-us", "700000", wii});
    EXPECT_EQ(patient.out.find("Gap from last Stop = 645mS"), std::string::npos);
    EXPECT_NE(patient.out.find("*** Bus is now idle ***"), std::string::npos);
    // At 1 MHz a 2 us filter keeps this clean bus as it is; 20 us swallows its clock.
    EXPECT_TRUE(Decode({"--glitch-ns", "2000", wii}).out == plain.out);
    ASSERT_NE(plain.out.find("Address"), std::string::npos);
    EXPECT_EQ(Decode({"--glitch-ns", "20000", wii}).out.find("Address"), std::string::npos);
}

// The command line's pipeline cuts its output into parts for a file rotation.
// `stream` in reads of `readBytes` through a pipeline; the output in parts, one more per cut.
std::vector<std::string> DecodeInParts(const std::vector<std::uint8_t>& stream,
                                       std::size_t readBytes, std::uint64_t cutBytes) {
    std::vector<std::string> parts(1);
    cli::LogPipeline pipeline(
        1000.0, std::make_unique<LogTextWriter>(),
        [&](std::string_view bytes) { return parts.back().append(bytes), true; });
    pipeline.CutEvery(cutBytes, [&] { return parts.emplace_back(), true; });
    for (std::size_t at = 0; at < stream.size(); at += readBytes)
        pipeline.addRead(0, stream.data() + at, std::min(readBytes, stream.size() - at));
    EXPECT_TRUE(pipeline.finish());
    return parts;
}

// Parts end where a transaction has ended, so each after the first begins with the empty line of
// its START; a transaction that outgrows twice the size is cut where it stands.
TEST(LogPipeline, CutsPartsBetweenTransactionsUnlessOneOutgrowsTwiceTheSize) {
    std::vector<std::uint8_t> stream{0x00, 0x05};
    for (int transaction = 0; transaction < 40; ++transaction) {
        stream.insert(stream.end(), {0x01, 0x07, 0xA0});
        for (int data = 0; data < (transaction == 20 ? 60 : 3); ++data)
            stream.insert(stream.end(), {0x09, static_cast<std::uint8_t>(data)});
        stream.push_back(0x02);
    }
    const std::vector<std::string> parts = DecodeInParts(stream, 7, 300);
    EXPECT_TRUE(std::accumulate(parts.begin(), parts.end(), std::string()) ==
                DecodeInParts(stream, stream.size(), ~0ull)[0]);
    std::size_t forced = 0;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        EXPECT_TRUE(parts[i].size() >= 300 && parts[i].size() <= 640) << i;
        forced += i > 0 && !parts[i].starts_with("\r\nSTART (valid)");
    }
    EXPECT_EQ(forced, 3u) << "the long transaction's cuts";
}

TEST(ProgressMeter, ShowsOnATerminalOnlyAfterTwoSeconds) {
    double now = 0;
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* to = open_memstream(&text, &length);
    for (const bool terminal : {false, true}) {
        cli::ProgressMeter meter(to, terminal, [&] { return now; });
        // At 2.1 s it is too soon after the last showing.
        for (const auto& [seconds, done] :
             {std::pair{0.0, 0.1}, {1.9, 0.2}, {2.0, 0.25}, {2.1, 0.3}, {2.5, 1.0}}) {
            now = seconds;
            meter.Update(done);
        }
        now = 0;
    }
    std::fclose(to);
    EXPECT_EQ(std::string(text, length), "\rwirelog-cli decode:  25%\rwirelog-cli decode: 100%\n");
    std::free(text);
}

} // namespace
} // namespace Wirelog::test
