// SPDX-License-Identifier: MIT
#include "cli/CaptureOutput.h"

#include "cli/FileNames.h"
#include "decode/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

namespace Wirelog::cli {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartialSuffix = ".partial";

enum class Kind { StandardOutput, Direct, File };

std::string Quoted(const fs::path& path) {
    std::string quoted(1, '\'');
    quoted += Utf8FromPath(path);
    quoted += '\'';
    return quoted;
}

} // namespace

struct CaptureOutput::State {
    Kind kind = Kind::StandardOutput;
    fs::path target;  // the name the log takes (rotation: the pattern of the parts)
    fs::path final;   // the current part's final name
    fs::path partial; // ...and its name while it is written
    bool rotate = false;
    std::int64_t start = 0;
    std::uint64_t part = 0;
    int fd = -1;
    std::error_code error;
    std::string failedName;
    bool unsynced = false;
    bool partWritten = false; // the current part has bytes
    bool readerGone = false;

    bool Fail(std::error_code code, const fs::path& name) {
        if (!error) {
            error = code;
            failedName = Quoted(name);
        }
        return false;
    }

    bool OpenPart() {
        final = rotate ? PartName(target, start, ++part) : target;
        partial = PartialName(final);
        partWritten = false;
        errno = 0;
        // Private from the start: a log may sit here for days before it takes its name.
        fd = files::CreatePrivate(partial, target);
        return fd >= 0 || Fail(files::LastError(), partial);
    }

    // The current part under its final name, complete and on the disk.
    bool ClosePart() {
        if (fd < 0)
            return !error;
        const std::error_code synced = files::SyncFile(fd);
        const std::error_code closed = files::CloseFile(fd);
        fd = -1;
        if (synced || closed)
            return Fail(synced ? synced : closed, partial);
        if (error)
            return false;
        if (const std::error_code renamed = files::Replace(partial, final))
            return Fail(renamed, final);
        files::SyncFolder(final);
        return true;
    }
};

CaptureOutput::CaptureOutput() : state_(std::make_unique<State>()) {}

CaptureOutput::~CaptureOutput() {
    State& s = *state_;
    if (s.fd < 0)
        return;
    (void)files::CloseFile(s.fd);
    // A capture that never began (no module to open) leaves nothing behind; one that wrote and
    // did not end as asked leaves its part unfinished, under the .partial name.
    if (s.kind == Kind::File && !s.partWritten) {
        std::error_code ignored;
        fs::remove(s.partial, ignored);
    }
}

fs::path CaptureOutput::PartialName(const fs::path& final) {
    fs::path partial = final;
    partial += std::string(kPartialSuffix);
    return partial;
}

fs::path CaptureOutput::PartName(const fs::path& target, std::int64_t startUnixSeconds,
                                 std::uint64_t index) {
    const std::time_t start = static_cast<std::time_t>(startUnixSeconds);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &start);
#else
    gmtime_r(&start, &utc);
#endif
    char stamp[48];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    char number[24];
    std::snprintf(number, sizeof number, "%08llu", static_cast<unsigned long long>(index));
    std::string middle(1, '-');
    middle += stamp;
    middle += '-';
    middle += number;
    fs::path name = target.stem();
    name += middle;
    name += target.extension();
    return target.has_parent_path() ? target.parent_path() / name : name;
}

bool CaptureOutput::Open(const std::optional<std::string>& name, bool rotate,
                         std::int64_t startUnixSeconds, std::string& error) {
    State& s = *state_;
    s.rotate = rotate;
    s.start = startUnixSeconds;
    if (!name || *name == "-") {
        SetBinaryStdout();
        s.kind = Kind::StandardOutput;
    } else {
        const fs::path path = PathFromUtf8(*name);
        files::Destination destination;
        if (const std::error_code ec = files::Resolve(path, destination)) {
            error = "cannot write " + Quoted(path) + ": " + ec.message();
            return false;
        }
        s.kind = destination.direct ? Kind::Direct : Kind::File;
        s.target = destination.path;
        if (s.kind == Kind::Direct) {
            errno = 0;
            // A descriptor of this process goes on where it stands, as standard output would.
            s.fd = destination.descriptor >= 0 ? files::Duplicate(destination.descriptor)
                                               : files::OpenExisting(s.target);
            if (s.fd < 0) {
                error = "cannot write " + Quoted(path) + ": " + files::LastError().message();
                return false;
            }
        } else if (!s.OpenPart()) {
            error = "cannot write " + s.failedName + ": " + s.error.message();
            if (s.error == std::errc::file_exists)
                error += " (left by a capture that did not end: rename or remove it)";
            return false;
        }
    }
    if (rotate && s.kind != Kind::File) {
        error = "only a file can rotate, not " +
                (name && *name != "-" ? Quoted(PathFromUtf8(*name)) : "standard output");
        return false;
    }
    return true;
}

bool CaptureOutput::Write(std::string_view bytes) {
    State& s = *state_;
    if (s.error)
        return false;
    if (s.kind == Kind::StandardOutput) {
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
            std::fflush(stdout) == 0)
            return true;
        s.readerGone = errno == EPIPE;
        return s.Fail(files::LastError(), "-");
    }
    if (const std::error_code failed = files::WriteAll(s.fd, bytes))
        return s.Fail(failed, s.kind == Kind::File ? s.partial : s.target);
    s.unsynced = true;
    s.partWritten = true;
    return true;
}

bool CaptureOutput::Sync() {
    State& s = *state_;
    if (s.kind != Kind::File || !s.unsynced || s.error)
        return !s.error;
    s.unsynced = false;
    if (const std::error_code failed = files::SyncFile(s.fd))
        return s.Fail(failed, s.partial);
    return true;
}

bool CaptureOutput::Cut() {
    State& s = *state_;
    if (s.kind != Kind::File || !s.rotate)
        return !s.error;
    s.unsynced = false;
    return s.ClosePart() && s.OpenPart();
}

bool CaptureOutput::Finish(std::string& error) {
    State& s = *state_;
    bool ok = !s.error;
    if (s.kind == Kind::File) {
        ok = s.ClosePart() && ok;
    } else if (s.kind == Kind::Direct && s.fd >= 0) {
        const std::error_code closed = files::CloseFile(s.fd);
        s.fd = -1;
        ok = (!closed || s.Fail(closed, s.target)) && ok;
    }
    if (!ok && !s.readerGone)
        error = "cannot write " + (s.failedName == "'-'" ? "standard output" : s.failedName) +
                ": " + s.error.message();
    return ok;
}

bool CaptureOutput::ToStandardOutput() const {
    return state_->kind == Kind::StandardOutput;
}

bool CaptureOutput::ReaderGone() const {
    return state_->readerGone;
}

} // namespace Wirelog::cli
