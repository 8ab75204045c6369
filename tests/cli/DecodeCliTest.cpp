// wirelog-cli decode, run as the user runs it: a separate process with files and pipes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

class DecodeCli : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "wirelog-cli-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Path(const std::string& name) const { return dir_ / name; }

    fs::path Input(const std::string& name, const std::string& bytes) const {
        WriteFile(Path(name), bytes);
        return Path(name);
    }

    // Runs `wirelog-cli decode args...`, stdin from `stdinFile` (empty when none), stdout to
    // `stdoutFile` (captured when none).
    Outcome Decode(const std::vector<std::string>& args, const fs::path& stdinFile = {},
                   const fs::path& stdoutFile = {}) const {
        const fs::path outPath = stdoutFile.empty() ? Path(".stdout") : stdoutFile;
        const fs::path errPath = Path(".stderr");
        const fs::path inPath = stdinFile.empty() ? fs::path("/dev/null") : stdinFile;
        std::vector<std::string> argv = {WIRELOG_CLI_PATH, "decode"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& arg : argv)
            cargv.push_back(arg.data());
        cargv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        Outcome run;
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0);
        int status = 0;
        if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            run.status = WEXITSTATUS(status);
        if (stdoutFile.empty())
            run.out = ReadFile(outPath);
        run.err = ReadFile(errPath);
        return run;
    }

    // Files in the test directory other than the test's own bookkeeping.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name != ".stdout" && name != ".stderr")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
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
    const Outcome toStdout = Decode({input.string()});
    EXPECT_EQ(toStdout.status, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, expected);
    EXPECT_EQ(toStdout.err, "");

    const Outcome toFile = Decode({"-o", Path("out.log").string(), input.string()});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadFile(Path("out.log")), expected);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.txt", "out.log"}));

    const Outcome fromStdin = Decode({"--output=" + Path("stdin.log").string()}, input);
    EXPECT_EQ(fromStdin.status, 0) << fromStdin.err;
    EXPECT_EQ(ReadFile(Path("stdin.log")), expected);
    EXPECT_EQ(Decode({"-"}, input).out, expected);
}

TEST_F(DecodeCli, StreamEndingInsideAnEventIsNoted) {
    const Outcome run = Decode({Input("in.txt", "0 01 07 A0 09\n").string()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "\r\nSTART (valid)\r\nAddress + Write + ACK, addr = 0x50\r\n");
    EXPECT_NE(run.err.find("ends inside an event (code 9 waits"), std::string::npos) << run.err;
}

TEST_F(DecodeCli, RealCaptureMatchesItsReviewedLog) {
    const fs::path data = WIRELOG_TEST_DATA;
    const Outcome run = Decode({(data / "gigabyte_6vle_vxl_i2c.batches.txt").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == ReadFile(data / "gigabyte_6vle_vxl_i2c.log"));
}

TEST_F(DecodeCli, RawStreamDecodesLikeOneReadStampedZero) {
    // An event split across the first 32,764-byte read, and codes that look like values.
    std::string raw(32'763, '\x05');
    raw += "\x09\x42\x01\x07\xA0\x02\x01";
    raw += std::string(40'000, '\x10');
    std::string timed = "0";
    for (const unsigned char byte : raw) {
        constexpr char kDigits[] = "0123456789ABCDEF";
        timed += ' ';
        timed += kDigits[byte >> 4];
        timed += kDigits[byte & 0x0F];
    }
    const Outcome expected = Decode({Input("timed.txt", timed + "\n").string()});
    ASSERT_EQ(expected.status, 0) << expected.err;
    ASSERT_NE(expected.out.find("Data + ACK,            data = 0x42\r\n"), std::string::npos);
    ASSERT_NE(expected.out.find("\r\nSTART (valid)\r\n"), std::string::npos) << "stamps all 0";

    const fs::path rawFile = Input("raw.bin", raw);
    const Outcome fromFile = Decode({"--raw", rawFile.string()});
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_TRUE(fromFile.out == expected.out);
    const Outcome fromStdin = Decode({"--raw"}, rawFile);
    EXPECT_TRUE(fromStdin.out == expected.out);
}

TEST_F(DecodeCli, CaptureKeepsTheFirst999999EventsAndSaysSo) {
    std::string input;
    for (int line = 0; line < 1001; ++line) {
        input += std::to_string(line);
        for (int i = 0; i < 1000; ++i)
            input += " 05";
        input += '\n';
    }
    input += "2000000 01\n"; // 1,001,001 events in all
    const Outcome run = Decode({Input("in.txt", input).string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string line = "*** Bus is now idle ***\r\n";
    EXPECT_EQ(run.out.size(), 999'999 * line.size());
    EXPECT_EQ(run.out.find("START"), std::string::npos);
    EXPECT_NE(run.err.find("999999"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1002 bytes"), std::string::npos) << run.err;
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

struct BadInput {
    std::string text;
    const char* message; // what stderr must say
};

void PrintTo(const BadInput& bad, std::ostream* os) {
    *os << bad.message;
}

class DecodeCliBadInput : public DecodeCli, public testing::WithParamInterface<BadInput> {};

TEST_P(DecodeCliBadInput, FailsWithTheLineAndLeavesOutAlone) {
    const fs::path input = Input("in.txt", GetParam().text);
    WriteFile(Path("old.log"), "kept\r\n");

    const Outcome toStdout = Decode({input.string()});
    EXPECT_EQ(toStdout.status, 2);
    EXPECT_EQ(toStdout.out, "") << "nothing reaches standard output either";
    EXPECT_NE(toStdout.err.find(GetParam().message), std::string::npos) << toStdout.err;

    const Outcome replacing = Decode({"-o", Path("old.log").string(), input.string()});
    EXPECT_EQ(replacing.status, 2);
    EXPECT_EQ(ReadFile(Path("old.log")), "kept\r\n");
    const Outcome creating = Decode({"-o", Path("new.log").string(), input.string()});
    EXPECT_EQ(creating.status, 2);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.txt", "old.log"}));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DecodeCliBadInput,
    testing::Values(BadInput{"0 00\n# fine\n10 01 7\n", "in.txt': line 3: bad hex byte '7'"},
                    BadInput{"0 00\n50 01\n49 02\n", "line 3: decreasing time stamp"},
                    BadInput{"\n\nA0 07\n", "line 3: missing time stamp"},
                    BadInput{"99999999999999999999 01\n", "line 1: time stamp"},
                    // An error far into the input, after the log has begun to be staged.
                    BadInput{Repeat("0 05\n", 200'000) + "5 0G\n",
                             "line 200001: bad hex byte '0G'"}));

TEST_F(DecodeCli, UnreadableInputOrUnwritableOutFailsCleanly) {
    const fs::path input = Input("in.txt", "0 00\n");
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{Path("missing.txt").string()}, "cannot read '"},
        {{dir_.string()}, "it is a directory"},
        {{"-o", Path("no/such/dir/out.log").string(), input.string()}, "cannot write '"},
        {{"-o", dir_.string(), input.string()}, "it is a directory"},
    };
    for (const auto& c : cases) {
        const Outcome run = Decode(c.args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"in.txt"});
}

TEST_F(DecodeCli, FailedWriteToStdoutIsAnError) {
    const Outcome run = Decode({Input("in.txt", "0 00 05\n").string()}, {}, "/dev/full");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("cannot write standard output"), std::string::npos) << run.err;
}

TEST_F(DecodeCli, ReplacedOutKeepsItsModeAndItsLink) {
    const fs::path input = Input("in.txt", "0 00\n1500 01 07 A0 02\n");
    WriteFile(Path("target.log"), std::string(5000, 'o'));
    fs::permissions(Path("target.log"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("target.log", Path("link.log"));

    const Outcome run = Decode({"-o", Path("link.log").string(), input.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(Path("link.log")));
    EXPECT_EQ(ReadFile(Path("target.log")), kFirstCaptureLog);
    EXPECT_EQ(fs::status(Path("target.log")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(Listing(), (std::vector<std::string>{"in.txt", "link.log", "target.log"}));
}

TEST_F(DecodeCli, UsageErrorsAndHelp) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--bogus"}, {"-o"}, {"a.txt", "b.txt"}, {"-o", ""}}) {
        const Outcome run = Decode(args);
        EXPECT_EQ(run.status, 2) << args[0];
        EXPECT_NE(run.err.find("wirelog-cli decode --help"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    const Outcome help = Decode({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* mention : {"usage: wirelog-cli decode [--raw] [-o OUT] [INPUT]", "--raw",
                                "32764", "999,999", "microseconds", "Exit status"})
        EXPECT_NE(help.out.find(mention), std::string::npos) << mention;
}

} // namespace
