// SPDX-License-Identifier: MIT
// decode of raw logic samples as sigrok-cli exports and streams them: the same log as the
// session, each line out before the samples after its deciding one are written, and a live
// pipeline from sigrok's demo device that stops cleanly on SIGINT.
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

// Sessions with their sigrok rate, SCL and SDA by index and by name; the first at 1 MHz.
const std::vector<std::vector<std::string>> kSessions = {
    {"wii_nunchuk_init", "1m", "0", "1", "SCL", "SDA"},
    {"pca9571_simple", "2M", "1", "0", "SCL", "SDA"},
    {"braintechnology_usb_lps_powerup", "12 MHz", "2", "1", "PB2/SCL", "PB1/SDA"}};

// The session's log, the decode arguments for its raw samples, and those samples' file.
std::tuple<std::string, std::vector<std::string>, std::string>
Exported(const std::filesystem::path& dir, const std::vector<std::string>& s) {
    const std::string sr = WIRELOG_CAPTURE_DATA "/" + s[0] + ".sr", bin = Utf8(dir / s[0]);
    const std::string command = "sigrok-cli -i '" + sr + "' -O binary > '" + bin + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return {RunCli({{"decode", "--timestamps", "--scl", s[4], "--sda", s[5], sr}}).out,
            {"decode", "--timestamps", "--format", "binary", "--samplerate", s[1], "--scl", s[2],
             "--sda", s[3], "-"},
            bin};
}

TEST_F(BinaryDecodeCli, SigrokExportsGiveTheSessionsLog) {
    for (const auto& session : kSessions) {
        const auto [log, args, bin] = Exported(dir, session);
        const auto raw = RunCli({args, {}, bin});
        EXPECT_EQ(raw.status, 0) << raw.err;
        EXPECT_TRUE(raw.out == log && !log.empty()) << session[0];
    }
}

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

TEST_F(BinaryDecodeCli, EachLineComesBeforeTheSamplesAfterItsDecidingOne) {
    const auto [expected, args, bin] = Exported(dir, kSessions[0]);
    const std::string samples = ReadFile(bin), out = Utf8(dir / "log");
    std::string command = "exec '" WIRELOG_CLI_PATH "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    ASSERT_EQ(mkfifo(out.c_str(), 0600), 0);
    std::FILE* in = popen((command + " > '" + out + "'").c_str(), "w");
    const int fd = open(out.c_str(), O_RDONLY);
    std::string log;
    std::size_t written = 0;
    for (std::size_t line = 0, next; line < expected.size(); line = next) {
        next = expected.find("\r\n", line) + 2;
        if (next == line + 2)
            continue; // a blank line comes with the event after it
        // At 1 MHz a line's stamp in microseconds is its deciding sample.
        const std::size_t upTo = std::stoul(expected.substr(line, 8).erase(1, 1)) + 1;
        written += std::fwrite(&samples[written], 1, std::max(upTo, written) - written, in);
        std::fflush(in);
        ASSERT_TRUE(ReadUntil(fd, log, expected.substr(0, next)))
            << "no " << expected.substr(line, next - line) << "after " << written << " samples";
    }
    std::fwrite(&samples[written], 1, samples.size() - written, in);
    EXPECT_EQ(pclose(in), 0);
    ReadUntil(fd, log, "the end of the output");
    close(fd);
    EXPECT_TRUE(log == expected);
}

TEST_F(BinaryDecodeCli, LivePipelineFromSigrokStopsCleanlyOnSigint) {
    const std::string fifo = Utf8(dir / "samples");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Its standard input stays open until pclose: sigrok-cli --continuous stops at a key.
    std::FILE* sigrok = popen(("exec sigrok-cli -d demo --channels D0,D1 --config "
                               "samplerate=1m --continuous -O binary 2>/dev/null > '" +
                               fifo + "'")
                                  .c_str(),
                              "w");
    ASSERT_NE(sigrok, nullptr);
    const auto run = RunCli(
        {{"decode", "--format", "binary", "--samplerate", "1m", "--scl", "0", "--sda", "1", "-"},
         {},
         fifo,
         {},
         [](CliPid pid) { kill(pid, SIGINT); }});
    pclose(sigrok);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out.starts_with("*** I2C Monitoring activated")) << run.out.substr(0, 200);
    EXPECT_TRUE(run.out.ends_with("\r\n"));
}

} // namespace
} // namespace Wirelog::test
