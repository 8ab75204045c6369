// SPDX-License-Identifier: MIT
#pragma once
// The file operations every log writer shares (a saved log, a capture's running log): where a
// name leads, private creation of the file that will replace it, whole writes, syncs and the
// final rename. Descriptors and errors as the system gives them, on POSIX and Windows alike.
#include <filesystem>
#include <string_view>
#include <system_error>

namespace Wirelog::files {

// What a name given for output leads to, symbolic links followed.
struct Destination {
    std::filesystem::path path; // the file to write; the name itself for a descriptor link
    bool direct = false;        // written where it stands: a device, FIFO, socket or descriptor
    int descriptor = -1;        // N of /dev/fd/N or /proc/self/fd/N: one this process holds
};

// An error for a directory or a broken chain of links.
std::error_code Resolve(const std::filesystem::path& target, Destination& out);

// The errors of a folder or file system that takes no new file.
bool IsDenied(const std::error_code& ec);

// The error of the last failed call (EIO when it left none).
std::error_code LastError();

// Creates `path`, which must not exist, for writing; -1 with errno on failure. Nobody else can
// read it before it is complete: it has the mode and, where the process may give them, the owner
// and group of `replaced`; a new file's usual mode when `replaced` does not exist, and 0600 when
// it cannot be looked at.
int CreatePrivate(const std::filesystem::path& path, const std::filesystem::path& replaced);

// Opens an existing file, device or FIFO for writing without creating, cutting or reading it.
int OpenExisting(const std::filesystem::path& path);

// A duplicate of `descriptor`, so that closing it leaves the original open.
int Duplicate(int descriptor);

// Every byte, going on after interrupted writes.
std::error_code WriteAll(int fd, std::string_view bytes);
std::error_code SyncFile(int fd);
std::error_code CloseFile(int fd);
// A rename is on the disk only once its folder is.
void SyncFolder(const std::filesystem::path& file);

// Renames `from` over `to`, which keeps its permissions as if it had been rewritten.
std::error_code Replace(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace Wirelog::files
