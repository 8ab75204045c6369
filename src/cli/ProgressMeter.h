// SPDX-License-Identifier: MIT
#pragma once
// A percentage on standard error for a long decode: shown only on a terminal and only once the
// work has taken 2 s, so scripts and short runs never see it.
#include <cstdio>
#include <functional>

namespace Wirelog::cli {

class ProgressMeter {
public:
    using Clock = std::function<double()>; // monotonic seconds

    // `show` false keeps the meter silent throughout.
    ProgressMeter(std::FILE* to, bool show, Clock clock);
    // Ends the shown line, so whatever follows starts on a line of its own.
    ~ProgressMeter();
    ProgressMeter(const ProgressMeter&) = delete;
    ProgressMeter& operator=(const ProgressMeter&) = delete;

    // `fraction` of the work is done (0 to 1).
    void Update(double fraction);

private:
    std::FILE* to_;
    bool show_;
    Clock clock_;
    double start_;
    double lastShown_ = -1;
    bool shown_ = false;
};

// The meter for standard error: shown when it is a terminal, timed by the steady clock.
ProgressMeter StandardErrorProgress();

} // namespace Wirelog::cli
