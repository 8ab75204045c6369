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

#include <cstring>
#include <fstream>
#include <functional>
#include <tuple>

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
    // as root); the body's failures come back as a non-zero status.
    void RunUnprivileged(const std::function<bool()>& body) {
        if (geteuid() != 0) {
            EXPECT_TRUE(body());
            return;
        }
        ASSERT_EQ(chown(dir.c_str(), kNobody, kNobody), 0);
        const pid_t child = fork();
        if (child == 0) {
            const bool dropped = setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 &&
                                 setuid(kNobody) == 0 && geteuid() == kNobody;
            _exit(dropped && body() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
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

// What a descriptor holds: all of it once no writer is left, at once, never waiting for one.
std::string Drain(int fd) {
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return bytes;
}

TEST_F(OutputFileTest, DevicesFifosAndDescriptorLinksAreWrittenDirectly) {
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Opened without waiting for a writer, so a FIFO renamed over reads empty instead of hanging.
    const int fifo = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fifo, 0);
    EXPECT_EQ(Save(dir / "fifo"), "");
    EXPECT_EQ(Drain(fifo), kLog);

    // Standard output appended to a file (`>>`): the descriptor is written where it stands.
    std::ofstream(dir / "appended.log") << "old\r\n";
    const int appended = open((dir / "appended.log").c_str(), O_WRONLY | O_APPEND);
    struct stat before {};
    ASSERT_EQ(fstat(appended, &before), 0);
    for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"})
        EXPECT_EQ(Save(prefix + std::to_string(appended)), "") << prefix;
    struct stat after {};
    EXPECT_EQ(stat((dir / "appended.log").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "not renamed over";
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
// file keeps its owner where the process may give it.
TEST_F(OutputFileTest, TheStageHasTheReplacedFilesModeAndOwner) {
    const fs::path secret = dir / "secret.log";
    std::ofstream(secret) << "old";
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    {
        OutputFile file;
        std::string error;
        ASSERT_TRUE(file.Open(secret, error)) << error;
        struct stat stage {};
        ASSERT_EQ(stat(file.StagePath().c_str(), &stage), 0);
        EXPECT_EQ(stage.st_mode & 0777, 0600u);
    }
    if (geteuid() != 0)
        return; // only root gives files away
    ASSERT_EQ(chown(secret.c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0640), 0);
    EXPECT_EQ(Save(secret), "");
    struct stat saved {};
    ASSERT_EQ(stat(secret.c_str(), &saved), 0);
    EXPECT_EQ(std::tuple(saved.st_uid, saved.st_gid, saved.st_mode & 0777),
              std::tuple(kNobody, static_cast<gid_t>(kNobody), 0640u));
}

// A file written in place (its folder takes no new file) on a full disk keeps its old bytes.
TEST_F(OutputFileTest, AFullDiskLeavesAFileWrittenInPlaceAsItWas) {
    constexpr int kCannotMount = 77;
    const fs::path kept = dir / "kept.log";
    const pid_t child = fork();
    if (child == 0) {
        // A small file system of this child's own, gone with it.
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
            _exit(kCannotMount);
        std::ofstream(kept) << "old";
        fs::permissions(kept, fs::perms::all);
        for (std::ofstream filler(dir / "filler");
             filler << std::string(4096, 'f') << std::flush;) {
        }
        bool ok = chmod(dir.c_str(), 0555) == 0 && setgroups(0, nullptr) == 0 &&
                  setgid(kNobody) == 0 && setuid(kNobody) == 0;
        OutputFile file;
        std::string error;
        ok = ok && file.Open(kept, error) && file.Write(std::string(16 * 1024, 'x')) &&
             !file.Commit(error) && error == std::strerror(ENOSPC) && ReadFile(kept) == "old";
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotMount)
        GTEST_SKIP() << "no small file system can be mounted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace Wirelog
