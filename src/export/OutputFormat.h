// SPDX-License-Identifier: MIT
#pragma once
// The one place that picks the writer for an output format and the address filter.
#include "decode/EventWriter.h"
#include "export/Transactions.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Wirelog {

enum class OutputFormat { Log, Transactions, Csv, Jsonl, Pcap };

// "log", "transactions", "csv", "jsonl", "pcap"; nothing for any other name.
std::optional<OutputFormat> ParseOutputFormat(std::string_view name);

// "A[,B...]", each a 7-bit address in decimal or, with "0x", in hex. False with a message
// naming the bad item otherwise.
bool ParseAddressList(std::string_view text, AddressSet& addresses, std::string& error);

// The writer for `format`. The log's own writer belongs to the caller, which passes it in as
// `logWriter` (used for OutputFormat::Log only); the address filter is applied for every format.
std::unique_ptr<EventWriter> MakeExportWriter(OutputFormat format, const CaptureClock& clock,
                                              const AddressSet& addresses,
                                              std::unique_ptr<EventWriter> logWriter);

} // namespace Wirelog
