// SPDX-License-Identifier: MIT
#include "busmonitor/BusMonitor.h"

#include "events/EventCodes.h"

#include <limits>

namespace Wirelog {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
    return (b != 0 && a > kMax / b) ? kMax : a * b;
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > kMax - b ? kMax : a + b;
}

} // namespace

std::uint64_t SamplesCovering(std::uint64_t amount, std::uint64_t unitsPerSecond,
                              std::uint64_t sampleRate) {
    // amount * sampleRate / unitsPerSecond, rounded up, without the product overflowing.
    const std::uint64_t whole = SaturatingMultiply(amount, sampleRate / unitsPerSecond);
    const std::uint64_t part = SaturatingMultiply(amount, sampleRate % unitsPerSecond);
    return SaturatingAdd(whole, part / unitsPerSecond + (part % unitsPerSecond != 0 ? 1 : 0));
}

// Holds each line's new level back until it has lasted `holdSamples`; a level that changes back
// sooner was a glitch and neither of its edges is passed on. Accepted changes keep the sample
// of their edge, so the monitor's stamps stay exact.
class GlitchFilter {
public:
    explicit GlitchFilter(std::uint64_t holdSamples) : hold_(holdSamples) {}

    void Apply(std::span<const BusLevels> changes, std::vector<BusLevels>& out) {
        out.clear();
        for (const BusLevels& change : changes) {
            if (!started_) {
                started_ = true;
                accepted_ = raw_ = change;
                out.push_back(change);
                continue;
            }
            Release(change.sample, out);
            Track(scl_, raw_.scl, change.scl, change.sample);
            Track(sda_, raw_.sda, change.sda, change.sample);
        }
    }

    // Passes on what has lasted long enough by `now`; returns the sample from which the
    // accepted levels are still open (a pending change may yet be accepted back to it).
    std::uint64_t Advance(std::uint64_t now, std::vector<BusLevels>& out) {
        out.clear();
        Release(now, out);
        std::uint64_t open = now;
        for (const Pending* pending : {&scl_, &sda_})
            if (pending->active && pending->sample < open)
                open = pending->sample;
        return open;
    }

    // A level still standing when the capture ends was never contradicted: it counts.
    void Finish(std::vector<BusLevels>& out) {
        out.clear();
        Release(kMax, out);
    }

private:
    struct Pending {
        std::uint64_t sample = 0;
        bool active = false; // the raw level differs from the accepted one since `sample`
    };

    void Track(Pending& pending, bool& rawLevel, bool level, std::uint64_t sample) {
        if (level == rawLevel)
            return;
        rawLevel = level;
        // Lines have two levels: a change while one is pending returns to the accepted level.
        pending.active = !pending.active;
        pending.sample = sample;
    }

    bool Due(const Pending& pending, std::uint64_t now) const {
        return pending.active && pending.sample <= now && now - pending.sample >= hold_;
    }

    // Passes on, in sample order, every pending level that has lasted long enough by `now`.
    void Release(std::uint64_t now, std::vector<BusLevels>& out) {
        while (Due(scl_, now) || Due(sda_, now)) {
            const bool takeScl = Due(scl_, now) && (!Due(sda_, now) || scl_.sample <= sda_.sample);
            const bool takeSda = Due(sda_, now) && (!Due(scl_, now) || sda_.sample <= scl_.sample);
            accepted_.sample = takeScl ? scl_.sample : sda_.sample;
            if (takeScl) {
                accepted_.scl = !accepted_.scl;
                scl_.active = false;
            }
            if (takeSda) {
                accepted_.sda = !accepted_.sda;
                sda_.active = false;
            }
            out.push_back(accepted_);
        }
    }

    std::uint64_t hold_;
    bool started_ = false;
    BusLevels accepted_{};
    BusLevels raw_{};
    Pending scl_;
    Pending sda_;
};

BusMonitor::BusMonitor(std::uint64_t sampleRate, const BusMonitorOptions& options)
    : idleSamples_(SamplesCovering(options.idleMicroseconds, 1'000'000, sampleRate)) {
    const std::uint64_t hold =
        SamplesCovering(options.glitchNanoseconds, 1'000'000'000, sampleRate);
    // Every level lasts at least one sample, so a hold of one sample filters nothing.
    if (hold > 1)
        filter_ = std::make_unique<GlitchFilter>(hold);
}

BusMonitor::~BusMonitor() = default;

void BusMonitor::Feed(std::span<const BusLevels> changes, std::vector<MonitorEvent>& out) {
    if (filter_) {
        filter_->Apply(changes, filtered_);
        Classify(filtered_, out);
    } else {
        Classify(changes, out);
    }
}

void BusMonitor::Advance(std::uint64_t settled, std::vector<MonitorEvent>& out) {
    if (filter_) {
        settled = filter_->Advance(settled, filtered_);
        Classify(filtered_, out);
    }
    if (started_)
        CheckIdleTime(settled, out);
}

void BusMonitor::Finish(std::uint64_t endSample, std::vector<MonitorEvent>& out) {
    if (filter_) {
        filter_->Finish(filtered_);
        Classify(filtered_, out);
    }
    if (started_)
        CheckIdleTime(endSample, out);
}

void BusMonitor::Classify(std::span<const BusLevels> changes, std::vector<MonitorEvent>& out) {
    if (changes.empty())
        return;
    if (!started_) {
        Begin(changes.front(), out);
        changes = changes.subspan(1);
    }
    for (const BusLevels& change : changes) {
        if (phase_ == Phase::Waiting) [[unlikely]]
            Wait(change, out);
        else
            Step(change, out);
    }
}

void BusMonitor::Begin(const BusLevels& first, std::vector<MonitorEvent>& out) {
    started_ = true;
    scl_ = first.scl;
    sda_ = first.sda;
    highSince_ = first.sample;
    out.push_back({first.sample, TWI_MONITOR_ON, 0});
}

// While waiting only an idle bus counts: the idle time reached, or a STOP.
void BusMonitor::Wait(const BusLevels& change, std::vector<MonitorEvent>& out) {
    CheckIdleTime(change.sample, out);
    if (phase_ != Phase::Waiting) {
        Step(change, out);
        return;
    }
    const bool wasHigh = scl_ && sda_;
    const bool stop = change.scl && change.sda && !sda_;
    scl_ = change.scl;
    sda_ = change.sda;
    if (stop)
        OnStop(change.sample, out);
    else if (!wasHigh && scl_ && sda_)
        highSince_ = change.sample;
}

// Runs once per level change of the whole capture, so the common case, a data bit counted at
// its SCL fall, is handled here and everything rarer out of line.
inline void BusMonitor::Step(const BusLevels& change, std::vector<MonitorEvent>& out) {
    const bool sdaEdge = change.sda != sda_;
    sda_ = change.sda;
    // In one sample SCL moves first and SDA is judged against SCL's new level: an SDA edge is
    // a START or STOP exactly when SCL is high in that sample.
    if (change.scl != scl_) {
        scl_ = change.scl;
        if (scl_) {
            sampled_ = sda_;
            haveSample_ = true;
        } else if (phase_ == Phase::Transfer && haveSample_ && bits_ < 8) {
            haveSample_ = false;
            byte_ = static_cast<std::uint8_t>(byte_ << 1 | (sampled_ ? 1 : 0));
            ++bits_;
        } else {
            OnSclFall(change.sample, out);
        }
    }
    if (sdaEdge && scl_) {
        if (sda_)
            OnStop(change.sample, out);
        else
            OnStart(change.sample, out);
    }
}

void BusMonitor::CheckIdleTime(std::uint64_t now, std::vector<MonitorEvent>& out) {
    if (phase_ != Phase::Waiting || !scl_ || !sda_ || now < highSince_ ||
        now - highSince_ < idleSamples_)
        return;
    out.push_back({highSince_ + idleSamples_, TWI_BUS_IDLE, 0});
    phase_ = Phase::Idle;
}

void BusMonitor::OnSclFall(std::uint64_t sample, std::vector<MonitorEvent>& out) {
    if (phase_ == Phase::Idle) {
        out.push_back({sample, TWI_MISSING_START, 0});
        phase_ = Phase::Ignoring;
        return;
    }
    // The fall after a START is no bit: only a fall with a rise before it counts one. (Step
    // counts the eight bits of a byte; the ninth, the ACK bit, comes here.)
    if (phase_ != Phase::Transfer || !haveSample_)
        return;
    haveSample_ = false;
    const bool nak = sampled_;
    if (afterNak_)
        out.push_back({sample, TWI_DATA_AFTER_NAK, 0});
    else if (addressByte_)
        out.push_back({sample, nak ? TWI_ADDR_NAK : TWI_ADDR_ACK, byte_});
    else
        out.push_back({sample, nak ? TWI_DATA_NAK : TWI_DATA_ACK, byte_});
    afterNak_ = afterNak_ || nak;
    addressByte_ = false;
    bits_ = 0;
    byte_ = 0;
}

void BusMonitor::OnStart(std::uint64_t sample, std::vector<MonitorEvent>& out) {
    switch (phase_) {
    case Phase::Waiting:
        return;
    case Phase::Idle:
    case Phase::Ignoring:
        out.push_back({sample, TWI_START, 0});
        break;
    case Phase::Transfer:
        if (bits_ == 0)
            out.push_back({sample, TWI_RESTART, 0});
        else if (bits_ < 8)
            out.push_back({sample, TWI_BAD_START, BitCountValue(bits_)});
        else
            out.push_back({sample, addressByte_ ? TWI_ADDR_RESTART : TWI_DATA_RESTART, byte_});
        break;
    }
    BeginTransfer();
}

void BusMonitor::OnStop(std::uint64_t sample, std::vector<MonitorEvent>& out) {
    switch (phase_) {
    case Phase::Waiting:
    case Phase::Ignoring:
        out.push_back({sample, TWI_BUS_IDLE, 0});
        break;
    case Phase::Idle:
        out.push_back({sample, TWI_BAD_STOP, BitCountValue(0)});
        break;
    case Phase::Transfer:
        if (bits_ == 0)
            out.push_back({sample, TWI_STOP, 0});
        else if (bits_ < 8)
            out.push_back({sample, TWI_BAD_STOP, BitCountValue(bits_)});
        else
            out.push_back({sample, addressByte_ ? TWI_ADDR_STOP : TWI_DATA_STOP, byte_});
        break;
    }
    phase_ = Phase::Idle;
}

void BusMonitor::BeginTransfer() {
    phase_ = Phase::Transfer;
    haveSample_ = false;
    bits_ = 0;
    byte_ = 0;
    addressByte_ = true;
    afterNak_ = false;
}

} // namespace Wirelog
