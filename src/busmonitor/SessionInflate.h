// SPDX-License-Identifier: MIT
#pragma once
// The floor under reading a sigrok session: inflating its sample data and nothing else. The
// benchmarks set the reader's cost against it, and the tests the reader's changes against
// those of zlib's output.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace Wirelog {

// Which code inflates the samples: ISA-L where this build has it (else zlib), or zlib
// through libzip.
enum class Inflater { Fastest, Zlib };

// True when this build inflates sessions with ISA-L.
bool InflatesWithIsal();

// Inflates every sample entry of the session at `path` in the reader's block size, through
// the same archive code the reader uses, and hands the bytes to `take` (when given) in order.
// Returns how many there were. Throws CaptureError as OpenCapture would.
using TakeBytes = std::function<void(const unsigned char* data, std::size_t size)>;
std::uint64_t InflateSessionSamples(const std::string& path, Inflater inflater = Inflater::Fastest,
                                    const TakeBytes& take = {});

} // namespace Wirelog
