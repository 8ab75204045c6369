// SPDX-License-Identifier: MIT
#pragma once
// decode of a capture read as it arrives (raw samples piped from a running logic analyzer):
// each line goes to standard output as soon as its event is decided, and the first Ctrl+C
// (SIGINT, or SIGTERM) ends the input where it is instead of the program.
#include "cli/OutputFormats.h"

#include <cstdint>
#include <string_view>

namespace Wirelog {
class CaptureMonitor;
}

namespace Wirelog::cli {

// Routes SIGINT and SIGTERM to a flag while it exists (a second one ends the program at once),
// so that a read waiting for input returns. Only one may exist at a time.
class LiveStopSignals {
public:
    LiveStopSignals();
    ~LiveStopSignals();
    LiveStopSignals(const LiveStopSignals&) = delete;
    LiveStopSignals& operator=(const LiveStopSignals&) = delete;

    // What the reader asks once a signal interrupted its wait.
    static bool Requested();
};

// Decodes the whole stream (or its first `maxEvents` events, 0: all) to standard output in
// `format` (a name MakeEventWriter knows), every block's lines written before the next block is
// read, and returns wirelog-cli's exit status. The writer's clock is the capture's sample rate.
int DecodeLiveToStandardOutput(CaptureMonitor& capture, std::string_view format,
                               WriterOptions writing, std::uint64_t maxEvents);

} // namespace Wirelog::cli
