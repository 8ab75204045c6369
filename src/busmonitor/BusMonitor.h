// SPDX-License-Identifier: MIT
#pragma once
// The capture module's classification of the bus, in software: SCL/SDA level changes in, the
// module's event codes out, each stamped with the sample of the edge that decided it. The rules
// are written down in docs/busmonitor.md.
#include "busmonitor/CaptureReader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace Wirelog {

struct MonitorEvent {
    std::uint64_t sample; // the deciding edge, counted from the capture's first sample
    std::uint8_t code;    // an EventCode
    std::uint8_t value;   // the value byte of codes that take one, else 0
};

struct BusMonitorOptions {
    // How long SCL and SDA must both stay high before the monitor, waiting at the start, takes
    // the bus for idle.
    std::uint64_t idleMicroseconds = 100;
    // A line's new level counts only once it has held this long; 0 takes every change.
    std::uint64_t glitchNanoseconds = 0;
};

// Whole samples covering `amount` units of 1/unitsPerSecond at `sampleRate`, rounded up.
std::uint64_t SamplesCovering(std::uint64_t amount, std::uint64_t unitsPerSecond,
                              std::uint64_t sampleRate);

class GlitchFilter;

class BusMonitor {
public:
    BusMonitor(std::uint64_t sampleRate, const BusMonitorOptions& options = {});
    ~BusMonitor();
    BusMonitor(const BusMonitor&) = delete;
    BusMonitor& operator=(const BusMonitor&) = delete;

    // Classifies the next level changes (increasing samples; the very first entry gives the
    // levels at the capture's start) and appends the events they decide to `out`.
    void Feed(std::span<const BusLevels> changes, std::vector<MonitorEvent>& out);

    // Every level before `settled` has been fed: the events that time alone decides by then (the
    // idle time reached, a level the glitch filter has held long enough) are reported now, not
    // at the next change. A live stream calls it between blocks; it changes no event or stamp.
    void Advance(std::uint64_t settled, std::vector<MonitorEvent>& out);

    // The capture ends just before `endSample`: an idle time reached by then is reported, and a
    // level the glitch filter still holds back is passed on.
    void Finish(std::uint64_t endSample, std::vector<MonitorEvent>& out);

private:
    enum class Phase : std::uint8_t { Waiting, Idle, Ignoring, Transfer };

    void Classify(std::span<const BusLevels> changes, std::vector<MonitorEvent>& out);
    void Begin(const BusLevels& first, std::vector<MonitorEvent>& out);
    void Wait(const BusLevels& change, std::vector<MonitorEvent>& out);
    void Step(const BusLevels& change, std::vector<MonitorEvent>& out);
    void CheckIdleTime(std::uint64_t now, std::vector<MonitorEvent>& out);
    void OnSclFall(std::uint64_t sample, std::vector<MonitorEvent>& out);
    void OnStart(std::uint64_t sample, std::vector<MonitorEvent>& out);
    void OnStop(std::uint64_t sample, std::vector<MonitorEvent>& out);
    void BeginTransfer();

    std::uint64_t idleSamples_;
    std::unique_ptr<GlitchFilter> filter_; // null when off
    std::vector<BusLevels> filtered_;

    bool started_ = false;
    Phase phase_ = Phase::Waiting;
    bool scl_ = true;
    bool sda_ = true;
    std::uint64_t highSince_ = 0; // both lines high from this sample on (while waiting)

    // The byte being clocked in a transfer.
    bool sampled_ = false;     // SDA at the last SCL rise
    bool haveSample_ = false;  // an SCL rise since the last fall, START or STOP
    std::uint8_t bits_ = 0;    // bits counted, 8 once the byte is whole and its ACK bit is due
    std::uint8_t byte_ = 0;    // those bits, MSB first
    bool addressByte_ = false; // the first byte after a START
    bool afterNak_ = false;    // a NAK was seen since the last START
};

} // namespace Wirelog
