// SPDX-License-Identifier: MIT
#include "decode/OutputFile.h"

#include <cerrno>
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

struct Destination {
    fs::path path;
    bool direct = false;
};

// Follows symbolic links to what is to be written; an error for a directory.
std::error_code Resolve(const fs::path& target, Destination& out) {
    std::error_code ec;
    fs::path path = target;
    for (int hop = 0;; ++hop) {
        const fs::file_status link = fs::symlink_status(path, ec);
        if (!fs::is_symlink(link))
            break;
        if (hop == kMaxLinkHops)
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        fs::path next = fs::read_symlink(path, ec);
        if (ec)
            return ec;
        path = (next.is_relative() ? path.parent_path() / next : next).lexically_normal();
        if (IsDescriptorLink(path)) {
            out = {target, true};
            return {};
        }
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

std::FILE* OpenExclusive(const fs::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wbx");
#else
    return std::fopen(path.c_str(), "wbxe");
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

// A regular file written directly loses its old content first; a device keeps its position.
std::error_code TruncateIfRegular(std::FILE* file) {
    const int fd = fileno(file);
#ifdef _WIN32
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK &&
        _chsize_s(fd, 0) != 0)
        return LastErrno();
#else
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fd, 0) != 0)
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
        OpenAnonymousStage();
        return true;
    }
    Destination destination;
    std::error_code ec = Resolve(target, destination);
    if (!ec) {
        target_ = destination.path;
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

bool OutputFile::OpenStage(std::error_code& ec) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        stagePath_ = StageName(target_);
        // "x": never reuse a file that happens to exist under the chosen name.
        errno = 0;
        stage_.reset(OpenExclusive(stagePath_));
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
    if (!directIsStdout_)
        if (std::error_code ec = TruncateIfRegular(direct_.get()))
            return ec;
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
    if (directIsStdout_)
        return {};
    errno = 0;
    return std::fclose(direct_.release()) == 0 ? std::error_code() : LastErrno();
}

} // namespace Wirelog
