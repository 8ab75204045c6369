// SPDX-License-Identifier: MIT
#pragma once
// A recording on disk into the log's lines, as a capture would have filled them: a logic
// capture (.sr, VCD, CSV) through the bus monitor, or a recorded module stream (timed read
// batches, the format `wirelog-cli decode` reads), framed into the event buffer with its
// 999,999-event cap and drained through the decoder and the separator rule. Works in bounded
// steps so the window stays responsive and can cancel.
//
// Uses the program's single event buffer and decoder: only one loader at a time, never while a
// capture runs, and on the window thread only.
#include "decode/LogLines.h"
#include "events/Framing.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Wirelog {

class CaptureMonitor;
class TimedBatchStream;

// What a recording could not give: the problem, for a message that names the file.
class RecordingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the loader needs to know before it starts: a logic capture's channel names, and whether
// the two lines must be asked for (no channels named SCL and SDA).
struct RecordingKind {
    bool logicCapture = false;
    std::vector<std::string> channels;
    bool channelsNamed = false;
};

// Throws RecordingError for a file that cannot be read or is of no known kind.
RecordingKind ProbeRecording(const std::filesystem::path& file);

class RecordingLoader {
public:
    // Starts afresh: empties the event buffer and the decoder's stop time, and sets the decoder's
    // time base to the recording's (the caller restores the counter's once done). `scl` and
    // `sda` name a logic capture's two lines. Throws RecordingError.
    RecordingLoader(const std::filesystem::path& file, const RecordingKind& kind,
                    const std::string& scl = "SCL", const std::string& sda = "SDA");
    ~RecordingLoader();

    // Decodes the next part of the file into `lines`; false once the whole file (or all the
    // buffer holds) is in. Throws RecordingError for a file found bad on the way.
    bool Step(LogLines& lines);
    // How far it has got, 0 to 1.
    double Progress() const;

private:
    bool StepBatches();

    std::filesystem::path file_;
    std::unique_ptr<CaptureMonitor> capture_;
    std::unique_ptr<TimedBatchStream> batches_;
    std::ifstream in_;
    std::uint64_t size_ = 0, read_ = 0;
    PendingCode pending_;
    bool full_ = false;
};

} // namespace Wirelog
