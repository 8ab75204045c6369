// SPDX-License-Identifier: MIT
#pragma once
// The exit status of every wirelog-cli command, so scripts read them alike.

namespace Wirelog::cli {

inline constexpr int kExitOk = 0;
// The job ran and failed: no usable module, a failed read, a log that cannot be written.
inline constexpr int kExitFailure = 1;
// The job could not run as asked: bad usage, bad or unreadable input, an adapter library that
// cannot be loaded or lacks a function.
inline constexpr int kExitUsage = 2;

} // namespace Wirelog::cli
