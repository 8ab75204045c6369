// SPDX-License-Identifier: MIT
#include "export/OutputFormat.h"

#include "export/AddressFilter.h"
#include "export/PcapWriter.h"
#include "export/TextWriters.h"

#include <algorithm>
#include <charconv>

namespace Wirelog {

std::optional<OutputFormat> ParseOutputFormat(std::string_view name) {
    if (name == "log")
        return OutputFormat::Log;
    if (name == "transactions")
        return OutputFormat::Transactions;
    if (name == "csv")
        return OutputFormat::Csv;
    if (name == "jsonl")
        return OutputFormat::Jsonl;
    if (name == "pcap")
        return OutputFormat::Pcap;
    return std::nullopt;
}

bool ParseAddressList(std::string_view text, AddressSet& addresses, std::string& error) {
    addresses = {};
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string_view given = text.substr(from, comma - from);
        std::string_view item = given;
        from = comma + 1;
        int base = 10;
        if (item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X')) {
            item.remove_prefix(2);
            base = 16;
        }
        unsigned value = 0;
        const auto [end, status] =
            std::from_chars(item.data(), item.data() + item.size(), value, base);
        if (item.empty() || status != std::errc() || end != item.data() + item.size() ||
            value > 0x7F) {
            error =
                "not a 7-bit address (0 to 127, or 0x00 to 0x7F): \"" + std::string(given) + "\"";
            return false;
        }
        addresses.addresses.set(value);
    }
    return true;
}

std::unique_ptr<EventWriter> MakeExportWriter(OutputFormat format, const CaptureClock& clock,
                                              const AddressSet& addresses,
                                              std::unique_ptr<EventWriter> logWriter) {
    auto filtered = [&](std::unique_ptr<EventWriter> writer) -> std::unique_ptr<EventWriter> {
        if (addresses.keepsAll())
            return writer;
        return std::make_unique<AddressFilter>(std::move(writer), addresses);
    };
    switch (format) {
    case OutputFormat::Transactions:
        return std::make_unique<TransactionsWriter>(clock, addresses);
    case OutputFormat::Jsonl:
        return std::make_unique<JsonlWriter>(clock, addresses);
    case OutputFormat::Pcap:
        return std::make_unique<PcapWriter>(clock, addresses);
    case OutputFormat::Csv:
        return filtered(std::make_unique<CsvWriter>(clock));
    case OutputFormat::Log:
        break;
    }
    return filtered(std::move(logWriter));
}

} // namespace Wirelog
