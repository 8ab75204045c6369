// SPDX-License-Identifier: MIT
#pragma once
#include "batchfile/TimedBatchFile.h"

#include <memory>
#include <string>
#include <vector>

namespace Wirelog::d2xx {

// False when the file reads as something other than timed batches (a logic capture); a file
// that cannot be read counts as batches, so loading it reports why.
bool IsTimedBatchFile(const std::string& path);

// The batches of a timed-batch file, or null with `problem` set when it cannot be read.
std::shared_ptr<const std::vector<TimedBatch>> LoadReplayFile(const std::string& path,
                                                              std::string& problem);

} // namespace Wirelog::d2xx
