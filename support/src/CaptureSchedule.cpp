// SPDX-License-Identifier: MIT
#include "CaptureSchedule.h"

#include <cstdio>
#include <limits>

namespace Wirelog::d2xx {
namespace {

// sample / rate seconds in nanoseconds, without the product overflowing; past some 292 years
// the stamp is held there (never due anyway).
std::int64_t SampleNanoseconds(std::uint64_t sample, std::uint64_t rate) {
    constexpr std::uint64_t kSecondNs = 1'000'000'000;
    constexpr std::uint64_t kLatest = std::numeric_limits<std::int64_t>::max();
    const std::uint64_t seconds = sample / rate;
    if (seconds >= kLatest / kSecondNs)
        return static_cast<std::int64_t>(kLatest);
    const auto part = static_cast<std::uint64_t>(static_cast<long double>(sample % rate) *
                                                 kSecondNs / static_cast<long double>(rate));
    return static_cast<std::int64_t>(seconds * kSecondNs + part);
}

} // namespace

CaptureSchedule::CaptureSchedule(const CaptureSource& source)
    : monitor_(source), sampleRate_(monitor_.SampleRate()) {}

bool CaptureSchedule::Next(std::uint8_t& byte, std::int64_t& dueNs) {
    if (nextByte_ == bytes_.count && !NextEvent())
        return false;
    byte = bytes_.bytes[nextByte_++];
    dueNs = dueNs_;
    return true;
}

bool CaptureSchedule::NextEvent() {
    try {
        while (nextEvent_ == events_.size()) {
            nextEvent_ = 0;
            if (!monitor_.Next(events_))
                return false;
        }
    } catch (const CaptureError& error) {
        // The file went bad after it was checked at start-up; the module's stream ends there.
        std::fprintf(stderr, "WIRELOG_SIM: %s; the replay ends here\n", error.what());
        events_.clear();
        return false;
    }
    const MonitorEvent& event = events_[nextEvent_++];
    bytes_ = ToModuleBytes(event);
    nextByte_ = 0;
    dueNs_ = SampleNanoseconds(event.sample, sampleRate_);
    return true;
}

} // namespace Wirelog::d2xx
