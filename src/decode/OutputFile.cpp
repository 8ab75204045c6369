// SPDX-License-Identifier: MIT
#include "decode/OutputFile.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <random>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Wirelog {
namespace fs = std::filesystem;

namespace {

// The longest file name most file systems take (bytes on POSIX, UTF-16 units on Windows).
constexpr std::size_t kNameMax = 255;
constexpr std::string_view kStageMark = ".tmp-";
constexpr std::size_t kSuffixDigits = 12;
constexpr int kMaxLinkHops = 40;

std::error_code LastErrno() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

std::string RandomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    constexpr char kDigits[] = "0123456789abcdef";
    std::uint64_t value = generator();
    std::string suffix;
    for (std::size_t i = 0; i < kSuffixDigits; ++i, value >>= 4)
        suffix += kDigits[value & 0x0F];
    return suffix;
}

// ".NAME.tmp-XXXXXXXXXXXX" beside the target, NAME shortened (never inside a character) so the
// whole stays within kNameMax.
fs::path StageName(const fs::path& target) {
    fs::path::string_type name = target.filename().native();
    const std::size_t room = kNameMax - 1 - kStageMark.size() - kSuffixDigits;
    if (name.size() > room) {
        std::size_t cut = room;
#ifdef _WIN32
        while (cut > 0 && name[cut] >= 0xDC00 && name[cut] <= 0xDFFF) // a low surrogate
            --cut;
#else
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
#endif
        name.resize(cut);
    }
    fs::path stage = target.has_parent_path() ? target.parent_path() : fs::path(".");
    stage /= fs::path(".") += fs::path(name);
    stage += std::string(kStageMark) + RandomSuffix();
    return stage;
}

// /dev/stdout and its kind lead to a descriptor of this process, whose "target" names no file
// that could be staged beside.
bool IsDescriptorLink(const fs::path& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    const std::string text = path.string();
    return text.starts_with("/proc/") || text.starts_with("/dev/fd/");
#endif
}

// N of /dev/fd/N or /proc/self/fd/N: a descriptor this process holds, written where it stands
// as "-" is. -1 for any other name.
int OwnDescriptor(const fs::path& path) {
    const std::string text = path.lexically_normal().string();
    for (const std::string_view prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        if (!text.starts_with(prefix))
            continue;
        int fd = -1;
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data() + prefix.size(), end, fd);
        return error == std::errc() && stop == end ? fd : -1;
    }
    return -1;
}

struct Destination {
    fs::path path;
    bool direct = false;
    int descriptor = -1; // of this process, when the name leads to one
};

// Follows symbolic links to what is to be written; an error for a directory.
std::error_code Resolve(const fs::path& target, Destination& out) {
    std::error_code ec;
    fs::path path = target;
    for (int hop = 0;; ++hop) {
        // Checked before the link is followed: /proc/self/fd/1 leads to whatever file standard
        // output is, which must not be renamed over.
        if (IsDescriptorLink(path)) {
            out = {target, true, OwnDescriptor(path)};
            return {};
        }
        const fs::file_status link = fs::symlink_status(path, ec);
        if (!fs::is_symlink(link))
            break;
        if (hop == kMaxLinkHops)
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        fs::path next = fs::read_symlink(path, ec);
        if (ec)
            return ec;
        path = (next.is_relative() ? path.parent_path() / next : next).lexically_normal();
    }
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        out = {path, false};
        return {};
    }
    if (ec)
        return ec;
    if (fs::is_directory(status))
        return std::make_error_code(std::errc::is_a_directory);
    out = {path, !fs::is_regular_file(status)};
    return {};
}

bool IsDenied(const std::error_code& ec) {
    return ec == std::errc::permission_denied || ec == std::errc::operation_not_permitted ||
           ec == std::errc::read_only_file_system;
}

// A new file that nobody else can read before it is complete: it has the mode and, where the
// process may give them, the owner and group of the file it replaces; a new file's usual mode
// when there is none, and 0600 when the old one cannot be looked at.
std::FILE* OpenExclusive(const fs::path& path, const fs::path& replaced) {
#ifdef _WIN32
    (void)replaced;
    return _wfopen(path.c_str(), L"wbx");
#else
    struct stat old {};
    const int lookError = ::stat(replaced.c_str(), &old) == 0 ? 0 : errno;
    const bool exists = lookError == 0 && S_ISREG(old.st_mode);
    const mode_t mode = exists ? old.st_mode & 0777 : lookError == ENOENT ? 0666 : 0600;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return nullptr;
    if (exists && fchown(fd, old.st_uid, old.st_gid) != 0) {
        const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        (void)ignored;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int saved = errno;
        ::close(fd);
        ::unlink(path.c_str());
        errno = saved;
    }
    return file;
#endif
}

// The target's own descriptor, duplicated, so that closing ours leaves it open.
std::FILE* OpenDescriptor(int descriptor) {
#ifdef _WIN32
    (void)descriptor;
    errno = EBADF;
    return nullptr;
#else
    const int fd = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr)
        ::close(fd);
    return file;
#endif
}

// Opens an existing target for writing without creating, truncating or (for a FIFO) reading.
std::FILE* OpenExisting(const fs::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"r+b");
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr)
        ::close(fd);
    return file;
#endif
}

bool IsRegular(std::FILE* file) {
    const int fd = fileno(file);
#ifdef _WIN32
    return GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK;
#else
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
#endif
}

// Makes sure the disk holds `size` bytes for the file before any of its old bytes are
// overwritten, without changing it. False, with no error, where the file system cannot promise
// that (no fallocate, or Windows): a full disk then leaves the file cut short.
bool ReserveSpace(std::FILE* file, std::uint64_t size, std::error_code& ec) {
#if defined(__linux__)
    if (size == 0 || fallocate(fileno(file), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0)
        return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        ec = LastErrno();
#else
    (void)file;
    (void)size;
    (void)ec;
#endif
    return false;
}

// Ends the file after the bytes just written, the old content's rest included.
std::error_code CutTo(std::FILE* file, std::uint64_t size) {
    const int fd = fileno(file);
#ifdef _WIN32
    if (_chsize_s(fd, static_cast<long long>(size)) != 0)
        return LastErrno();
#else
    if (ftruncate(fd, static_cast<off_t>(size)) != 0)
        return LastErrno();
#endif
    return {};
}

std::error_code ReplaceWithStage(const fs::path& stage, const fs::path& target) {
#ifdef _WIN32
    if (!MoveFileExW(stage.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {static_cast<int>(GetLastError()), std::system_category()};
    return {};
#else
    std::error_code ec;
    fs::rename(stage, target, ec);
    return ec;
#endif
}

} // namespace

void OutputFile::FileCloser::operator()(std::FILE* file) const {
    std::fclose(file);
}

OutputFile::~OutputFile() {
    if (directIsStdout_)
        (void)direct_.release();
    stage_.reset();
    if (!committed_ && !stagePath_.empty()) {
        std::error_code ignored;
        fs::remove(stagePath_, ignored);
    }
}

bool OutputFile::Open(const fs::path& target, std::string& error) {
    if (target == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        direct_.reset(stdout);
        directIsStdout_ = true;
        keepsPosition_ = true;
        OpenAnonymousStage();
        return true;
    }
    Destination destination;
    std::error_code ec = Resolve(target, destination);
    if (!ec) {
        target_ = destination.path;
        if (destination.descriptor >= 0)
            return OpenOwnDescriptor(destination.descriptor, error);
        if (!destination.direct && OpenStage(ec))
            return true;
        // A folder that takes no new file: an existing file is still written in place.
        const bool inPlace = destination.direct || (IsDenied(ec) && fs::is_regular_file(target_));
        if (inPlace && OpenDirect(ec))
            return true;
    }
    error = ec.message();
    return false;
}

bool OutputFile::OpenOwnDescriptor(int descriptor, std::string& error) {
    errno = 0;
    direct_.reset(OpenDescriptor(descriptor));
    if (!direct_) {
        error = LastErrno().message();
        return false;
    }
    keepsPosition_ = true;
    OpenAnonymousStage();
    return true;
}

bool OutputFile::OpenStage(std::error_code& ec) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        stagePath_ = StageName(target_);
        // "x": never reuse a file that happens to exist under the chosen name.
        errno = 0;
        stage_.reset(OpenExclusive(stagePath_, target_));
        if (stage_)
            return true;
        ec = LastErrno();
        if (ec != std::errc::file_exists)
            break;
    }
    stagePath_.clear();
    return false;
}

bool OutputFile::OpenDirect(std::error_code& ec) {
    errno = 0;
    direct_.reset(OpenExisting(target_));
    if (!direct_) {
        ec = LastErrno();
        return false;
    }
    OpenAnonymousStage();
    return true;
}

void OutputFile::OpenAnonymousStage() {
    stage_.reset(std::tmpfile());
    inMemory_ = !stage_;
}

bool OutputFile::Write(std::string_view bytes) {
    if (writeError_ != 0)
        return false;
    size_ += bytes.size();
    if (inMemory_) {
        memory_.append(bytes);
        return true;
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stage_.get()) != bytes.size()) {
        writeError_ = LastErrno().value();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string& error) {
    std::error_code ec;
    if (writeError_ != 0)
        ec = {writeError_, std::generic_category()};
    else
        ec = direct_ ? CommitDirect() : CommitStaged();
    committed_ = !ec;
    if (ec)
        error = ec.message();
    if (ec && unreserved_)
        error += " (the file was written in place without room reserved first: its old content "
                 "is lost)";
    return committed_;
}

std::error_code OutputFile::CommitStaged() {
    errno = 0;
    bool written = std::fflush(stage_.get()) == 0;
#ifndef _WIN32
    // The rename must not reach the disk before the bytes it names.
    written = written && fsync(fileno(stage_.get())) == 0;
#endif
    std::error_code ec = written ? std::error_code() : LastErrno();
    errno = 0;
    if (std::fclose(stage_.release()) != 0 && !ec)
        ec = LastErrno();
    if (ec)
        return ec;
    // A replaced file keeps its permissions, as it would have if it had been rewritten.
    const fs::file_status old = fs::status(target_, ec);
    if (!ec && fs::is_regular_file(old))
        fs::permissions(stagePath_, old.permissions(), ec);
    return ReplaceWithStage(stagePath_, target_);
}

std::error_code OutputFile::CommitDirect() {
    errno = 0;
    const bool inPlace = !keepsPosition_ && IsRegular(direct_.get());
    if (inPlace) {
        std::error_code ec;
        const bool reserved = ReserveSpace(direct_.get(), size_, ec);
        if (ec)
            return ec;
        unreserved_ = !reserved;
    }
    if (inMemory_) {
        if (std::fwrite(memory_.data(), 1, memory_.size(), direct_.get()) != memory_.size())
            return LastErrno();
    } else {
        if (std::fflush(stage_.get()) != 0 || std::fseek(stage_.get(), 0, SEEK_SET) != 0)
            return LastErrno();
        std::vector<char> chunk(1 << 16);
        std::size_t got;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), stage_.get())) > 0)
            if (std::fwrite(chunk.data(), 1, got, direct_.get()) != got)
                return LastErrno();
        if (std::ferror(stage_.get()))
            return LastErrno();
    }
    if (std::fflush(direct_.get()) != 0)
        return LastErrno();
    if (inPlace)
        if (std::error_code ec = CutTo(direct_.get(), size_))
            return ec;
    if (directIsStdout_)
        return {};
    errno = 0;
    return std::fclose(direct_.release()) == 0 ? std::error_code() : LastErrno();
}

} // namespace Wirelog
