// SPDX-License-Identifier: MIT
#include "busmonitor/CaptureMonitor.h"

#include "events/EventCodes.h"

#include <utility>

namespace Wirelog {
namespace {

std::unique_ptr<CaptureReader> OpenWithLines(const CaptureSource& source) {
    auto reader = OpenCapture(source.path, source.format);
    const CaptureInfo& info = reader->Info();
    reader->SelectChannels(ResolveChannel(info, source.scl, source.path),
                           ResolveChannel(info, source.sda, source.path));
    return reader;
}

} // namespace

CaptureMonitor::CaptureMonitor(const CaptureSource& source)
    : reader_(OpenWithLines(source)), monitor_(SampleRate(), source.monitor) {}

bool CaptureMonitor::Next(std::vector<MonitorEvent>& events) {
    events.clear();
    if (fault_)
        std::rethrow_exception(std::exchange(fault_, nullptr));
    if (finished_)
        return false;
    bool more = false;
    try {
        more = reader_->Read(changes_);
    } catch (const CaptureError&) {
        if (changes_.empty())
            throw;
        monitor_.Feed(changes_, events);
        fault_ = std::current_exception();
        return true;
    }
    if (more) {
        monitor_.Feed(changes_, events);
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
