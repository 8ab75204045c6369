// SPDX-License-Identifier: MIT
#pragma once
// D2XX handles are opaque numbers, never addresses: a stale or forged handle finds nothing, and
// a port stays alive while any call that looked it up is still using it, even if FT_Close runs
// on another thread meanwhile.
#include "Port.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace Wirelog::d2xx {

class HandleTable {
public:
    FT_HANDLE Add(std::shared_ptr<Port> port);
    std::shared_ptr<Port> Find(FT_HANDLE handle) const;
    // Removes the handle and returns its port, or null when it was not (or no longer) open.
    std::shared_ptr<Port> Remove(FT_HANDLE handle);

private:
    mutable std::mutex mutex_;
    std::unordered_map<std::uintptr_t, std::shared_ptr<Port>> ports_;
    // Numbers are never reused, so a handle closed long ago cannot reach a newer device.
    std::uintptr_t next_ = 1;
};

} // namespace Wirelog::d2xx
