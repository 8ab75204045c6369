// SPDX-License-Identifier: MIT
#include "cli/ProgressMeter.h"

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#include <io.h>
#define WIRELOG_ISATTY _isatty
#define WIRELOG_FILENO _fileno
#else
#include <unistd.h>
#define WIRELOG_ISATTY isatty
#define WIRELOG_FILENO fileno
#endif

namespace Wirelog::cli {
namespace {

constexpr double kQuietSeconds = 2.0;
constexpr double kRefreshSeconds = 0.25;

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ProgressMeter::ProgressMeter(std::FILE* to, bool show, Clock clock)
    : to_(to), show_(show), clock_(std::move(clock)), start_(show_ ? clock_() : 0) {}

ProgressMeter::~ProgressMeter() {
    if (shown_)
        std::fputc('\n', to_);
}

void ProgressMeter::Update(double fraction) {
    if (!show_)
        return;
    const double now = clock_();
    if (now - start_ < kQuietSeconds || now - lastShown_ < kRefreshSeconds)
        return;
    lastShown_ = now;
    shown_ = true;
    const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
    std::fprintf(to_, "\rwirelog-cli decode: %3d%%", percent);
    std::fflush(to_);
}

ProgressMeter StandardErrorProgress() {
    return ProgressMeter(stderr, WIRELOG_ISATTY(WIRELOG_FILENO(stderr)) != 0, SteadySeconds);
}

} // namespace Wirelog::cli
