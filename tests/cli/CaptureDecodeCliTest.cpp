// SPDX-License-Identifier: MIT
// wirelog-cli decode on logic captures, run as a user runs it; and the progress meter.
#include "CliProcess.h"
#include "cli/ProgressMeter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

const fs::path kCaptures = WIRELOG_CAPTURE_DATA;

test::CliResult Decode(std::vector<std::string> args, const fs::path& in = "/dev/null") {
    args.insert(args.begin(), "decode");
    return test::RunCli({args, {}, in, {}, {}, {}, {}});
}

std::string Capture(const std::string& name) {
    return (kCaptures / name).string();
}

TEST(CaptureDecodeCli, SessionVcdAndCsvGiveTheSameLog) {
    const struct {
        const char* exports; // the .vcd and .csv without their suffix
        const char* session;
    } rows[] = {
        {"formats/st_m24c02_powerup_and_reset",
         "i2c/eeprom_24xx/st_m24c02/st_m24c02_powerup_and_reset.sr"},
        {"formats/ds3231_ex1", "i2c/rtc_dallas_ds3231/ds3231_ex1.sr"},
        {"wii_nunchuk_init", "wii_nunchuk_init.sr"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.session);
        const auto sr = Decode({"--timestamps", Capture(row.session)});
        ASSERT_EQ(sr.status, 0) << sr.err;
        ASSERT_NE(sr.out.find("START (valid)"), std::string::npos);
        for (const char* format : {".vcd", ".csv"}) {
            const auto other = Decode({"--timestamps", Capture(row.exports) + format});
            EXPECT_EQ(other.status, 0) << other.err;
            EXPECT_TRUE(other.out == sr.out) << format << " differs";
        }
    }
}

TEST(CaptureDecodeCli, EventsCarryTheirSampleTimeAndExactGaps) {
    // 1 MHz: the bus is idle 100 us in, and the first START comes 645.707 ms after that.
    const auto run = Decode({"--timestamps", Capture("wii_nunchuk_init.sr")});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string start =
        "0.000000000 *** I2C Monitoring activated, waiting for idle bus... ***\r\n"
        "0.000100000 *** Bus is now idle ***\r\n"
        "\r\n"
        "0.645807000 START (valid) [Gap from last Stop = 645mS]\r\n";
    EXPECT_EQ(run.out.substr(0, start.size()), start);
    // Timed batches are stamped in microseconds.
    const auto batches = Decode({"--timestamps", WIRELOG_DEMO_FILE});
    EXPECT_NE(batches.out.find("\r\n0.005310000 START (valid) [Gap from last Stop = 3mS]\r\n"),
              std::string::npos)
        << batches.out.substr(0, 300);
}

TEST(CaptureDecodeCli, OptionsChooseLinesIdleTimeAndFilter) {
    const std::string wii = Capture("wii_nunchuk_init.sr");
    const auto plain = Decode({wii});
    ASSERT_EQ(plain.status, 0);
    // Channels by name in any case, or by index, give the same; swapped lines do not.
    EXPECT_TRUE(Decode({"--scl=scl", "--sda", "1", wii}).out == plain.out);
    EXPECT_FALSE(Decode({"--scl", "SDA", "--sda", "SCL", wii}).out == plain.out);
    // The bus is idle for 645 ms before the first START: waiting for 700 ms misses it.
    const auto patient = Decode({"--idle-us", "700000", wii});
    EXPECT_EQ(patient.status, 0);
    EXPECT_EQ(patient.out.find("Gap from last Stop = 645mS"), std::string::npos);
    EXPECT_NE(patient.out.find("*** Bus is now idle ***"), std::string::npos);
    // At 1 MHz a 2 us filter keeps this clean bus as it is; 20 us swallows its clock.
    EXPECT_TRUE(Decode({"--glitch-ns", "2000", wii}).out == plain.out);
    ASSERT_NE(plain.out.find("Address"), std::string::npos);
    EXPECT_EQ(Decode({"--glitch-ns", "20000", wii}).out.find("Address"), std::string::npos);
}

TEST(CaptureDecodeCli, BadCapturesAndOptionsFailWithStatus2AndLeaveOutAlone) {
    std::string dir = (fs::temp_directory_path() / "wirelog-capture-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const fs::path out = fs::path(dir) / "old.log";
    std::ofstream(out) << "kept\r\n";
    const std::string sr = Capture("pca9571_simple.sr");
    const std::string truncated = (fs::path(dir) / "cut.sr").string();
    std::ofstream(truncated, std::ios::binary) << ReadFile(sr).substr(0, 300);
    const struct {
        std::vector<std::string> args;
        const char* message;
    } rows[] = {
        {{"--scl", "CLK", sr}, "has no channel 'CLK'"},
        {{truncated}, "cut.sr: is not a readable sigrok session"},
        {{"--format", "vcd", sr}, "pca9571_simple.sr: line 1:"},
        {{"--format", "bin", sr}, "unknown capture format 'bin'"},
        {{"--idle-us", "-5", sr}, "--idle-us needs a whole number"},
        {{"--glitch-ns", "", sr}, "--glitch-ns needs a whole number"},
        {{"--raw", "--scl", "SCL", sr}, "--raw input is the module's byte stream"},
        {{"--sda", "SDA", WIRELOG_DEMO_FILE}, "not a logic capture"},
    };
    for (auto [args, message] : rows) {
        SCOPED_TRACE(message);
        args.insert(args.begin(), {"-o", out.string()});
        const auto run = Decode(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(out), "kept\r\n");
    }
    fs::remove_all(dir);
    // A capture on standard input needs --format.
    const auto piped = Decode({"--format", "vcd"}, Capture("pca9571_simple.vcd"));
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(piped.out == Decode({sr}).out);
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
} // namespace Wirelog
