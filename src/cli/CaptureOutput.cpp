// SPDX-License-Identifier: MIT
#include "cli/CaptureOutput.h"

#include "cli/FileNames.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Wirelog::cli {
namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinkHops = 40;
constexpr std::string_view kPartialSuffix = ".partial";

enum class Kind { StandardOutput, Direct, File };

int LastError() {
    return errno != 0 ? errno : EIO;
}

// /dev/stdout and its kind lead to a descriptor of this process, not to a file that could be
// renamed.
bool IsDescriptorLink(const fs::path& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    const std::string text = path.string();
    return text.starts_with("/proc/") || text.starts_with("/dev/fd/");
#endif
}

// What `name` leads to, following symbolic links; the error of a directory or a broken chain.
std::error_code Classify(const fs::path& name, Kind& kind, fs::path& resolved) {
    std::error_code ec;
    fs::path path = name;
    for (int hop = 0; fs::is_symlink(fs::symlink_status(path, ec)); ++hop) {
        if (hop == kMaxLinkHops)
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        const fs::path next = fs::read_symlink(path, ec);
        if (ec)
            return ec;
        path = (next.is_relative() ? path.parent_path() / next : next).lexically_normal();
        if (IsDescriptorLink(path)) {
            kind = Kind::Direct;
            resolved = name;
            return {};
        }
    }
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        kind = Kind::File;
        resolved = path;
        return {};
    }
    if (ec)
        return ec;
    if (fs::is_directory(status))
        return std::make_error_code(std::errc::is_a_directory);
    kind = fs::is_regular_file(status) ? Kind::File : Kind::Direct;
    resolved = path;
    return {};
}

int OpenNewFile(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

// Opens an existing device or FIFO for writing without creating or truncating it.
int OpenExisting(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_BINARY);
#else
    return ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
#endif
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        errno = 0;
#ifdef _WIN32
        const int chunk = bytes.size() > (1u << 30) ? (1 << 30) : static_cast<int>(bytes.size());
        const int written = _write(fd, bytes.data(), static_cast<unsigned>(chunk));
#else
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
#endif
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return LastError();
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int SyncFile(int fd) {
    errno = 0;
#ifdef _WIN32
    return _commit(fd) == 0 ? 0 : LastError();
#elif defined(__APPLE__)
    return ::fsync(fd) == 0 ? 0 : LastError();
#else
    return ::fdatasync(fd) == 0 ? 0 : LastError();
#endif
}

int CloseFile(int fd) {
    errno = 0;
#ifdef _WIN32
    return _close(fd) == 0 ? 0 : LastError();
#else
    return ::close(fd) == 0 ? 0 : LastError();
#endif
}

int Rename(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return EIO;
    return 0;
#else
    std::error_code ec;
    fs::rename(from, to, ec);
    return ec.value();
#endif
}

// A rename is on the disk only once its folder is.
void SyncFolder(const fs::path& file) {
#ifndef _WIN32
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    (void)file;
#endif
}

std::string Quoted(const fs::path& path) {
    std::string quoted(1, '\'');
    quoted += Utf8FromPath(path);
    quoted += '\'';
    return quoted;
}

std::string Reason(int error) {
    return std::generic_category().message(error);
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
    int error = 0;
    std::string failedName;
    bool unsynced = false;
    bool partWritten = false; // the current part has bytes
    bool readerGone = false;

    bool Fail(int code, const fs::path& name) {
        if (error == 0) {
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
        fd = OpenNewFile(partial);
        return fd >= 0 || Fail(LastError(), partial);
    }

    // The current part under its final name, complete and on the disk.
    bool ClosePart() {
        if (fd < 0)
            return error == 0;
        const int synced = SyncFile(fd);
        const int closed = CloseFile(fd);
        fd = -1;
        if (synced != 0 || closed != 0)
            return Fail(synced != 0 ? synced : closed, partial);
        if (error != 0)
            return false;
        // A replaced file keeps its permissions, as it would have if it had been rewritten.
        std::error_code ec;
        const fs::file_status old = fs::status(final, ec);
        if (!ec && fs::is_regular_file(old))
            fs::permissions(partial, old.permissions(), ec);
        if (const int renamed = Rename(partial, final))
            return Fail(renamed, final);
        SyncFolder(final);
        return true;
    }
};

CaptureOutput::CaptureOutput() : state_(std::make_unique<State>()) {}

CaptureOutput::~CaptureOutput() {
    State& s = *state_;
    if (s.fd < 0)
        return;
    CloseFile(s.fd);
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
        if (const std::error_code ec = Classify(path, s.kind, s.target)) {
            error = "cannot write " + Quoted(path) + ": " + ec.message();
            return false;
        }
        if (s.kind == Kind::Direct) {
            errno = 0;
            s.fd = OpenExisting(s.target);
            if (s.fd < 0) {
                error = "cannot write " + Quoted(path) + ": " + Reason(LastError());
                return false;
            }
        } else if (!s.OpenPart()) {
            error = "cannot write " + s.failedName + ": " + Reason(s.error);
            if (s.error == EEXIST)
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
    if (s.error != 0)
        return false;
    if (s.kind == Kind::StandardOutput) {
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
            std::fflush(stdout) == 0)
            return true;
        s.readerGone = errno == EPIPE;
        return s.Fail(LastError(), "-");
    }
    if (const int failed = WriteAll(s.fd, bytes))
        return s.Fail(failed, s.kind == Kind::File ? s.partial : s.target);
    s.unsynced = true;
    s.partWritten = true;
    return true;
}

bool CaptureOutput::Sync() {
    State& s = *state_;
    if (s.kind != Kind::File || !s.unsynced || s.error != 0)
        return s.error == 0;
    s.unsynced = false;
    if (const int failed = SyncFile(s.fd))
        return s.Fail(failed, s.partial);
    return true;
}

bool CaptureOutput::Cut() {
    State& s = *state_;
    if (s.kind != Kind::File || !s.rotate)
        return s.error == 0;
    s.unsynced = false;
    return s.ClosePart() && s.OpenPart();
}

bool CaptureOutput::Finish(std::string& error) {
    State& s = *state_;
    bool ok = s.error == 0;
    if (s.kind == Kind::File) {
        ok = s.ClosePart() && ok;
    } else if (s.kind == Kind::Direct && s.fd >= 0) {
        const int closed = CloseFile(s.fd);
        s.fd = -1;
        ok = (closed == 0 || s.Fail(closed, s.target)) && ok;
    }
    if (!ok && !s.readerGone)
        error = "cannot write " + (s.failedName == "'-'" ? "standard output" : s.failedName) +
                ": " + Reason(s.error);
    return ok;
}

bool CaptureOutput::ToStandardOutput() const {
    return state_->kind == Kind::StandardOutput;
}

bool CaptureOutput::ReaderGone() const {
    return state_->readerGone;
}

} // namespace Wirelog::cli
