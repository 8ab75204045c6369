// SPDX-License-Identifier: MIT
#pragma once
// The bus-event decoder: one event in, one English log line out.
//
// Its only memory is the time stamp of the latest stop-type event (codes 2, 5, 11, 12, 16),
// from which a valid START (code 1) shows the idle gap in whole milliseconds. It runs on one
// thread only (the window thread, or the command line's main thread).
#include <cstddef>
#include <cstdint>
#include <string>

namespace Wirelog {

// Counter ticks per millisecond; set once at start-up, before the first decode.
extern double div;

// The event's log line, never empty, without terminator.
std::string ViewTWI(std::uint8_t cmd, std::uint8_t data, std::int64_t timer);

// Appends the same line to out.
void AppendViewTWI(std::string& out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer);

// No line is longer than this (the longest is 107 characters).
inline constexpr std::size_t kMaxViewTWILength = 128;

// Writes the same line to out[0..kMaxViewTWILength) and returns its length: the hot path of the
// log refresh, which formats straight into the log's store.
std::size_t FormatViewTWI(char* out, std::uint8_t cmd, std::uint8_t data, std::int64_t timer);

// Forgets the stop time. Time stamps restart at zero with every capture, so a gap measured
// against a stop of the previous capture would compare two time bases; a new capture calls this.
void ResetDecoder();

} // namespace Wirelog
