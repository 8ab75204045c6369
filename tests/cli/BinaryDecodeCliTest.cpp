// SPDX-License-Identifier: MIT
// decode of raw logic samples as sigrok-cli exports and streams them: the same log as the
// session, each line out before the samples after its deciding one are written, and a live
// pipeline from sigrok's demo device that stops cleanly on SIGINT. The refusals are DecodeCli's.
#include "CliProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <poll.h>
#include <sys/stat.h>

namespace Wirelog::test {
namespace {

using BinaryDecodeCli = CliTest;
using namespace std::string_literals;

// Reads from `fd` until `text` holds `wanted`, for at most a minute: a generous bound, as a
// line that waits for later samples never comes (they are not written).
bool ReadUntil(int fd, std::string& text, const std::string& wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    char buffer[4096];
    for (ssize_t got = 0; text.find(wanted) == std::string::npos; text.append(buffer, got)) {
        pollfd wait{fd, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (poll(&wait, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0 ||
            (got = read(fd, buffer, sizeof buffer)) <= 0)
            return false;
    }
    return true;
}

// Raw samples streamed to standard output give the chosen format, filtered alike, byte for byte
// as the session does.
TEST_F(BinaryDecodeCli, StreamedSamplesGiveTheOutputFormatsTheSessionGives) {
    const std::string sr = WIRELOG_CAPTURE_DATA "/wii_nunchuk_init.sr"s, bin = Utf8(dir / "raw");
    ASSERT_EQ(std::system(("sigrok-cli -i '" + sr + "' -O binary > '" + bin + "'").c_str()), 0);
    for (const auto& [format, address] : {std::pair{"csv", "0x52"}, {"transactions", "0x10"}}) {
        const std::vector<std::string> choice{"--output-format", format, "--address", address};
        CliRun session{{"decode", "--scl", "SCL", "--sda", "SDA"}};
        CliRun live{
            {"decode", "--format", "binary", "--samplerate", "1m", "--scl", "0", "--sda", "1"}};
        session.args.insert(session.args.end(), choice.begin(), choice.end());
        live.args.insert(live.args.end(), choice.begin(), choice.end());
        session.args.push_back(sr);
        live.args.push_back("-");
        live.in = bin;
        const CliResult expected = RunCli(session), streamed = RunCli(live);
        ASSERT_EQ(expected.status, 0) << expected.err;
        EXPECT_EQ(streamed.status, 0) << streamed.err;
        EXPECT_EQ(streamed.out, expected.out) << format;
    }
}

// Sigrok's exports of shared captures, written one deciding sample at a time: each line is
// awaited before a later sample is written, and the whole is the session's log.
TEST_F(BinaryDecodeCli, EachLineComesBeforeTheSamplesAfterItsDecidingOne) {
    for (const auto& [name, rate, perSecond, scl, sda, sclName, sdaName] :
         {std::tuple{"wii_nunchuk_init", "1m", 1'000'000ull, "0", "1", "SCL", "SDA"},
          {"pca9571_simple", "2M", 2'000'000ull, "1", "0", "SCL", "SDA"},
          {"braintechnology_usb_lps_powerup", "12 MHz", 12'000'000ull, "2", "1", "PB2/SCL",
           "PB1/SDA"}}) {
        const std::string sr = WIRELOG_CAPTURE_DATA "/"s + name + ".sr", bin = Utf8(dir / name);
        ASSERT_EQ(std::system(("sigrok-cli -i '" + sr + "' -O binary > '" + bin + "'").c_str()), 0);
        const std::string expected =
            RunCli({{"decode", "--timestamps", "--scl", sclName, "--sda", sdaName, sr}}).out;
        const std::string samples = ReadFile(bin), out = Utf8(dir / "log");
        ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
        std::FILE* in = popen(("exec '" WIRELOG_CLI_PATH "' decode --timestamps --format binary "
                               "--samplerate '"s +
                               rate + "' --scl " + scl + " --sda " + sda + " - > '" + out + "'")
                                  .c_str(),
                              "w");
        const int fd = open(out.c_str(), O_RDONLY);
        std::string log;
        std::size_t written = 0;
        for (std::size_t line = 0, next; line < expected.size(); line = next) {
            next = expected.find("\r\n", line) + 2;
            if (next == line + 2)
                continue; // a blank line comes with the event after it
            // The stamp is the deciding sample's time in whole nanoseconds, truncated.
            const std::uint64_t ns = std::stoull(expected.substr(line, 11).erase(1, 1));
            const std::size_t upTo = (ns * perSecond + 999'999'999) / 1'000'000'000 + 1;
            written += std::fwrite(&samples[written], 1, std::max(upTo, written) - written, in);
            std::fflush(in);
            ASSERT_TRUE(ReadUntil(fd, log, expected.substr(0, next)))
                << name << ": no " << expected.substr(line, next - line) << "after " << written
                << " samples";
        }
        std::fwrite(&samples[written], 1, samples.size() - written, in);
        EXPECT_EQ(pclose(in), 0);
        ReadUntil(fd, log, "the end of the output");
        close(fd);
        std::filesystem::remove(out);
        EXPECT_TRUE(log == expected && !log.empty()) << name;
    }
}

TEST_F(BinaryDecodeCli, LivePipelineFromSigrokStopsCleanlyOnSigint) {
    const std::string fifo = Utf8(dir / "samples");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Its standard input stays open until pclose: sigrok-cli --continuous stops at a key.
    const std::string sigrok = "exec sigrok-cli -d demo --channels D0,D1 --continuous "
                               "--config samplerate=1m -O binary 2>/dev/null > '" +
                               fifo + "'";
    std::FILE* source = popen(sigrok.c_str(), "w");
    CliRun run{{"decode", "--format=binary", "--samplerate=1m", "--scl=0", "--sda=1", "-"}};
    run.in = fifo;
    run.onFirstOutput = [](CliPid pid) { kill(pid, SIGINT); };
    const CliResult result = RunCli(run);
    pclose(source);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.out.starts_with("*** I2C Monitoring activated")) << result.out;
    EXPECT_TRUE(result.out.ends_with("\r\n"));
}

} // namespace
} // namespace Wirelog::test
