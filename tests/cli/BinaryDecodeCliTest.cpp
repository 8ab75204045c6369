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

struct Session {
    std::string name, rate, scl, sda, sclName, sdaName;
};
const Session kWii{"wii_nunchuk_init", "1m", "0", "1", "SCL", "SDA"};

std::string Export(const std::filesystem::path& dir, const Session& session) {
    const std::string bin = Utf8(dir / (session.name + ".bin"));
    const std::string command = "sigrok-cli -i '" WIRELOG_CAPTURE_DATA "/" + session.name +
                                ".sr' -O binary > '" + bin + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return bin;
}

std::vector<std::string> RawArgs(const Session& s) {
    return {"decode", "--timestamps", "--format", "binary", "--samplerate", s.rate, "--scl",
            s.scl,    "--sda",        s.sda,      "-"};
}

std::string SessionLog(const Session& s) {
    const std::string sr = WIRELOG_CAPTURE_DATA "/" + s.name + ".sr";
    return RunCli({{"decode", "--timestamps", "--scl", s.sclName, "--sda", s.sdaName, sr}}).out;
}

TEST_F(BinaryDecodeCli, SigrokExportsGiveTheSessionsLog) {
    for (const Session& session :
         {kWii, Session{"pca9571_simple", "2M", "1", "0", "SCL", "SDA"},
          Session{"braintechnology_usb_lps_powerup", "12 MHz", "2", "1", "PB2/SCL", "PB1/SDA"}}) {
        const auto raw = RunCli({RawArgs(session), {}, Export(dir, session)});
        EXPECT_EQ(raw.status, 0) << raw.err;
        EXPECT_TRUE(raw.out == SessionLog(session) && !raw.out.empty()) << session.name;
    }
    // How a stream that is no whole samples is refused is the reader's (BinaryReader).
    const auto beyond =
        RunCli({{"decode", "--format=binary", "--samplerate=1m", "--scl=8", "--sda=1", "-"}});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_NE(beyond.err.find("standard input: has no channel '8' (channels: 0, 1,"),
              std::string::npos)
        << beyond.err;
}

// Reads from `fd` until `text` holds `wanted`, for at most a minute: a generous bound, as a
// line that waits for later samples never comes (they are not written).
bool ReadUntil(int fd, std::string& text, const std::string& wanted) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    char buffer[4096];
    while (text.find(wanted) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        ssize_t got = 0;
        if (left.count() <= 0 || poll(&wait, 1, static_cast<int>(left.count())) <= 0 ||
            (got = read(fd, buffer, sizeof buffer)) <= 0)
            return false;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

TEST_F(BinaryDecodeCli, EachLineComesBeforeTheSamplesAfterItsDecidingOne) {
    const std::string samples = ReadFile(Export(dir, kWii));
    const std::string expected = SessionLog(kWii);
    int in[2], out[2];
    ASSERT_EQ(pipe2(in, O_CLOEXEC) | pipe2(out, O_CLOEXEC), 0);
    std::vector<std::string> args = RawArgs(kWii);
    std::vector<char*> argv{const_cast<char*>(WIRELOG_CLI_PATH)};
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    std::string log;
    std::size_t written = 0;
    for (std::size_t line = 0, next; line < expected.size(); line = next) {
        next = expected.find("\r\n", line) + 2;
        if (next == line + 2)
            continue; // a blank line comes with the event after it
        // At 1 MHz a line's stamp in microseconds is its deciding sample.
        const std::size_t upTo = std::stoul(expected.substr(line, 8).erase(1, 1)) + 1;
        if (upTo > written) {
            ASSERT_EQ(write(in[1], &samples[written], upTo - written), ssize_t(upTo - written));
            written = upTo;
        }
        ASSERT_TRUE(ReadUntil(out[0], log, expected.substr(0, next)))
            << "no " << expected.substr(line, next - line) << "after " << written << " samples";
    }
    ASSERT_EQ(write(in[1], &samples[written], samples.size() - written),
              ssize_t(samples.size() - written));
    close(in[1]);
    ReadUntil(out[0], log, "the end of the output");
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
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
