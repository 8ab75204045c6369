// SPDX-License-Identifier: MIT
#pragma once
// Where a capture's log goes while it runs, for logging rigs that run for days: written as it
// comes and synced at the caller's pace, so a crash loses only what came since the last sync.
//
// - no name, or "-": standard output;
// - a device, FIFO or socket, or a link into /proc or /dev/fd (/dev/stdout): written directly;
// - anything else (a new name, a regular file, a link to one): the log goes to NAME.partial,
//   which takes NAME when the capture ends, so an unfinished log shows as one. With rotation
//   the parts are STEM-<start, UTC>-NNNNNNNN.EXT beside NAME, each a .partial until its end.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Wirelog::cli {

class CaptureOutput {
public:
    CaptureOutput();
    ~CaptureOutput();
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    // `startUnixSeconds` names the parts of a rotated log. False, with a message naming the file,
    // when it cannot be written (or cannot rotate, being no file).
    bool Open(const std::optional<std::string>& name, bool rotate, std::int64_t startUnixSeconds,
              std::string& error);

    // False once a write has failed; Finish() then says why.
    bool Write(std::string_view bytes);
    // Puts what was written on the disk (files only). False on failure.
    bool Sync();
    // Ends the current part, complete and synced under its final name, and begins the next.
    bool Cut();
    // Ends the last part. False, with the reason, if anything failed; a file is then left under
    // its .partial name with everything written so far.
    bool Finish(std::string& error);

    bool ToStandardOutput() const;
    // Whether standard output went away (a closed pipe), which ends a capture quietly.
    bool ReaderGone() const;

    // The name of the part `index` (1, 2, ...) of a rotated log, for a capture started at
    // `startUnixSeconds`.
    static std::filesystem::path PartName(const std::filesystem::path& target,
                                          std::int64_t startUnixSeconds, std::uint64_t index);
    static std::filesystem::path PartialName(const std::filesystem::path& final);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace Wirelog::cli
