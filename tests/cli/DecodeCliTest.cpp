// SPDX-License-Identifier: MIT
// wirelog-cli decode, run as the user runs it: a separate process with files and pipes.
#include "CliProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

class DecodeCli : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "wirelog-cli-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path Input(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }
    static test::CliResult Decode(std::vector<std::string> args, const fs::path& in = "/dev/null",
                                  const std::string& out = {}) {
        args.insert(args.begin(), "decode");
        return test::RunCli({args, {}, in, out, {}, {}, {}});
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
};

const std::string kFirstCaptureLog = "*** I2C Monitoring activated, waiting for idle bus... ***\r\n"
                                     "\r\n"
                                     "START (valid)\r\n"
                                     "Address + Write + ACK, addr = 0x50\r\n"
                                     "STOP (*** BUS IS IDLE ***)\r\n";

TEST_F(DecodeCli, WritesTheSavedLogsExactBytesToStdoutOrOut) {
    // Stamps are microseconds: the START 2,600 after the STOP shows 2 ms.
    const fs::path input = Input("in.txt", "0 00\n1500 01 07 A0 02\n4100 01\n");
    const std::string expected =
        kFirstCaptureLog + "\r\nSTART (valid) [Gap from last Stop = 2mS]\r\n";
    const auto toStdout = Decode({input.string()});
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, expected);
    EXPECT_EQ(toStdout.err, "");

    // What a replaced OUT, a link or a device becomes is the output file's (OutputFileTest).
    Input("target.log", std::string(5000, 'o'));
    const auto toFile = Decode({"-o", (dir / "target.log").string(), input.string()});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadFile(dir / "target.log"), expected);
    EXPECT_EQ(Decode({"--output=" + (dir / "stdin.log").string()}, input).status, 0);
    EXPECT_EQ(ReadFile(dir / "stdin.log"), expected);
    EXPECT_EQ(Decode({"-"}, input).out, expected);

    const auto cut = Decode({Input("cut.txt", "0 01 07 A0 09\n").string()});
    EXPECT_EQ(cut.status, 0);
    EXPECT_EQ(cut.out, "\r\nSTART (valid)\r\nAddress + Write + ACK, addr = 0x50\r\n");
    EXPECT_NE(cut.err.find("ends inside an event (code 9 waits"), std::string::npos) << cut.err;

    const fs::path data = WIRELOG_TEST_DATA;
    const auto real = Decode({(data / "gigabyte_6vle_vxl_i2c.batches.txt").string()});
    EXPECT_EQ(real.status, 0) << real.err;
    EXPECT_TRUE(real.out == ReadFile(data / "gigabyte_6vle_vxl_i2c.log")) << "the reviewed log";
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
    const auto expected = Decode({Input("timed.txt", timed + "\n").string()});
    ASSERT_EQ(expected.status, 0) << expected.err;
    ASSERT_NE(expected.out.find("Data + ACK,            data = 0x42\r\n"), std::string::npos);
    ASSERT_NE(expected.out.find("\r\nSTART (valid)\r\n"), std::string::npos) << "stamps all 0";

    const fs::path rawFile = Input("raw.bin", raw);
    const auto fromFile = Decode({"--raw", rawFile.string()});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_TRUE(fromFile.out == expected.out);
    EXPECT_TRUE(Decode({"--raw"}, rawFile).out == expected.out);
}

// The error comes after the log has begun to be staged; the line's own wording is the parser's.
TEST_F(DecodeCli, BadInputFailsWithTheLineAndLeavesOutAlone) {
    std::string text;
    for (int i = 0; i < 200'000; ++i)
        text += "0 05\n";
    const fs::path input = Input("bad.txt", text + "5 0G\n");
    Input("old.log", "kept\r\n");
    const auto toStdout = Decode({input.string()});
    EXPECT_EQ(toStdout.status, 2);
    EXPECT_EQ(toStdout.out, "") << "nothing reaches standard output either";
    EXPECT_NE(toStdout.err.find("bad.txt': line 200001: bad hex byte '0G'"), std::string::npos)
        << toStdout.err;
    EXPECT_EQ(Decode({"-o", (dir / "old.log").string(), input.string()}).status, 2);
    EXPECT_EQ(ReadFile(dir / "old.log"), "kept\r\n");
    EXPECT_EQ(Decode({"-o", (dir / "new.log").string(), input.string()}).status, 2);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"bad.txt", "old.log"}));
}

TEST_F(DecodeCli, UsageInputAndOutputErrorsExitWithTheirStatusAndAMessage) {
    const std::string input = Input("in.txt", "0 00 05\n").string();
    const struct {
        std::vector<std::string> args;
        fs::path in;     // standard input
        std::string out; // standard output's file
        int status;      // 2: usage or input; 1: the log cannot be written
        const char* message;
    } rows[] = {
        {{"--bogus"}, "/dev/null", {}, 2, "wirelog-cli decode --help"},
        {{"-o"}, "/dev/null", {}, 2, "wirelog-cli decode --help"},
        {{"a.txt", "b.txt"}, "/dev/null", {}, 2, "wirelog-cli decode --help"},
        {{"-o", ""}, "/dev/null", {}, 2, "wirelog-cli decode --help"},
        {{(dir / "missing.txt").string()}, "/dev/null", {}, 2, "cannot read '"},
        {{dir.string()}, "/dev/null", {}, 2, "Is a directory"},
        {{}, dir, {}, 2, "cannot read standard input: Is a directory"},
        {{"/dev/zero"}, "/dev/null", {}, 2, "line 1: missing time stamp: '\\x00"},
        {{"-o", (dir / "no/such/dir/out.log").string(), input},
         "/dev/null",
         {},
         1,
         "cannot write '"},
        {{input},
         "/dev/null",
         "/dev/full",
         1,
         "cannot write standard output: No space left on device"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        const auto run = Decode(row.args, row.in, row.out);
        EXPECT_EQ(run.status, row.status);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"in.txt"});
    const auto help = Decode({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: wirelog-cli decode [--raw] [-o OUT] [INPUT]"),
              std::string::npos);
}

} // namespace
} // namespace Wirelog
