// SPDX-License-Identifier: MIT
#pragma once
// The one place that turns stored events into log lines, shared by the window and the command
// line so their logs cannot drift apart.
#include <cstddef>
#include <cstdint>

#include "events/EventCodes.h"

namespace Wirelog {

class LogLines;

// Decodes every record from myevtTail up to myevtHead (re-read before each record, so records
// stored meanwhile are taken in the same run) into lines. Window/main thread only.
// Returns the number of events drained.
std::size_t DrainEvents(LogLines& lines);

} // namespace Wirelog
