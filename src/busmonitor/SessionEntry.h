// SPDX-License-Identifier: MIT
#pragma once
// One sample entry of a sigrok session's zip archive, inflated front to back in constant
// memory, whatever its size. Its size and CRC-32 are checked at its end: a damaged archive is
// refused, never read as different samples.
#include "busmonitor/SessionInflate.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct zip; // libzip's archive

namespace Wirelog::CaptureFormats {

class SessionEntry {
public:
    virtual ~SessionEntry() = default;
    // Up to `size` inflated bytes at `out`; 0 once the entry is over and checked.
    virtual std::size_t Read(unsigned char* out, std::size_t size) = 0;
};

// Opens entry `index` of `archive` (the session at `path`, for messages). Throws CaptureError.
std::unique_ptr<SessionEntry> OpenSessionEntry(zip* archive, std::uint64_t index,
                                               const std::string& path, Inflater inflater);

} // namespace Wirelog::CaptureFormats
