// SPDX-License-Identifier: MIT
// Output files: what each kind of name is after a save, and what a failure says.
#include "decode/OutputFile.h"
#include "TestPlatform.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

namespace Wirelog {
namespace {

namespace fs = std::filesystem;
constexpr std::string_view kLog = "START (valid)\r\n";
constexpr uid_t kNobody = 65534;

using WirelogTest::Listing;
using WirelogTest::ReadFile;

// The error of a whole save of kLog to `path`, empty when it worked.
std::string Save(const fs::path& path) {
    OutputFile file;
    std::string error;
    if (file.Open(path, error) && file.Write(kLog))
        file.Commit(error);
    return error;
}

class OutputFileTest : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "wirelog-out-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }
    // Runs `body` as an unprivileged user (in a child that gives up root when the suite runs
    // as root); the body's failures come back as a non-zero status. `prepare`, run as root in
    // the child first, may decline: the test is then skipped.
    void RunUnprivileged(const std::function<bool()>& body,
                         const std::function<bool()>& prepare = {}) {
        constexpr int kDeclined = 77;
        if (geteuid() != 0) {
            if (prepare)
                GTEST_SKIP() << "needs root";
            EXPECT_TRUE(body());
            return;
        }
        ASSERT_EQ(chown(dir.c_str(), kNobody, kNobody), 0);
        const pid_t child = fork();
        if (child == 0) {
            if (prepare && !prepare())
                _exit(kDeclined);
            const bool dropped = setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                                 setuid(kNobody) == 0 && geteuid() == kNobody;
            _exit(dropped && body() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (WIFEXITED(status) && WEXITSTATUS(status) == kDeclined)
            GTEST_SKIP() << "what the test needs cannot be set up here";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    fs::path dir;
};

// Regular files (reached through links or not) are replaced whole; nothing else is ever renamed
// over, and no stage is left beside any of them.
TEST_F(OutputFileTest, EachKindOfNameIsWrittenAsItIs) {
    std::ofstream(dir / "old.log") << "older and longer content";
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir / "old.log", mode);
    fs::create_symlink("old.log", dir / "link.log");
    fs::create_symlink("made.log", dir / "dangling.log");
    const std::string longName(255, 'n');
    const std::pair<fs::path, fs::path> rows[] = {
        // the name saved to, and the file that holds the bytes afterwards
        {dir / "new.log", dir / "new.log"},
        {dir / "link.log", dir / "old.log"},
        {dir / "dangling.log", dir / "made.log"},
        {dir / longName, dir / longName},
    };
    for (const auto& [name, holder] : rows) {
        SCOPED_TRACE(name.filename().string().substr(0, 20));
        EXPECT_EQ(Save(name), "");
        EXPECT_EQ(ReadFile(holder), kLog);
    }
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"dangling.log", "link.log", "made.log",
                                                      "new.log", longName, "old.log"}));
    EXPECT_EQ(fs::status(dir / "old.log").permissions() & fs::perms::all, mode) << "kept";
}

TEST_F(OutputFileTest, DevicesFifosAndDescriptorLinksAreWrittenDirectly) {
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Opened without waiting for a writer, so a FIFO renamed over reads empty instead of hanging.
    const int fifo = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    EXPECT_EQ(Save(dir / "fifo"), "");
    char got[64] = {};
    EXPECT_EQ(std::string_view(got, std::max<ssize_t>(read(fifo, got, sizeof got), 0)), kLog);
    close(fifo);

    // Standard output appended to a file (`>>`): the descriptor is written where it stands.
    std::ofstream(dir / "appended.log") << "old\r\n";
    const int appended = open((dir / "appended.log").c_str(), O_WRONLY | O_APPEND);
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"})
        EXPECT_EQ(Save(prefix + std::to_string(appended)), "") << prefix;
    EXPECT_EQ(ReadFile(dir / "appended.log"), "old\r\n" + std::string(kLog) + std::string(kLog));
    close(appended);

    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const fs::path stdoutLike = dir / "stdout";
    fs::create_symlink("/proc/self/fd/" + std::to_string(pipeFds[1]), stdoutLike);
    EXPECT_EQ(Save(stdoutLike), "");
    close(pipeFds[1]);
    EXPECT_EQ(ReadFile("/proc/self/fd/" + std::to_string(pipeFds[0])), kLog);
    close(pipeFds[0]);
    EXPECT_EQ(Save(dir), std::strerror(EISDIR));
    EXPECT_TRUE(fs::is_fifo(dir / "fifo") && fs::is_symlink(stdoutLike));
    EXPECT_EQ(Listing(dir), (std::vector<std::string>{"appended.log", "fifo", "stdout"}));
}

// As a user who may not add files to the folder: an existing file is still written (in place),
// a new one is refused with the reason, and /dev/null stays a device.
TEST_F(OutputFileTest, AFolderThatTakesNoNewFileStillHasItsFilesWritten) {
    std::ofstream(dir / "kept.log") << "old";
    fs::permissions(dir / "kept.log", fs::perms::all);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    RunUnprivileged([&] {
        return Save(dir / "kept.log") == "" && ReadFile(dir / "kept.log") == kLog &&
               Save(dir / "new.log") == std::strerror(EACCES) && Save("/dev/null") == "" &&
               fs::is_character_file("/dev/null");
    });
    EXPECT_EQ(Listing(dir), std::vector<std::string>{"kept.log"});
}

// The stage beside a file is as private as the file from its first byte, and what replaces the
// file keeps its owner where the process may give it (root only).
TEST_F(OutputFileTest, TheStageHasTheReplacedFilesModeAndOwner) {
    const fs::path secret = dir / "secret.log";
    std::ofstream(secret) << "old";
    const bool root = geteuid() == 0;
    ASSERT_EQ(chmod(secret.c_str(), 0640) | (root ? chown(secret.c_str(), kNobody, 0) : 0), 0);
    OutputFile file;
    std::string error;
    struct stat stage {};
    struct stat saved {};
    ASSERT_TRUE(file.Open(secret, error) && stat(file.StagePath().c_str(), &stage) == 0);
    EXPECT_EQ(stage.st_mode & 0777, 0640u);
    ASSERT_TRUE(file.Write(kLog) && file.Commit(error) && stat(secret.c_str(), &saved) == 0);
    EXPECT_EQ(saved.st_uid, root ? kNobody : geteuid());
}

// A file written in place (its folder takes no new file) on a full disk keeps its old bytes.
TEST_F(OutputFileTest, AFullDiskLeavesAFileWrittenInPlaceAsItWas) {
    const fs::path kept = dir / "kept.log";
    const auto full = [&] { // a small file system of the child's own, gone with it
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0555") != 0)
            return false;
        std::ofstream(kept) << "old";
        fs::permissions(kept, fs::perms::all);
        for (std::ofstream filler(dir / "filler"); filler << std::string(4096, 'f') << std::flush;)
            ;
        return true;
    };
    RunUnprivileged(
        [&] {
            OutputFile file;
            std::string error;
            return file.Open(kept, error) && file.Write(std::string(16 * 1024, 'x')) &&
                   !file.Commit(error) && error == std::strerror(ENOSPC) && ReadFile(kept) == "old";
        },
        full);
}

} // namespace
} // namespace Wirelog
