// SPDX-License-Identifier: MIT
#include "decode/OutputFile.h"

#include "decode/FileSystem.h"

#include <cerrno>
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

// The descriptor as a stream; closed (and a new file removed) when that fails.
std::FILE* Stream(int fd, const fs::path& created = {}) {
    if (fd < 0)
        return nullptr;
#ifdef _WIN32
    std::FILE* file = _fdopen(fd, "wb");
#else
    std::FILE* file = fdopen(fd, "wb");
#endif
    if (file == nullptr) {
        const int saved = errno;
        (void)files::CloseFile(fd);
        if (!created.empty()) {
            std::error_code ignored;
            fs::remove(created, ignored);
        }
        errno = saved;
    }
    return file;
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
        ec = files::LastError();
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
        return files::LastError();
#else
    if (ftruncate(fd, static_cast<off_t>(size)) != 0)
        return files::LastError();
#endif
    return {};
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
    files::Destination destination;
    std::error_code ec = files::Resolve(target, destination);
    if (!ec) {
        target_ = destination.path;
        if (destination.descriptor >= 0)
            return OpenOwnDescriptor(destination.descriptor, error);
        if (!destination.direct && OpenStage(ec))
            return true;
        // A folder that takes no new file: an existing file is still written in place.
        const bool inPlace =
            destination.direct || (files::IsDenied(ec) && fs::is_regular_file(target_));
        if (inPlace && OpenDirect(ec))
            return true;
    }
    error = ec.message();
    return false;
}

bool OutputFile::OpenOwnDescriptor(int descriptor, std::string& error) {
    errno = 0;
    direct_.reset(Stream(files::Duplicate(descriptor)));
    if (!direct_) {
        error = files::LastError().message();
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
        stage_.reset(Stream(files::CreatePrivate(stagePath_, target_), stagePath_));
        if (stage_)
            return true;
        ec = files::LastError();
        if (ec != std::errc::file_exists)
            break;
    }
    stagePath_.clear();
    return false;
}

bool OutputFile::OpenDirect(std::error_code& ec) {
    errno = 0;
    direct_.reset(Stream(files::OpenExisting(target_)));
    if (!direct_) {
        ec = files::LastError();
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
        writeError_ = files::LastError().value();
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
    std::error_code ec = std::fflush(stage_.get()) == 0 ? std::error_code() : files::LastError();
    // The rename must not reach the disk before the bytes it names.
    if (!ec)
        ec = files::SyncFile(fileno(stage_.get()));
    errno = 0;
    if (std::fclose(stage_.release()) != 0 && !ec)
        ec = files::LastError();
    if (ec)
        return ec;
    return files::Replace(stagePath_, target_);
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
            return files::LastError();
    } else {
        if (std::fflush(stage_.get()) != 0 || std::fseek(stage_.get(), 0, SEEK_SET) != 0)
            return files::LastError();
        std::vector<char> chunk(1 << 16);
        std::size_t got;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), stage_.get())) > 0)
            if (std::fwrite(chunk.data(), 1, got, direct_.get()) != got)
                return files::LastError();
        if (std::ferror(stage_.get()))
            return files::LastError();
    }
    if (std::fflush(direct_.get()) != 0)
        return files::LastError();
    if (inPlace)
        if (std::error_code ec = CutTo(direct_.get(), size_))
            return ec;
    if (directIsStdout_)
        return {};
    errno = 0;
    return std::fclose(direct_.release()) == 0 ? std::error_code() : files::LastError();
}

} // namespace Wirelog
