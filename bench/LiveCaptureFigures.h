// SPDX-License-Identifier: MIT
#pragma once
// What both live-capture benchmarks measure: when each event left the simulated module, and how
// long it took to reach the log, and the CPU time spent on it.
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace Wirelog::bench {

using Clock = std::chrono::steady_clock;

// Delays in 10 microsecond bins up to 2 s, the rest in the last bin.
class DelayHistogram {
public:
    void Add(Clock::duration delay) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(delay).count();
        const std::size_t bin = us <= 0 ? 0 : std::min<std::size_t>(us / 10, bins_.size() - 1);
        ++bins_[bin];
        ++count_;
        max_ = std::max(max_, delay);
    }
    double PercentileMs(double p) const {
        const auto wanted = static_cast<std::uint64_t>(p / 100.0 * static_cast<double>(count_));
        std::uint64_t seen = 0;
        for (std::size_t bin = 0; bin < bins_.size(); ++bin) {
            seen += bins_[bin];
            if (seen > wanted)
                return static_cast<double>(bin + 1) * 0.01;
        }
        return MaxMs();
    }
    double MaxMs() const { return std::chrono::duration<double, std::milli>(max_).count(); }
    std::uint64_t Count() const { return count_; }

private:
    std::vector<std::uint64_t> bins_ = std::vector<std::uint64_t>(200'000);
    std::uint64_t count_ = 0;
    Clock::duration max_{};
};

// Walks the logged records, in stream order, to the position of each event's last byte.
class EmissionClock {
public:
    EmissionClock(Clock::time_point start, std::uint64_t bytesPerSecond)
        : start_(start), rate_(bytesPerSecond) {}

    // Byte 0 is the code 0 sent at the start command; byte p after it is due (p - 1) / rate.
    Clock::time_point EmittedAt(std::uint8_t cmd) {
        position_ += cmd >= 7 && cmd <= 16 ? 2 : 1;
        const std::uint64_t last = position_ - 1;
        if (last == 0)
            return start_;
        const std::uint64_t k = last - 1;
        const std::uint64_t ns = k / rate_ * 1'000'000'000 + k % rate_ * 1'000'000'000 / rate_;
        return start_ + std::chrono::nanoseconds(ns);
    }

private:
    Clock::time_point start_;
    std::uint64_t rate_;
    std::uint64_t position_ = 0;
};

inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace Wirelog::bench
