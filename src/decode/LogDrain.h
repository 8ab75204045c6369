#pragma once
// The one place that turns stored events into log lines, shared by the window and the command
// line so their logs cannot drift apart.
#include <cstddef>
#include <cstdint>

namespace Wirelog {

class LogLines;

// Events that begin a transaction get one empty line before their own.
constexpr bool IsSeparatorCode(std::uint8_t cmd) {
    return cmd == 1 || cmd == 3 || cmd == 6 || cmd == 13 || cmd == 14 || cmd == 15;
}

// Decodes every record from myevtTail up to myevtHead (re-read before each record, so records
// stored meanwhile are taken in the same run) into lines. Window/main thread only.
// Returns the number of events drained.
std::size_t DrainEvents(LogLines& lines);

} // namespace Wirelog
