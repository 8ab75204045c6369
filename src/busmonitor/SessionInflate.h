// SPDX-License-Identifier: MIT
#pragma once
// The floor under reading a sigrok session: inflating its sample data and nothing else. The
// benchmarks set the reader's cost against it.
#include <cstdint>
#include <string>

namespace Wirelog {

// Inflates every sample entry of the session at `path` in the reader's block size, through
// the same archive code the reader uses, and discards the bytes. Returns how many there were.
// Throws CaptureError as OpenCapture would.
std::uint64_t InflateSessionSamples(const std::string& path);

} // namespace Wirelog
