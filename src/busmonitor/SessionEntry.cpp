// SPDX-License-Identifier: MIT
#include "busmonitor/SessionEntry.h"

#include "busmonitor/CaptureFormats.h"

#ifdef WIRELOG_HAVE_LIBZIP
#include <zip.h>
#endif
#ifdef WIRELOG_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <limits>
#include <optional>

namespace Wirelog::CaptureFormats {

#ifdef WIRELOG_HAVE_LIBZIP
namespace {

struct ZipEntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ZipEntry = std::unique_ptr<zip_file_t, ZipEntryCloser>;

class EntryBase : public SessionEntry {
protected:
    EntryBase(zip_t* archive, zip_uint64_t index, const std::string& path, zip_flags_t flags)
        : path_(path), name_(zip_get_name(archive, index, 0)),
          file_(zip_fopen_index(archive, index, flags)) {
        if (!file_) {
            Fail("cannot be read: " + std::string(zip_strerror(archive)));
        }
    }

    [[noreturn]] void Fail(std::string_view problem) const {
        CaptureFormats::Fail(path_, "sample data " + Quote(name_) + " " + std::string(problem));
    }

    // The entry's bytes as the archive holds them (through libzip's own inflater unless
    // opened ZIP_FL_COMPRESSED).
    std::size_t ReadFile(unsigned char* out, std::size_t size) {
        const zip_int64_t got = zip_fread(file_.get(), out, size);
        if (got < 0) {
            Fail("is corrupt: " + std::string(zip_file_strerror(file_.get())));
        }
        return static_cast<std::size_t>(got);
    }

    void CheckSize(std::uint64_t produced, std::optional<std::uint64_t> expected) const {
        if (expected && produced != *expected) {
            Fail("is corrupt: it inflates to " + std::to_string(produced) + " bytes, not " +
                 std::to_string(*expected));
        }
    }

private:
    std::string path_;
    std::string name_;
    ZipEntry file_;
};

// zlib inflates, libzip checks the CRC-32; the size is checked here, as ISA-L's is.
class ZlibEntry final : public EntryBase {
public:
    ZlibEntry(zip_t* archive, zip_uint64_t index, const std::string& path)
        : EntryBase(archive, index, path, 0) {
        zip_stat_t stat;
        if (zip_stat_index(archive, index, 0, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) != 0) {
            size_ = stat.size;
        }
    }

    std::size_t Read(unsigned char* out, std::size_t size) override {
        const std::size_t got = ReadFile(out, size);
        produced_ += got;
        if (got == 0 && size != 0) {
            CheckSize(produced_, size_);
        }
        return got;
    }

private:
    std::optional<std::uint64_t> size_;
    std::uint64_t produced_ = 0;
};

#ifdef WIRELOG_HAVE_ISAL

// The entry's raw bytes come through libzip; a deflated one is inflated by ISA-L, which keeps
// the CRC-32 of what it gives out; a stored one is checked with ISA-L's CRC-32.
class IsalEntry final : public EntryBase {
public:
    IsalEntry(zip_t* archive, zip_uint64_t index, const std::string& path, const zip_stat_t& stat)
        : EntryBase(archive, index, path, ZIP_FL_COMPRESSED),
          stored_(stat.comp_method == ZIP_CM_STORE), size_(stat.size), crc_(stat.crc),
          state_(std::make_unique<inflate_state>()),
          input_(std::make_unique_for_overwrite<unsigned char[]>(kInputBytes)) {
        isal_inflate_init(state_.get());
        state_->crc_flag = ISAL_GZIP_NO_HDR;
    }

    std::size_t Read(unsigned char* out, std::size_t size) override {
        if (over_) {
            return 0;
        }
        size = std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max());
        const std::size_t got = stored_ ? ReadStored(out, size) : Inflate(out, size);
        produced_ += got;
        if (got == 0) {
            Finish();
        }
        return got;
    }

private:
    static constexpr std::size_t kInputBytes = 64 * 1024;

    std::size_t ReadStored(unsigned char* out, std::size_t size) {
        const std::size_t got = ReadFile(out, size);
        storedCrc_ = crc32_gzip_refl(storedCrc_, out, got);
        return got;
    }

    std::size_t Inflate(unsigned char* out, std::size_t size) {
        state_->next_out = out;
        state_->avail_out = static_cast<std::uint32_t>(size);
        while (state_->avail_out > 0 && state_->block_state != ISAL_BLOCK_FINISH) {
            const bool fed = Feed();
            const std::uint32_t before = state_->avail_out;
            if (isal_inflate(state_.get()) < 0) {
                Fail("is corrupt: invalid deflate data");
            }
            if (!fed && state_->avail_in == 0 && state_->avail_out == before &&
                state_->block_state != ISAL_BLOCK_FINISH) {
                Fail("is corrupt: its deflate data ends early");
            }
        }
        return static_cast<std::size_t>(state_->next_out - out);
    }

    // Gives the inflater more of the raw entry when it has used all; false at the raw end.
    bool Feed() {
        if (state_->avail_in != 0) {
            return true;
        }
        const std::size_t got = ReadFile(input_.get(), kInputBytes);
        state_->next_in = input_.get();
        state_->avail_in = static_cast<std::uint32_t>(got);
        return got != 0;
    }

    void Finish() {
        over_ = true;
        CheckSize(produced_, size_);
        if ((stored_ ? storedCrc_ : state_->crc) != crc_) {
            Fail("is corrupt: CRC error");
        }
    }

    bool stored_;
    std::uint64_t size_;
    std::uint32_t crc_;
    std::unique_ptr<inflate_state> state_;
    std::unique_ptr<unsigned char[]> input_;
    std::uint32_t storedCrc_ = 0;
    std::uint64_t produced_ = 0;
    bool over_ = false;
};

// ISA-L takes what it can check as libzip would: plain deflated or stored data whose size
// and CRC-32 the archive gives.
bool IsalCanRead(const zip_stat_t& stat) {
    constexpr zip_uint64_t kNeeded =
        ZIP_STAT_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
    return (stat.valid & kNeeded) == kNeeded && stat.encryption_method == ZIP_EM_NONE &&
           (stat.comp_method == ZIP_CM_DEFLATE || stat.comp_method == ZIP_CM_STORE);
}

#endif

} // namespace

std::unique_ptr<SessionEntry> OpenSessionEntry(zip* archive, std::uint64_t index,
                                               const std::string& path, Inflater inflater) {
#ifdef WIRELOG_HAVE_ISAL
    zip_stat_t stat;
    if (inflater == Inflater::Fastest && zip_stat_index(archive, index, 0, &stat) == 0 &&
        IsalCanRead(stat)) {
        return std::make_unique<IsalEntry>(archive, index, path, stat);
    }
#else
    (void)inflater;
#endif
    return std::make_unique<ZlibEntry>(archive, index, path);
}

#endif

} // namespace Wirelog::CaptureFormats
