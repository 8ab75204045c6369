// SPDX-License-Identifier: MIT
#include "ReplayFile.h"

#include <fstream>

namespace Wirelog::d2xx {

bool IsTimedBatchFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return LooksLikeTimedBatches(head);
}

std::shared_ptr<const std::vector<TimedBatch>> LoadReplayFile(const std::string& path,
                                                              std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot open " + path;
        return nullptr;
    }
    auto batches = std::make_shared<std::vector<TimedBatch>>();
    BatchParseError error;
    const bool read = ReadTimedBatches(
        in,
        [&](const TimedBatch& batch) {
            batches->push_back(batch);
            return true;
        },
        error);
    if (!read) {
        problem = path + ": " + error.describe();
        return nullptr;
    }
    return batches;
}

} // namespace Wirelog::d2xx
