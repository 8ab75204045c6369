// SPDX-License-Identifier: MIT
#include "cli/OutputFormats.h"

namespace Wirelog::cli {

std::unique_ptr<EventWriter> MakeEventWriter(std::string_view format,
                                             const WriterOptions& options) {
    if (format == kLogFormat)
        return std::make_unique<LogTextWriter>(options.stamps, options.clock);
    return nullptr;
}

} // namespace Wirelog::cli
