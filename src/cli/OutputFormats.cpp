// SPDX-License-Identifier: MIT
#include "cli/OutputFormats.h"

#include "export/AddressFilter.h"
#include "export/OutputFormat.h"

namespace Wirelog::cli {

std::unique_ptr<EventWriter> MakeEventWriter(std::string_view format,
                                             const WriterOptions& options) {
    const auto chosen = ParseOutputFormat(format);
    if (!chosen)
        return nullptr;
    return MakeExportWriter(*chosen, options.clock, options.addresses,
                            std::make_unique<LogTextWriter>(options.stamps, options.clock));
}

std::optional<std::string> ParseOutputOption(std::string_view name,
                                             std::optional<std::string_view> value,
                                             OutputChoice& choice) {
    if (name != "--output-format" && name != "--address")
        return std::nullopt;
    if (!value)
        return "option '" + std::string(name) + "' needs a value";
    if (name == "--address") {
        std::string problem;
        return ParseAddressList(*value, choice.addresses, problem) ? std::string()
                                                                   : "--address: " + problem;
    }
    if (!ParseOutputFormat(*value))
        return "unknown output format '" + std::string(*value) +
               "' (log, transactions, csv, jsonl or pcap)";
    choice.format = std::string(*value);
    return std::string();
}

} // namespace Wirelog::cli
