// SPDX-License-Identifier: MIT
#include "HandleTable.h"

#include <utility>

namespace Wirelog::d2xx {

namespace {
std::uintptr_t Key(FT_HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}
} // namespace

FT_HANDLE HandleTable::Add(std::shared_ptr<Port> port) {
    std::lock_guard lock(mutex_);
    const std::uintptr_t key = next_++;
    ports_.emplace(key, std::move(port));
    return reinterpret_cast<FT_HANDLE>(key);
}

std::shared_ptr<Port> HandleTable::Find(FT_HANDLE handle) const {
    std::lock_guard lock(mutex_);
    const auto found = ports_.find(Key(handle));
    return found == ports_.end() ? nullptr : found->second;
}

std::shared_ptr<Port> HandleTable::Remove(FT_HANDLE handle) {
    std::lock_guard lock(mutex_);
    const auto found = ports_.find(Key(handle));
    if (found == ports_.end()) {
        return nullptr;
    }
    std::shared_ptr<Port> port = std::move(found->second);
    ports_.erase(found);
    return port;
}

} // namespace Wirelog::d2xx
