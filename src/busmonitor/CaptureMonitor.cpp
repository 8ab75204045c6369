// SPDX-License-Identifier: MIT
#include "busmonitor/CaptureMonitor.h"

#include "events/EventCodes.h"

namespace Wirelog {
namespace {

std::unique_ptr<CaptureReader> OpenWithLines(const CaptureSource& source,
                                             const BinarySource& binary) {
    auto reader = source.format == "binary"
                      ? OpenBinaryCapture(source.path, binary.layout, binary.stopRequested)
                      : OpenCapture(source.path, source.format);
    const CaptureInfo& info = reader->Info();
    // Raw samples are mostly piped in, and name their input as its readers do.
    const std::string name =
        source.format == "binary" && source.path == "-" ? "standard input" : source.path;
    reader->SelectChannels(ResolveChannel(info, source.scl, name),
                           ResolveChannel(info, source.sda, name));
    return reader;
}

} // namespace

CaptureMonitor::CaptureMonitor(const CaptureSource& source, const BinarySource& binary)
    : reader_(OpenWithLines(source, binary)), monitor_(SampleRate(), source.monitor) {}

bool CaptureMonitor::Next(std::vector<MonitorEvent>& events) {
    events.clear();
    if (finished_)
        return false;
    if (reader_->Read(changes_)) {
        monitor_.Feed(changes_, events);
        // A live stream's quiet spells decide events too (the idle time, a filtered edge).
        if (const std::uint64_t settled = reader_->SettledSample(); settled != 0)
            monitor_.Advance(settled, events);
    } else {
        monitor_.Finish(reader_->EndSample(), events);
        finished_ = true;
    }
    return true;
}

ModuleBytes ToModuleBytes(const MonitorEvent& event) {
    if (TakesValueByte(event.code))
        return {{event.code, event.value}, 2};
    return {{event.code, 0}, 1};
}

} // namespace Wirelog
