// SPDX-License-Identifier: MIT
#pragma once
// A destination that shows nothing until commit(): the bytes are staged first, so a run that
// fails half-way leaves an existing file exactly as it was and creates no new one.
//
// For a file, the stage is a new file in the same directory, renamed over the target on commit
// (a rename within one directory replaces the target atomically). For standard output, the
// stage is an anonymous temporary file, or memory when none can be made.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace Wirelog::cli {

class StagedOutput {
public:
    StagedOutput() = default;
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;
    ~StagedOutput(); // removes a stage that was never committed

    // Prepares to replace `target` (a symbolic link is followed, so the link stays). False,
    // with a message in `error`, when the target's directory takes no new file or the target
    // is a directory.
    bool openFile(const std::filesystem::path& target, std::string& error);
    void openStdout();

    // False once a write has failed; the reason is reported by commit().
    bool write(std::string_view bytes);

    // Makes the staged bytes the destination's content. False, with a message, on failure;
    // the target is then unchanged.
    bool commit(std::string& error);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

    bool commitFile(std::string& error);
    bool commitStdout(std::string& error);
    std::string describeTarget() const;

    FilePtr stage_;
    std::filesystem::path target_;
    std::filesystem::path stagePath_; // empty for standard output
    std::string memory_;              // the stage when standard output has no temporary file
    bool toStdout_ = false;
    bool inMemory_ = false;
    int writeError_ = 0;
    bool committed_ = false;
};

} // namespace Wirelog::cli
