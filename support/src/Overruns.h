// SPDX-License-Identifier: MIT
#pragma once
// Overruns the real devices' chips reported since the library was loaded, all devices together:
// a program that captures from one module reads it before and after (WirelogExt_OverrunCount).
#include <atomic>
#include <cstdint>

namespace Wirelog::d2xx {

inline std::atomic<std::uint64_t>& ChipOverrunTotal() {
    static std::atomic<std::uint64_t> total{0};
    return total;
}

} // namespace Wirelog::d2xx
