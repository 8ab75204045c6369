// SPDX-License-Identifier: MIT
#include "decode/FileSystem.h"

#include <cerrno>
#include <charconv>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Wirelog::files {
namespace fs = std::filesystem;

namespace {

constexpr int kMaxLinkHops = 40;

// /dev/stdout and its kind lead to a descriptor of this process, whose "target" names no file
// that could be staged beside or renamed.
bool IsDescriptorLink(const fs::path& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    const std::string text = path.string();
    return text.starts_with("/proc/") || text.starts_with("/dev/fd/");
#endif
}

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

} // namespace

std::error_code LastError() {
    return {errno != 0 ? errno : EIO, std::generic_category()};
}

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

int CreatePrivate(const fs::path& path, const fs::path& replaced) {
#ifdef _WIN32
    (void)replaced;
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    struct stat old {};
    const int lookError = ::stat(replaced.c_str(), &old) == 0 ? 0 : errno;
    const bool exists = lookError == 0 && S_ISREG(old.st_mode);
    const mode_t mode = exists ? old.st_mode & 0777 : lookError == ENOENT ? 0666 : 0600;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 && exists && fchown(fd, old.st_uid, old.st_gid) != 0) {
        const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        (void)ignored;
    }
    return fd;
#endif
}

int OpenExisting(const fs::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_BINARY);
#else
    return ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
#endif
}

int Duplicate(int descriptor) {
#ifdef _WIN32
    (void)descriptor;
    errno = EBADF;
    return -1;
#else
    return fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
#endif
}

std::error_code WriteAll(int fd, std::string_view bytes) {
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
    return {};
}

std::error_code SyncFile(int fd) {
    errno = 0;
#ifdef _WIN32
    return _commit(fd) == 0 ? std::error_code() : LastError();
#elif defined(__APPLE__)
    return ::fsync(fd) == 0 ? std::error_code() : LastError();
#else
    return ::fdatasync(fd) == 0 ? std::error_code() : LastError();
#endif
}

std::error_code CloseFile(int fd) {
    errno = 0;
#ifdef _WIN32
    return _close(fd) == 0 ? std::error_code() : LastError();
#else
    return ::close(fd) == 0 ? std::error_code() : LastError();
#endif
}

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

std::error_code Replace(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    const fs::file_status old = fs::status(to, ec);
    if (!ec && fs::is_regular_file(old))
        fs::permissions(from, old.permissions(), ec);
#ifdef _WIN32
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {static_cast<int>(GetLastError()), std::system_category()};
    return {};
#else
    fs::rename(from, to, ec);
    return ec;
#endif
}

} // namespace Wirelog::files
