// SPDX-License-Identifier: MIT
#include "app/Deployment.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace Wirelog {

bool _isRunning = true;

namespace {

enum class WriteOutcome { Written, NameTaken, Failed };

// Exclusive creation: a file that appeared since the existence test is never overwritten.
int CreateNew(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
}

bool WriteAll(int file, const std::vector<std::byte>& bytes) {
    const std::byte* next = bytes.data();
    for (std::size_t left = bytes.size(); left > 0;) {
        // At most 1 GiB per call: the Windows call takes an unsigned int.
        const auto chunk = static_cast<unsigned>(std::min<std::size_t>(left, std::size_t{1} << 30));
#ifdef _WIN32
        const int written = _write(file, next, chunk);
#else
        const ssize_t written = ::write(file, next, chunk);
#endif
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool Close(int file) {
#ifdef _WIN32
    return _close(file) == 0;
#else
    return ::close(file) == 0;
#endif
}

WriteOutcome WriteNewFile(const std::filesystem::path& path, const std::vector<std::byte>& bytes) {
    const int file = CreateNew(path);
    if (file < 0) {
        std::error_code ec;
        return errno == EEXIST && std::filesystem::is_regular_file(path, ec)
                   ? WriteOutcome::NameTaken
                   : WriteOutcome::Failed;
    }
    const bool written = WriteAll(file, bytes);
    if (Close(file) && written)
        return WriteOutcome::Written;
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return WriteOutcome::Failed;
}

} // namespace

DeployResult DeploySupportLibrary(const SupportLibraryDeployment& deployment) {
    const std::filesystem::path path = deployment.directory / kSupportLibraryFile;
    // Only a file (or a link to one) counts: a directory of that name is no library.
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec))
        return DeployResult::AlreadyPresent;
    const std::vector<std::byte> image =
        deployment.image ? deployment.image() : std::vector<std::byte>();
    if (image.empty())
        return DeployResult::Failed;
    switch (WriteNewFile(path, image)) {
    case WriteOutcome::Written:
        return DeployResult::Written;
    case WriteOutcome::NameTaken: // another copy of the program got there first
        return DeployResult::AlreadyPresent;
    case WriteOutcome::Failed:
        break;
    }
    return DeployResult::Failed;
}

std::filesystem::path SupportLibraryPath(const SupportLibraryDeployment& deployment) {
    const std::filesystem::path file = deployment.directory / kSupportLibraryFile;
    std::error_code ec;
    const std::filesystem::path current = std::filesystem::current_path(ec);
    if (ec || !file.is_absolute())
        return file.lexically_normal();
    // Lexically, not through the file system: the file may be a link, and it is the link's
    // name that is bound.
    const std::filesystem::path relative = file.lexically_relative(current);
    return relative.empty() || *relative.begin() == ".." ? file : relative;
}

} // namespace Wirelog
