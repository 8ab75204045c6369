// SPDX-License-Identifier: MIT
#include "form/RecordingLoader.h"

#include "batchfile/TimedBatchFile.h"
#include "busmonitor/CaptureMonitor.h"
#include "decode/LogDrain.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <algorithm>
#include <array>

namespace Wirelog {
namespace {

// Timed batches are stamped in microseconds.
constexpr double kMicrosecondTicksPerMs = 1000.0;
// One step's share of a module recording; a logic capture's is one block of its reader.
constexpr std::size_t kStepBytes = std::size_t{1} << 16;
// As much of a file's start as decides what it holds.
constexpr std::size_t kSniffBytes = 4096;

std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::string Head(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw RecordingError("it cannot be read");
    std::string head(kSniffBytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

// The capture readers name the file first; the window's message names it once already.
RecordingError Problem(const CaptureError& error, const std::filesystem::path& file) {
    const std::string text = error.what(), prefix = Utf8(file) + ": ";
    return RecordingError(text.starts_with(prefix) ? text.substr(prefix.size()) : text);
}

} // namespace

RecordingKind ProbeRecording(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        throw RecordingError("there is no such file, or it is not one that can be read");
    RecordingKind kind;
    if (LooksLikeTimedBatches(Head(file)))
        return kind;
    try {
        kind.channels = OpenCapture(Utf8(file))->Info().channels;
    } catch (const CaptureError& error) {
        throw Problem(error, file);
    }
    kind.logicCapture = true;
    kind.channelsNamed =
        FindChannelNamed(kind.channels, "SCL") && FindChannelNamed(kind.channels, "SDA");
    return kind;
}

RecordingLoader::RecordingLoader(const std::filesystem::path& file, const RecordingKind& kind,
                                 const std::string& scl, const std::string& sda)
    : file_(file) {
    double ticksPerMs = kMicrosecondTicksPerMs;
    if (kind.logicCapture) {
        try {
            capture_ =
                std::make_unique<CaptureMonitor>(CaptureSource{Utf8(file), "", scl, sda, {}});
        } catch (const CaptureError& error) {
            throw Problem(error, file);
        }
        ticksPerMs = static_cast<double>(capture_->SampleRate()) / 1000.0;
    } else {
        in_.open(file, std::ios::binary);
        std::error_code ec;
        size_ = std::filesystem::file_size(file, ec);
        if (!in_ || ec)
            throw RecordingError("it cannot be read");
        batches_ = std::make_unique<TimedBatchStream>([this](const TimedBatch& batch) {
            full_ = FrameBatch(batch.bytes.data(), batch.bytes.size(),
                               static_cast<std::int64_t>(batch.timeStamp), pending_) != 0;
            return !full_;
        });
    }
    div = ticksPerMs;
    ResetEventBuffer();
    ResetDecoder();
}

RecordingLoader::~RecordingLoader() = default;

bool RecordingLoader::Step(LogLines& lines) {
    bool more = false;
    if (batches_) {
        more = StepBatches();
    } else {
        std::vector<MonitorEvent> events;
        try {
            more = capture_->Next(events);
        } catch (const CaptureError& error) {
            throw Problem(error, file_);
        }
        for (const MonitorEvent& event : events) {
            const ModuleBytes module = ToModuleBytes(event);
            full_ = FrameBatch(module.bytes, module.count, static_cast<std::int64_t>(event.sample),
                               pending_) != 0 ||
                    full_;
        }
    }
    DrainEvents(lines);
    // A full buffer takes no more, as in a capture: the rest of the file is not read.
    return more && !full_;
}

bool RecordingLoader::StepBatches() {
    std::array<char, kStepBytes> block;
    in_.read(block.data(), block.size());
    const auto got = static_cast<std::size_t>(in_.gcount());
    read_ += got;
    if (in_.bad())
        throw RecordingError("it cannot be read");
    if (got != 0 && batches_->Feed({block.data(), got}))
        return true;
    if (got == 0)
        batches_->Finish();
    if (batches_->Failed())
        throw RecordingError(batches_->error().describe());
    return false;
}

double RecordingLoader::Progress() const {
    if (capture_)
        return capture_->Progress();
    return size_ == 0 ? 1.0
                      : std::min(1.0, static_cast<double>(read_) / static_cast<double>(size_));
}

} // namespace Wirelog
