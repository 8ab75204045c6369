// SPDX-License-Identifier: MIT
#pragma once
// Where a saved log goes, for the window's Save Log and the command line alike. Nothing is
// shown until Commit(): a run that fails half-way leaves an existing file as it was.
//
// What the name refers to decides how it is written:
// - nothing, or a regular file: a stage file beside it, renamed over it on Commit (atomic);
// - a symbolic link: the file it leads to, as above, so the link stays; a dangling link gets
//   its target created;
// - a descriptor of this process (/dev/stdout, /dev/fd/N, /proc/self/fd/N): written where it
//   stands, as "-" is, whatever file it leads to;
// - a device, FIFO or socket, or another link into /proc or /dev/fd: opened and written
//   directly, never renamed over or removed;
// - an existing regular file in a folder that takes no new file: written in place once the disk
//   has room for the whole log;
// - "-": standard output.
// Those written directly get the bytes on Commit, from an anonymous stage, so a failed run
// writes nothing to them either.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace Wirelog {

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile(); // removes a stage that was never committed

    // False, with the system's reason in `error` ("Permission denied"), when the target cannot
    // be written.
    bool Open(const std::filesystem::path& target, std::string& error);

    // False once a write has failed; Commit() then reports why.
    bool Write(std::string_view bytes);

    // Makes the written bytes the target's content. False, with the reason, on failure; a
    // renamed-over target is then unchanged.
    bool Commit(std::string& error);

    // The named stage beside the target, empty when there is none: a signal handler that ends
    // the program at once removes it by this name.
    const std::filesystem::path& StagePath() const { return stagePath_; }
    bool WritesDirectly() const { return direct_ != nullptr; }

private:
    struct FileCloser {
        void operator()(std::FILE* file) const;
    };
    using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

    bool OpenOwnDescriptor(int descriptor, std::string& error);
    bool OpenStage(std::error_code& ec);
    bool OpenDirect(std::error_code& ec);
    void OpenAnonymousStage();
    std::error_code CommitStaged();
    std::error_code CommitDirect();

    FilePtr stage_;
    FilePtr direct_; // the target itself, when it is written directly
    bool directIsStdout_ = false;
    bool keepsPosition_ = false; // written where it stands, never cut: "-" and /dev/fd/N
    std::uint64_t size_ = 0;     // bytes written so far
    bool unreserved_ = false;    // being written in place with no room reserved for it
    std::filesystem::path target_;
    std::filesystem::path stagePath_;
    std::string memory_; // the stage when no anonymous file can be made
    bool inMemory_ = false;
    int writeError_ = 0;
    bool committed_ = false;
};

} // namespace Wirelog
