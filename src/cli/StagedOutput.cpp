// SPDX-License-Identifier: MIT
#include "cli/StagedOutput.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

namespace Wirelog::cli {
namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int code) {
    return std::generic_category().message(code);
}

// Messages are built by appending: GCC 12 at -O3 misreports "literal" + std::string as an
// overlapping copy (-Wrestrict).
template <typename... Parts> std::string Join(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

std::string RandomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    constexpr char kDigits[] = "0123456789abcdef";
    std::uint64_t value = generator();
    std::string suffix;
    for (int i = 0; i < 12; ++i, value >>= 4)
        suffix += kDigits[value & 0x0F];
    return suffix;
}

} // namespace

StagedOutput::~StagedOutput() {
    stage_.reset();
    if (!committed_ && !stagePath_.empty()) {
        std::error_code ignored;
        fs::remove(stagePath_, ignored);
    }
}

std::string StagedOutput::describeTarget() const {
    if (toStdout_)
        return "standard output";
    return Join("'", target_.string(), "'");
}

bool StagedOutput::openFile(const fs::path& target, std::string& error) {
    std::error_code ec;
    target_ = target;
    if (fs::is_symlink(fs::symlink_status(target, ec)))
        target_ = fs::weakly_canonical(target, ec);
    if (ec || target_.empty())
        target_ = target;
    if (fs::is_directory(target_, ec)) {
        error = Join("cannot write ", describeTarget(), ": it is a directory");
        return false;
    }
    const fs::path directory = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    const std::string base = Join(".", target_.filename().string(), ".tmp-");
    int lastError = 0;
    for (int attempt = 0; attempt < 16 && !stage_; ++attempt) {
        stagePath_ = directory / Join(base, RandomSuffix());
        // "x": never reuse a file that happens to exist under the chosen name.
        errno = 0;
        stage_.reset(std::fopen(stagePath_.string().c_str(), "wbx"));
        lastError = errno;
        if (!stage_ && lastError != EEXIST)
            break;
    }
    if (!stage_) {
        stagePath_.clear();
        error = Join("cannot write ", describeTarget(), ": ", ErrnoText(lastError));
        return false;
    }
    return true;
}

void StagedOutput::openStdout() {
    toStdout_ = true;
    stage_.reset(std::tmpfile());
    inMemory_ = !stage_;
}

bool StagedOutput::write(std::string_view bytes) {
    if (writeError_ != 0)
        return false;
    if (inMemory_) {
        memory_.append(bytes);
        return true;
    }
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stage_.get()) != bytes.size()) {
        writeError_ = errno != 0 ? errno : EIO;
        return false;
    }
    return true;
}

bool StagedOutput::commit(std::string& error) {
    const bool ok = toStdout_ ? commitStdout(error) : commitFile(error);
    committed_ = ok;
    return ok;
}

bool StagedOutput::commitFile(std::string& error) {
    errno = 0;
    if (writeError_ == 0 && std::fflush(stage_.get()) != 0)
        writeError_ = errno != 0 ? errno : EIO;
    errno = 0;
    if (std::fclose(stage_.release()) != 0 && writeError_ == 0)
        writeError_ = errno != 0 ? errno : EIO;
    if (writeError_ != 0) {
        error = Join("cannot write ", describeTarget(), ": ", ErrnoText(writeError_));
        return false;
    }
    std::error_code ec;
    // A replaced file keeps its permissions, as it would have if it had been rewritten.
    const fs::file_status old = fs::status(target_, ec);
    if (!ec && fs::is_regular_file(old))
        fs::permissions(stagePath_, old.permissions(), ec);
    fs::rename(stagePath_, target_, ec);
    if (ec) {
        error = Join("cannot write ", describeTarget(), ": ", ec.message());
        return false;
    }
    return true;
}

bool StagedOutput::commitStdout(std::string& error) {
    const auto fail = [&](int code) {
        error = Join("cannot write ", describeTarget(), ": ", ErrnoText(code != 0 ? code : EIO));
        return false;
    };
    if (writeError_ != 0)
        return fail(writeError_);
    errno = 0;
    if (inMemory_) {
        if (std::fwrite(memory_.data(), 1, memory_.size(), stdout) != memory_.size())
            return fail(errno);
    } else {
        if (std::fflush(stage_.get()) != 0 || std::fseek(stage_.get(), 0, SEEK_SET) != 0)
            return fail(errno);
        std::vector<char> chunk(1 << 16);
        std::size_t got;
        while ((got = std::fread(chunk.data(), 1, chunk.size(), stage_.get())) > 0) {
            if (std::fwrite(chunk.data(), 1, got, stdout) != got)
                return fail(errno);
        }
        if (std::ferror(stage_.get()))
            return fail(errno);
    }
    if (std::fflush(stdout) != 0)
        return fail(errno);
    return true;
}

} // namespace Wirelog::cli
